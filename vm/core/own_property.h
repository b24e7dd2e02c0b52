// Own properties of objects that native code builds for scripts from native text (file contents,
// XML element names), where a name must never reach an inherited setter.
#ifndef TOBREL_VM_CORE_OWN_PROPERTY_H
#define TOBREL_VM_CORE_OWN_PROPERTY_H

#include <v8.h>

// Sets an own data property in the current context. Unlike an assignment it never reaches an
// inherited setter, so a name such as "__proto__" from a file is kept as a value like any other.
bool setOwnProperty(v8::Isolate* isolate, v8::Local<v8::Object> target, const char* name,
                    v8::Local<v8::Value> value);

// setOwnProperty with a script string of `text` (newString, script.h: UTF-8 up to its first
// NUL), the own-property counterpart of setText.
bool setOwnText(v8::Isolate* isolate, v8::Local<v8::Object> target, const char* name, const char* text);

#endif
