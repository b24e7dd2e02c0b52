// Button presses for scripts: the listener pattern (listener.h) with the press type's name as
// the one argument. The call runs in whatever context is current; nothing is logged but the
// DEBUG line of a press without a known type.
#include "button.h"

#include <string>

#include "enum_name.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::ButtonCallback;
using net::zolvek::nusk::message::NuskMsg;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::HandleScope;
using v8::Local;
using v8::Value;

bool ButtonMsgCallback::onMessage(const NuskMsg& msg) {
  if (!msg.has_buttoncallback()) return true;
  HandleScope scope(isolate());
  const std::string type = enumName(msg.buttoncallback(), ButtonCallback::kTypeFieldNumber);
  Local<Value> argv[] = {newString(isolate(), type.c_str())};
  return call(1, argv);
}

void ButtonFunctionAddListener(const FunctionCallbackInfo<Value>& args) {
  addScriptListener(args, [](Local<Function> fn) -> NuskMsgListener* { return new ButtonMsgCallback(fn); });
}
