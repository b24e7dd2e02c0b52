// The `led` module object of `tobrel`: three command natives that drive the device's
// multicolour LED through the message daemon.
#ifndef TOBREL_VM_MODULES_LED_H
#define TOBREL_VM_MODULES_LED_H

#include <v8.h>

// led.light(colour[, fn]), led.fade(colour, period[, fn]), led.pulse(colour, period, pulse[, fn])
void LedFunctionLight(const v8::FunctionCallbackInfo<v8::Value>& args);
void LedFunctionFade(const v8::FunctionCallbackInfo<v8::Value>& args);
void LedFunctionPulse(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
