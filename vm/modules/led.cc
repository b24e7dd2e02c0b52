// The LED natives: each one call of the command pattern (command.h) that fills one member of
// the `led` sub-message. The colour is the script's text, unparsed; the daemon owns the units.
#include "led.h"

#include <glib.h>

#include <string>

#include "command.h"
#include "nusk-message.pb.h"

using net::zolvek::nusk::message::Led;
using v8::FunctionCallbackInfo;
using v8::Local;
using v8::Value;

void LedFunctionLight(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 1);
  std::string color;
  if (!call.ok() || !call.ascii(0, &color)) return;
  g_debug("LED Light: color[%s]", color.c_str());
  call.message().mutable_led()->mutable_light()->set_color(color);
  call.send("LED");
}

void LedFunctionFade(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 2);
  std::string color;
  int32_t period;
  if (!call.ok() || !call.ascii(0, &color) || !call.uint32(1, &period)) return;
  g_debug("LED Fade: color[%s] period[%d]", color.c_str(), period);
  Led::Fade* fade = call.message().mutable_led()->mutable_fade();
  fade->set_color(color);
  fade->set_period(period);
  call.send("LED");
}

void LedFunctionPulse(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 3);
  std::string color;
  int32_t period, pulse;
  if (!call.ok() || !call.ascii(0, &color) || !call.uint32(1, &period) || !call.uint32(2, &pulse)) return;
  g_debug("LED Pulse: color[%s] period[%d] pulse[%d]", color.c_str(), period, pulse);
  Led::Pulse* message = call.message().mutable_led()->mutable_pulse();
  message->set_color(color);
  message->set_period(period);
  message->set_pulse(pulse);
  call.send("LED");
}
