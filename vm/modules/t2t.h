// The `t2t` module object of `tobrel`: device-to-device voice calls through the message daemon
// (the calling account, call, answer, hang up) and the call events.
#ifndef TOBREL_VM_MODULES_T2T_H
#define TOBREL_VM_MODULES_T2T_H

#include <v8.h>

#include "listener.h"

// Calls its function with one object {type, correspondant} per call event, built in a fresh
// context.
class T2tMsgCallback : public ScriptListener {
 public:
  using ScriptListener::ScriptListener;
  bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) override;
};

// t2t.call(address), t2t.answer(accept), t2t.hangup(),
// t2t.account(sipId, sipDomain, sipPassword, stunServer), t2t.addListener(fn)
void T2tFunctionCall(const v8::FunctionCallbackInfo<v8::Value>& args);
void T2tFunctionAnswer(const v8::FunctionCallbackInfo<v8::Value>& args);
void T2tFunctionHangup(const v8::FunctionCallbackInfo<v8::Value>& args);
void T2tFunctionAccount(const v8::FunctionCallbackInfo<v8::Value>& args);
void T2tFunctionAddListener(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
