// Semantic XML to script objects: any text as a recognition's meaning, turned into properties
// of a fresh object. Every object made keeps its plain prototype whatever the element names
// are, the leaves hold no more text than the input could (no entity expansion), and the result
// survives JSON.stringify.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "fuzz_support.h"
#include "semantic.h"

namespace {

// Walks the objects that the conversion made (strings are leaves), adding up the leaves' length.
bool plainAll(tobrel_fuzz::ScriptHost& host, v8::Local<v8::Object> object, int depth, size_t* text) {
  if (!host.keepsPlainPrototype(object)) return false;
  if (depth > 64) return true;  // deep documents: the top levels are enough
  v8::Local<v8::Context> context = host.context();
  v8::Local<v8::Array> names = object->GetOwnPropertyNames(context).ToLocalChecked();
  for (uint32_t i = 0; i < names->Length(); ++i) {
    v8::Local<v8::Value> value = object->Get(context, names->Get(context, i).ToLocalChecked()).ToLocalChecked();
    if (value->IsObject() && !plainAll(host, value.As<v8::Object>(), depth + 1, text)) return false;
    if (!value->IsObject() && !value->IsString()) return false;
    if (value->IsString()) *text += static_cast<size_t>(value.As<v8::String>()->Length());
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::ScriptHost::initTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tobrel_fuzz::ScriptHost& host = tobrel_fuzz::ScriptHost::get();
  v8::Isolate* isolate = host.isolate();
  v8::HandleScope scope(isolate);
  // The text reaches the parser as a C string, as both callers hand it over.
  const std::string text(reinterpret_cast<const char*>(data), size);
  v8::Local<v8::Object> target = v8::Object::New(isolate);
  parseSemantic(isolate, text.c_str(), target);
  size_t leafText = 0;
  if (!plainAll(host, target, 0, &leafText)) abort();
  // Every leaf character comes from bytes of its own in the input (a declared encoding may
  // widen a little); far more means a reference was expanded.
  if (leafText > 4 * size + 64) abort();
  v8::TryCatch tryCatch(isolate);
  // Deep nesting may exceed the engine's stack in stringify: a thrown RangeError, not a crash.
  (void)v8::JSON::Stringify(host.context(), target);
  return 0;
}
