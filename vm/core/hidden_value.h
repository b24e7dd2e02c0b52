// Hidden values: named values that native code attaches to a script object and that scripts can
// neither read nor enumerate (the social services keep their tokens and secrets in them; the
// HTTP client's form builder reads "token"). One private key per name and isolate, so every
// native that names the same value reaches the same slot.
#ifndef TOBREL_VM_CORE_HIDDEN_VALUE_H
#define TOBREL_VM_CORE_HIDDEN_VALUE_H

#include <v8.h>

// Attaches `value` to `object` under `name`; false when the engine refused.
bool setHiddenValue(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* name,
                    v8::Local<v8::Value> value);

// The value attached under `name`, or false when there is none (never runs script code).
bool getHiddenValue(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* name,
                    v8::Local<v8::Value>* value);

#endif
