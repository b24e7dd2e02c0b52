// RFID tags for scripts: the listener pattern (listener.h) with one object per tag event, whose
// properties follow the event's fields in a fixed order, each only when the event has it.
#include "rfid.h"

#include <glib.h>

#include <string>

#include "enum_name.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::RfidCallback;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::Integer;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

namespace {

// An enum property only for a value that the tag really has: no name means no property.
void setEnumText(Isolate* isolate, Local<Object> tag, const char* key, const RfidCallback& rfid, int field) {
  const std::string name = enumName(rfid, field);
  if (!name.empty()) setText(isolate, tag, key, name);
}

// Text fields end at their first zero byte and are read as UTF-8 (setText).
Local<Object> tagObject(Isolate* isolate, const RfidCallback& rfid) {
  Local<Object> tag = Object::New(isolate);
  setText(isolate, tag, "id", rfid.id());
  setEnumText(isolate, tag, "direction", rfid, RfidCallback::kDirectionFieldNumber);
  if (rfid.has_app()) setProperty(isolate, tag, "app", Integer::New(isolate, rfid.app()));
  setEnumText(isolate, tag, "type", rfid, RfidCallback::kTypeFieldNumber);
  if (rfid.has_pict()) setProperty(isolate, tag, "pict", Integer::New(isolate, rfid.pict()));
  setEnumText(isolate, tag, "color", rfid, RfidCallback::kColorFieldNumber);
  if (rfid.has_content()) setText(isolate, tag, "content", rfid.content());
  return tag;
}

}  // namespace

bool RfidMsgCallback::onMessage(const NuskMsg& msg) {
  if (!msg.has_rfidcallback()) return true;
  const RfidCallback& rfid = msg.rfidcallback();
  FreshContext fresh(isolate());
  g_message("RFID: RfidMsgCallback");
  g_message("RFID: RfidMsgCallback : %s", rfid.id().c_str());
  Local<Value> argv[] = {tagObject(isolate(), rfid)};
  return call(1, argv);
}

void RfidFunctionAddListener(const FunctionCallbackInfo<Value>& args) {
  addScriptListener(args, [](Local<Function> fn) -> NuskMsgListener* { return new RfidMsgCallback(fn); });
}
