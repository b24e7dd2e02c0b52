// Small helpers for objects that native code builds from native text for scripts.
#ifndef TOBREL_VM_CORE_OWN_PROPERTY_H
#define TOBREL_VM_CORE_OWN_PROPERTY_H

#include <v8.h>

// A script string of a native text read as UTF-8 up to its first NUL; empty if it cannot be made.
v8::Local<v8::String> utf8String(v8::Isolate* isolate, const char* text);

// Sets an own data property in the current context. Unlike an assignment it never reaches an
// inherited setter, so a name such as "__proto__" from a file is kept as a value like any other.
bool setOwnProperty(v8::Isolate* isolate, v8::Local<v8::Object> target, const char* name,
                    v8::Local<v8::Value> value);

#endif
