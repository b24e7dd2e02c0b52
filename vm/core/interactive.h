// Interactive mode: tobrel.start asks the daemon for it with a START whose answer grants it
// (OK), ends the app (any other code) or grants nothing (no code); tobrel.stop gives it up.
#ifndef TOBREL_VM_CORE_INTERACTIVE_H
#define TOBREL_VM_CORE_INTERACTIVE_H

#include <v8.h>

#include <string>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

class TobrelData;

// The record of one START request: what to call once it is granted, under which id.
struct InteractiveData {
  // An empty `options` stays empty: the function is then called with no argument.
  InteractiveData(const char* id, TobrelData* app, v8::Local<v8::Function> function,
                  v8::Local<v8::Object> options);
  InteractiveData(const InteractiveData&) = delete;
  InteractiveData& operator=(const InteractiveData&) = delete;
  ~InteractiveData();

  // Calls `function` with itself as the receiver and `options` (if any) as its one argument.
  void callFunction();

  v8::Global<v8::Function> function;
  v8::Global<v8::Object> options;
  TobrelData* app;
  std::string interactiveId;
};

// The registry's release hook for an InteractiveData.
void releaseInteractiveData(void* data);

// The reply handler of a START: acts on the first answer and is then done.
bool InteractiveCallback(void* data, const net::zolvek::nusk::message::NuskMsg& msg);

// tobrel.start(function[, options[, interactiveId]]) and tobrel.stop()
void InteractiveFunctionStart(const v8::FunctionCallbackInfo<v8::Value>& args);
void InteractiveFunctionStop(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
