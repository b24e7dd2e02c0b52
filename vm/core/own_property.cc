// Helpers for objects built from native text.
#include "own_property.h"

v8::Local<v8::String> utf8String(v8::Isolate* isolate, const char* text) {
  v8::Local<v8::String> s;
  if (!v8::String::NewFromUtf8(isolate, text).ToLocal(&s)) return v8::String::Empty(isolate);
  return s;
}

bool setOwnProperty(v8::Isolate* isolate, v8::Local<v8::Object> target, const char* name,
                    v8::Local<v8::Value> value) {
  v8::Local<v8::String> key;
  if (!v8::String::NewFromUtf8(isolate, name).ToLocal(&key)) return false;
  return target->CreateDataProperty(isolate->GetCurrentContext(), key, value).FromMaybe(false);
}
