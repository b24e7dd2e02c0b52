// The one shape of every script listener: `addListener` takes exactly one function, needs no
// interactive mode and sends nothing; the listener then calls that function for each message
// that carries its module's sub-message and stays registered only while it returns true.
#ifndef TOBREL_VM_CORE_LISTENER_H
#define TOBREL_VM_CORE_LISTENER_H

#include <v8.h>

#include "tobrel_data.h"

// Base of the module listeners (button, rfid, and later ears, multimedia, t2t): holds the
// script function for the listener's whole life and releases it when the list deletes it.
class ScriptListener : public NuskMsgListener {
 public:
  explicit ScriptListener(v8::Local<v8::Function> function);
  ~ScriptListener() override;

 protected:
  // Calls the function with itself as the receiver, in a handle scope of the caller's. True
  // only for boolean true; a throw is reported at WARNING and counts as false, so the list
  // drops the listener and the app goes on.
  bool call(int argc, v8::Local<v8::Value>* argv);

  v8::Isolate* isolate() const { return isolate_; }

 private:
  v8::Isolate* isolate_;
  v8::Global<v8::Function> fn_;
};

// Makes a module's listener around the script's function (the list owns it once added).
using ListenerMaker = NuskMsgListener* (*)(v8::Local<v8::Function> function);

// The body of every function-taking `addListener`: exactly one argument that is a function,
// else "Wrong arguments" and nothing is added; then the listener from `make` is appended to
// the app's list. Returns undefined.
void addScriptListener(const v8::FunctionCallbackInfo<v8::Value>& args, ListenerMaker make);

#endif
