// The `button` module object of `tobrel`: addListener for the device's button presses.
#ifndef TOBREL_VM_MODULES_BUTTON_H
#define TOBREL_VM_MODULES_BUTTON_H

#include <v8.h>

#include "listener.h"

// Calls its function with the press type's name ("SIMPLE", "DOUBLE", ... "LONG_STOP").
class ButtonMsgCallback : public ScriptListener {
 public:
  using ScriptListener::ScriptListener;
  bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) override;
};

// button.addListener(fn)
void ButtonFunctionAddListener(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
