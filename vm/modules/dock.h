// The `dock` module object of `tobrel`: the motorised dock's moves, and its own LED driven by
// the LED module's bodies on the request's `dock.led`.
#ifndef TOBREL_VM_MODULES_DOCK_H
#define TOBREL_VM_MODULES_DOCK_H

#include <v8.h>

// dock.light(colour[, fn]), dock.fade(colour, period[, fn]), dock.pulse(colour, period, pulse[, fn])
void DockFunctionLight(const v8::FunctionCallbackInfo<v8::Value>& args);
void DockFunctionFade(const v8::FunctionCallbackInfo<v8::Value>& args);
void DockFunctionPulse(const v8::FunctionCallbackInfo<v8::Value>& args);

// dock.move(direction[, time[, fn]]): direction one of "LEFT", "RIGHT", "UP", "DOWN", "STOP".
void DockFunctionMove(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
