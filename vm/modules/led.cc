// The LED natives: each one call of the command pattern (command.h) that fills one member of
// a `Led` sub-message. The colour is the script's text, unparsed; the daemon owns the units.
#include "led.h"

#include <glib.h>

#include <string>

#include "command.h"
#include "nusk-message.pb.h"

using net::zolvek::nusk::message::Led;
using net::zolvek::nusk::message::NuskMsg;
using v8::FunctionCallbackInfo;
using v8::Value;

namespace {

const LedTarget kDeviceLed = {[](NuskMsg& msg) { return msg.mutable_led(); }, "LED"};

}  // namespace

void ledLight(const FunctionCallbackInfo<Value>& args, const LedTarget& target) {
  CommandCall call(args, 1);
  std::string color;
  if (!call.ok() || !call.ascii(0, &color)) return;
  g_debug("LED Light: color[%s]", color.c_str());
  target.led(call.message())->mutable_light()->set_color(color);
  call.send(target.callbackName);
}

void ledFade(const FunctionCallbackInfo<Value>& args, const LedTarget& target) {
  CommandCall call(args, 2);
  std::string color;
  int32_t period;
  if (!call.ok() || !call.ascii(0, &color) || !call.uint32(1, &period)) return;
  g_debug("LED Fade: color[%s] period[%d]", color.c_str(), period);
  Led::Fade* fade = target.led(call.message())->mutable_fade();
  fade->set_color(color);
  fade->set_period(period);
  call.send(target.callbackName);
}

void ledPulse(const FunctionCallbackInfo<Value>& args, const LedTarget& target) {
  CommandCall call(args, 3);
  std::string color;
  int32_t period, pulse;
  if (!call.ok() || !call.ascii(0, &color) || !call.uint32(1, &period) || !call.uint32(2, &pulse)) return;
  g_debug("LED Pulse: color[%s] period[%d] pulse[%d]", color.c_str(), period, pulse);
  Led::Pulse* message = target.led(call.message())->mutable_pulse();
  message->set_color(color);
  message->set_period(period);
  message->set_pulse(pulse);
  call.send(target.callbackName);
}

void LedFunctionLight(const FunctionCallbackInfo<Value>& args) { ledLight(args, kDeviceLed); }

void LedFunctionFade(const FunctionCallbackInfo<Value>& args) { ledFade(args, kDeviceLed); }

void LedFunctionPulse(const FunctionCallbackInfo<Value>& args) { ledPulse(args, kDeviceLed); }
