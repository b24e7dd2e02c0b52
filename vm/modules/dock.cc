// The dock natives: its LED is the LED module's in every respect but the target sub-message
// and the callback name; `move` picks its shape by the argument count and names a direction.
#include "dock.h"

#include <string>

#include "command.h"
#include "led.h"
#include "nusk-message.pb.h"

using net::zolvek::nusk::message::Dock;
using net::zolvek::nusk::message::NuskMsg;
using v8::FunctionCallbackInfo;
using v8::Value;

namespace {

const LedTarget kDockLed = {[](NuskMsg& msg) { return msg.mutable_dock()->mutable_led(); }, "DOCKLED"};

// The direction words, compared exactly (case matters).
const struct {
  const char* word;
  Dock::Type type;
} kDirections[] = {
    {"LEFT", Dock::LEFT}, {"RIGHT", Dock::RIGHT}, {"UP", Dock::UP}, {"DOWN", Dock::DOWN}, {"STOP", Dock::STOP},
};

// A direction string, then, when given, a number; a number written as a string is not one.
bool directionAndTime(const FunctionCallbackInfo<Value>& args) {
  return args[0]->IsString() && (args.Length() < 2 || args[1]->IsNumber());
}

}  // namespace

void DockFunctionLight(const FunctionCallbackInfo<Value>& args) { ledLight(args, kDockLed); }

void DockFunctionFade(const FunctionCallbackInfo<Value>& args) { ledFade(args, kDockLed); }

void DockFunctionPulse(const FunctionCallbackInfo<Value>& args) { ledPulse(args, kDockLed); }

void DockFunctionMove(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  // (direction), (direction, time) or (direction, time, fn): the last binds the function.
  const bool shaped = args.Length() == 1 ? call.exactly(1, directionAndTime) : call.shape(2, directionAndTime);
  std::string word;
  if (!shaped || !call.interactive() || !call.ascii(0, &word)) return;
  const Dock::Type* type = nullptr;
  for (const auto& direction : kDirections)
    if (word == direction.word) type = &direction.type;
  if (!call.require(type != nullptr, "Wrong 1st arguments")) return;
  int32_t time = 0;
  if (args.Length() >= 2 && !call.uint32(1, &time)) return;
  Dock::Move* move = call.message().mutable_dock()->mutable_move();
  move->set_cmd(*type);
  move->set_time(time);
  call.send("DOCKMOVE");
}
