// The ear natives: moves on the command pattern (command.h), the three resets on one body that
// tests interactive mode first, their reply handler, and the ears listener (listener.h).
#include "ears.h"

#include <glib.h>

#include "command.h"
#include "enum_name.h"
#include "event_callback.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::Ears;
using net::zolvek::nusk::message::EarsCallback;
using net::zolvek::nusk::message::Event;
using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::Response;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::HandleScope;
using v8::Integer;
using v8::Isolate;
using v8::Local;
using v8::Value;

namespace {

// Each side's ToInt32 unless its argument is null: undefined and NaN give 0, not "left out".
void sendEarsMove(const FunctionCallbackInfo<Value>& args, bool relative) {
  CommandCall call(args, 2);
  if (!call.ok()) return;
  int32_t sides[2] = {0, 0};
  for (int i = 0; i < 2; ++i)
    if (!args[i]->IsNull() && !call.int32(i, &sides[i])) return;
  Ears* ears = call.message().mutable_ears();
  if (!args[0]->IsNull()) ears->set_left(sides[0]);
  if (!args[1]->IsNull()) ears->set_right(sides[1]);
  if (relative) ears->set_relative(true);
  call.send("EARS");
}

enum class Side { kBoth, kRight, kLeft };

// In a reset request left and right carry 1 to name the ear, not a position.
void sendEarsReset(const FunctionCallbackInfo<Value>& args, Side side) {
  CommandCall call(args, 0, nullptr, CommandCall::Order::kInteractiveFirst);
  if (!call.ok()) return;
  Ears* ears = call.message().mutable_ears();
  ears->set_reset(true);
  if (side != Side::kLeft) ears->set_right(1);
  if (side != Side::kRight) ears->set_left(1);
  call.send("EARS", EarsResetCallback);
}

// The event's code when the message has one; else the response's ("OK" for a response without
// a code, the schema's default); else the empty text. A code that the schema does not name is
// the empty text too, never the default.
std::string resetCode(const NuskMsg& msg) {
  if (msg.has_event()) return enumName(msg.event(), Event::kCodeFieldNumber);
  if (msg.has_response()) return enumName(msg.response(), Response::kCodeFieldNumber, "OK");
  return "";
}

}  // namespace

void EarsFunctionMove(const FunctionCallbackInfo<Value>& args) { sendEarsMove(args, false); }

void EarsFunctionMoveRelative(const FunctionCallbackInfo<Value>& args) { sendEarsMove(args, true); }

void EarsFunctionReset(const FunctionCallbackInfo<Value>& args) { sendEarsReset(args, Side::kBoth); }

void EarsFunctionResetRight(const FunctionCallbackInfo<Value>& args) { sendEarsReset(args, Side::kRight); }

void EarsFunctionResetLeft(const FunctionCallbackInfo<Value>& args) { sendEarsReset(args, Side::kLeft); }

bool EarsResetCallback(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_message("EarsResetCallback");
  Isolate* isolate = Isolate::GetCurrent();
  FreshContext fresh(isolate);
  const Ears& ears = msg.ears();  // the default instance when absent: 0 and 0
  Local<Value> argv[] = {newString(isolate, resetCode(msg).c_str()), Integer::New(isolate, ears.left()),
                         Integer::New(isolate, ears.right())};
  callScriptFunction(isolate, record->function.Get(isolate), 3, argv);
  return true;
}

bool EarsMsgCallback::onMessage(const NuskMsg& msg) {
  if (!msg.has_earscallback()) return true;
  const EarsCallback& event = msg.earscallback();
  HandleScope scope(isolate());
  Local<Value> argv[] = {newString(isolate(), enumName(event, EarsCallback::kTypeFieldNumber).c_str()),
                         Integer::New(isolate(), event.step()), Integer::New(isolate(), event.length())};
  return call(3, argv);
}

void EarsFunctionAddListener(const FunctionCallbackInfo<Value>& args) {
  addScriptListener(args, [](Local<Function> fn) -> NuskMsgListener* { return new EarsMsgCallback(fn); });
}
