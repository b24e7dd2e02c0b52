// The `led` module object of `tobrel`: three command natives that drive the device's
// multicolour LED through the message daemon. The dock's LED takes the same three bodies with
// another target sub-message and callback name.
#ifndef TOBREL_VM_MODULES_LED_H
#define TOBREL_VM_MODULES_LED_H

#include <v8.h>

namespace net::zolvek::nusk::message {
class Led;
class NuskMsg;
}  // namespace net::zolvek::nusk::message

// Which `Led` sub-message of the request a LED body fills, and the name of its callback record.
struct LedTarget {
  net::zolvek::nusk::message::Led* (*led)(net::zolvek::nusk::message::NuskMsg& msg);
  const char* callbackName;
};

// light(colour[, fn]), fade(colour, period[, fn]), pulse(colour, period, pulse[, fn]) on `target`.
void ledLight(const v8::FunctionCallbackInfo<v8::Value>& args, const LedTarget& target);
void ledFade(const v8::FunctionCallbackInfo<v8::Value>& args, const LedTarget& target);
void ledPulse(const v8::FunctionCallbackInfo<v8::Value>& args, const LedTarget& target);

// led.light, led.fade, led.pulse: the bodies above on the request's `led`, named "LED".
void LedFunctionLight(const v8::FunctionCallbackInfo<v8::Value>& args);
void LedFunctionFade(const v8::FunctionCallbackInfo<v8::Value>& args);
void LedFunctionPulse(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
