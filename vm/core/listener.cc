// The listener pattern shared by every module's addListener (see listener.h).
#include "listener.h"

#include "script.h"

using v8::Function;
using v8::FunctionCallbackInfo;
using v8::Isolate;
using v8::Local;
using v8::Value;

ScriptListener::ScriptListener(Local<Function> function)
    : isolate_(Isolate::GetCurrent()), fn_(isolate_, function) {}

ScriptListener::~ScriptListener() { fn_.Reset(); }

bool ScriptListener::call(int argc, Local<Value>* argv) {
  return callScriptFunction(isolate_, fn_.Get(isolate_), argc, argv);
}

void addScriptListener(const FunctionCallbackInfo<Value>& args, ListenerMaker make) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 1 || !args[0]->IsFunction()) {
    throwText(isolate, "Wrong arguments");
    return;
  }
  appData(isolate)->addListener(make(args[0].As<Function>()));
}
