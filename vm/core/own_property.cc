// Helpers for objects built from native text.
#include "own_property.h"

#include "script.h"

bool setOwnProperty(v8::Isolate* isolate, v8::Local<v8::Object> target, const char* name,
                    v8::Local<v8::Value> value) {
  v8::Local<v8::String> key;
  if (!v8::String::NewFromUtf8(isolate, name).ToLocal(&key)) return false;
  return target->CreateDataProperty(isolate->GetCurrentContext(), key, value).FromMaybe(false);
}

bool setOwnText(v8::Isolate* isolate, v8::Local<v8::Object> target, const char* name, const char* text) {
  return setOwnProperty(isolate, target, name, newString(isolate, text));
}
