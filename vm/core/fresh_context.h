// The handlers that build objects for a script (recognition results, contacts, message lists,
// device information, photo and recording objects, tag and call events, the ear resets) make
// them in a new, empty context, call the script's function and dispose of the context. This is
// that sequence, once:
//
//   FreshContext fresh(isolate);                 // scope, new context, entered
//   Local<Value> argv[] = {tagObject(isolate, rfid)};
//   return callScriptFunction(isolate, fn, 1, argv);
//
// The context goes with the object's scope on every path, a throwing function included.
#ifndef TOBREL_VM_CORE_FRESH_CONTEXT_H
#define TOBREL_VM_CORE_FRESH_CONTEXT_H

#include <v8.h>

class FreshContext {
 public:
  explicit FreshContext(v8::Isolate* isolate)
      : scope_(isolate), context_(v8::Context::New(isolate)), enter_(context_) {}
  FreshContext(const FreshContext&) = delete;
  FreshContext& operator=(const FreshContext&) = delete;

  v8::Local<v8::Context> context() const { return context_; }

 private:
  v8::HandleScope scope_;  // first: the context's handle lives in it
  v8::Local<v8::Context> context_;
  v8::Context::Scope enter_;
};

#endif
