// Hidden values: values that native code attaches to a script object under a name and that
// scripts can neither read nor enumerate (the social services keep their tokens in them).
#ifndef TOBREL_VM_CORE_HIDDEN_VALUE_H
#define TOBREL_VM_CORE_HIDDEN_VALUE_H

#include <v8.h>

#include <string>

// Sets `object`'s hidden value `name` in the current context.
void setHiddenValue(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* name, v8::Local<v8::Value> value);

// The hidden value `name` of `object`, or an empty handle when it has none.
v8::Local<v8::Value> hiddenValue(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* name);

// The hidden value `name` of `object` in the engine's ASCII form (one byte per character);
// false when the object has no such value or it is not a string.
bool hiddenText(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* name, std::string* out);

#endif
