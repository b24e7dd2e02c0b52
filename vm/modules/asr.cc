// Speech recognition for scripts: the request is a command with a required function, and the
// answer comes later as an asrCallback under the request's id, after any number of plain
// responses, which are only logged.
#include "asr.h"

#include <glib.h>

#include <string>

#include "command.h"
#include "event_callback.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "semantic.h"

using net::zolvek::nusk::message::AsrCallback;
using net::zolvek::nusk::message::NuskMsg;
using v8::FunctionCallbackInfo;
using v8::Integer;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

namespace {

void logResponse(const NuskMsg& msg) {
  if (!msg.has_response()) {
    g_message("ASR: AsrCallback: has_response false");
    return;
  }
  if (!msg.response().has_code()) return;
  if (msg.response().code() == net::zolvek::nusk::message::OK) g_message("ASR: AsrCallback: response : OK");
  if (msg.response().code() == net::zolvek::nusk::message::ERROR) g_message("ASR: AsrCallback: response : ERROR");
}

void logRecognition(const AsrCallback::Recognition& first) {
  if (first.has_text()) {
    g_message("ASR: AsrCallback: text : %s", first.text().c_str());
  } else {
    g_message("ASR: AsrCallback: recognition(0).has_text() false");
  }
  if (first.has_confident()) {
    g_message("ASR: AsrCallback: confident : %d", first.confident());
  } else {
    g_message("ASR: AsrCallback: recognition(0).has_confident() false");
  }
  if (first.has_semantic()) {
    g_message("ASR: AsrCallback: semantic : %s", first.semantic().c_str());
    g_message("ASR: AsrCallback: semantic size : %d", static_cast<int>(first.semantic().size()));
  } else {
    g_message("ASR: AsrCallback: recognition(0).has_semantic() false");
  }
}

}  // namespace

void AsrFunctionString(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  std::string grammar, lang;
  if (!call.exactly(3, lastArgumentIsFunction) || !call.interactive() || !call.utf8(0, &grammar) ||
      !call.utf8(1, &lang)) {
    return;
  }
  g_message("ASR: grammar[%s]", grammar.c_str());
  net::zolvek::nusk::message::Asr* asr = call.message().mutable_asr();
  asr->add_dictionary(grammar);
  asr->set_lang(lang);
  call.sendToLastFunction("ASR", AsrCallbackFunction);
}

void AsrFunctionFile(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  std::string path;
  if (!call.shape(1) || !call.utf8(0, &path) || !appPathAllowed(args.GetIsolate(), args[0], path)) return;
  // Nothing is recognised from a file: the path is checked and logged only.
  g_message("ASR: grammarFile[%s]", path.c_str());
}

bool AsrCallbackFunction(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_message("ASR: AsrCallback");
  logResponse(msg);
  if (!msg.has_asrcallback()) {
    g_message("ASR: AsrCallback: has_asrcallback false");
    g_message("ASR: AsrCallback end");
    return true;  // a plain response: the result is still to come
  }
  const AsrCallback& result = msg.asrcallback();
  g_message("ASR: AsrCallback: has_asrcallback true. recognition_size: %d", result.recognition_size());
  // Without a recognition the script still hears once, with the schema's defaults, so its wait
  // ends; nothing past the list is read.
  const AsrCallback::Recognition& first =
      result.recognition_size() > 0 ? result.recognition(0) : AsrCallback::Recognition::default_instance();
  if (result.recognition_size() > 0) {
    logRecognition(first);
  } else {
    g_message("ASR: AsrCallback: recognition_size = 0");
  }
  Isolate* isolate = Isolate::GetCurrent();
  FreshContext fresh(isolate);
  Local<Object> object = Object::New(isolate);
  if (result.recognition_size() > 0) parseSemantic(isolate, first.semantic().c_str(), object);
  setText(isolate, object, "text", first.text());
  setProperty(isolate, object, "confident", Integer::New(isolate, first.confident()));
  Local<Value> argv[] = {object};
  callScriptFunction(isolate, record->function.Get(isolate), 1, argv);
  return false;
}
