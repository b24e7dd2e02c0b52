// The generic reply handler and its photo and recording variants, over the named record that a
// command native makes when the script passes a function.
#include "event_callback.h"

#include <glib.h>

#include "callback_registry.h"
#include "data_resource.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::VReturnCode;
using net::zolvek::nusk::message::VReturnCode_Name;
using v8::Function;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

const char* const kPicturePath = "/tmp/picture.jpg";
const char* const kRecordPath = "/tmp/record.flac";

// The code's name. The parser keeps a number the schema does not know among the unknown
// fields, so every code that reaches a handler has one.
std::string codeName(int code) { return VReturnCode_Name(static_cast<VReturnCode>(code)); }

namespace {

// The photo and recording handlers: objects built in a fresh context of their own.
void callWithFileObjects(EventCallbackData* record, const NuskMsg& msg, const char* path,
                         const char* responseLog, const char* eventLog) {
  Isolate* isolate = Isolate::GetCurrent();
  HandleScope scope(isolate);
  Local<Function> function = record->function.Get(isolate);
  if (msg.has_response()) {
    g_debug("%s", responseLog);
    FreshContext fresh(isolate);
    Local<Object> response = Object::New(isolate);
    if (msg.response().has_code()) setText(isolate, response, "type", codeName(msg.response().code()));
    Local<Value> argv[] = {response};
    callScriptFunction(isolate, function, 1, argv);
  }
  if (msg.has_event()) {
    g_debug("%s", eventLog);
    FreshContext fresh(isolate);
    Local<Object> event = Object::New(isolate);
    if (msg.event().has_code()) setText(isolate, event, "type", codeName(msg.event().code()));
    if (msg.event().has_description()) setText(isolate, event, "description", msg.event().description());
    setProperty(isolate, event, "data", newFileObject(isolate, path, false));
    Local<Value> argv[] = {event};
    callScriptFunction(isolate, function, 1, argv);
  }
}

}  // namespace

EventCallbackData::EventCallbackData(const char* name, Local<Function> function)
    : function(Isolate::GetCurrent(), function), name(name) {}

void releaseEventCallbackData(void* record) { delete static_cast<EventCallbackData*>(record); }

void callEventFunction(EventCallbackData* record, int code) {
  Isolate* isolate = Isolate::GetCurrent();
  HandleScope scope(isolate);
  Local<Value> argv[] = {newString(isolate, codeName(code).c_str())};
  callScriptFunction(isolate, record->function.Get(isolate), 1, argv);
}

bool EventCallback(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_debug("Event: %s", record->name.c_str());
  if (msg.has_response() && msg.response().has_code()) {
    g_debug("calling response function");
    callEventFunction(record, msg.response().code());
  }
  if (msg.has_event() && msg.event().has_code()) {
    g_debug("calling event function");
    callEventFunction(record, msg.event().code());
  }
  return true;
}

bool EventCallbackWebcam(void* raw, const NuskMsg& msg) {
  g_debug("EventCallbackWebcam Webcam");
  callWithFileObjects(static_cast<EventCallbackData*>(raw), msg, kPicturePath, "has_response Webcam",
                      "has_event Webcam");
  return true;
}

bool EventCallbackRecord(void* raw, const NuskMsg& msg) {
  callWithFileObjects(static_cast<EventCallbackData*>(raw), msg, kRecordPath, "has_response", "has_event");
  return true;
}

CallbackHandler* newEventCallbackHandler(bool (*handler)(void*, const NuskMsg&), const char* name,
                                         Local<Function> function, Local<Value> argument,
                                         Local<v8::Context> context) {
  auto* record = new EventCallbackData(name, function);
  Isolate* isolate = Isolate::GetCurrent();
  if (!argument.IsEmpty()) record->argument.Reset(isolate, argument);
  if (!context.IsEmpty()) record->context.Reset(isolate, context);
  return new CallbackHandler(handler, record, releaseEventCallbackData);
}
