// The `ears` module object of `tobrel`: moves and resets of the two motorised ears, and a
// listener for their movements.
#ifndef TOBREL_VM_MODULES_EARS_H
#define TOBREL_VM_MODULES_EARS_H

#include <v8.h>

#include "listener.h"

// Calls its function with the movement's type name ("START_LEFT", ... "BLOCKED_RIGHT"), then its
// step and length as numbers (0 when absent). The call runs in whatever context is current.
class EarsMsgCallback : public ScriptListener {
 public:
  using ScriptListener::ScriptListener;
  bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) override;
};

// ears.move(left, right[, fn]) and ears.moveRelative(left, right[, fn]); null leaves a side out.
void EarsFunctionMove(const v8::FunctionCallbackInfo<v8::Value>& args);
void EarsFunctionMoveRelative(const v8::FunctionCallbackInfo<v8::Value>& args);

// ears.reset([fn]), ears.resetRight([fn]), ears.resetLeft([fn]): interactive mode is tested
// before the arguments. The function hears (code name, left, right) for every later message.
void EarsFunctionReset(const v8::FunctionCallbackInfo<v8::Value>& args);
void EarsFunctionResetRight(const v8::FunctionCallbackInfo<v8::Value>& args);
void EarsFunctionResetLeft(const v8::FunctionCallbackInfo<v8::Value>& args);

// The reply handler of the resets; it stays registered for every message of its request.
bool EarsResetCallback(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

// ears.addListener(fn)
void EarsFunctionAddListener(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
