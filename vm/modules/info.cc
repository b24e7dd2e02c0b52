// The device information query: names and values are the daemon's, passed on as strings.
#include "info.h"

#include <glib.h>

#include "command.h"
#include "event_callback.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "own_property.h"
#include "script.h"

using net::zolvek::nusk::message::KeyValue;
using net::zolvek::nusk::message::NuskMsg;
using v8::FunctionCallbackInfo;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

void ConfigTobrelGet(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  if (!call.exactly(1, lastArgumentIsFunction)) return;
  g_message("ConfigTobrelGet");
  if (!call.interactive()) return;
  call.message().mutable_tobrelinfo_query();
  call.sendToLastFunction("INFO", InfoTobrelCallbackFunction);
}

bool InfoTobrelCallbackFunction(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_message("InfoTobrelCallbackFunction");
  if (!msg.has_tobrelinfo_response()) {
    g_message("InfoTobrelCallbackFunction: has_tobrelinfo_response false");
    return true;  // the information may still come under the same request
  }
  const auto& infos = msg.tobrelinfo_response().infos();
  Isolate* isolate = Isolate::GetCurrent();
  FreshContext fresh(isolate);
  Local<Object> info = Object::New(isolate);
  g_debug("InfoTobrelCallbackFunction has_tobrelinfo size : %d", infos.size());
  for (const KeyValue& pair : infos) {
    g_debug("tobrelinfo key : %s", pair.key().c_str());
    g_debug("tobrelinfo value : %s", pair.value().c_str());
    // Keys come from the daemon: "__proto__" must stay a plain property.
    setOwnText(isolate, info, pair.key().c_str(), pair.value().c_str());
  }
  Local<Value> argv[] = {info};
  callScriptFunction(isolate, record->function.Get(isolate), 1, argv);
  return false;
}
