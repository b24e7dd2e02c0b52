// The `params` object: the app's configuration from config.bin, one object per configured
// instance and, when there are any, the app-wide parameters under "descriptor".
#ifndef TOBREL_VM_CORE_PARAMS_H
#define TOBREL_VM_CORE_PARAMS_H

#include <v8.h>

// Needs an entered context. A missing or unreadable file gives an empty object and a WARNING.
v8::Local<v8::Object> loadParams(v8::Isolate* isolate, const char* path);

#endif
