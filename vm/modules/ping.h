// `ping`, a global function and a method of `tobrel` that needs no access word.
#ifndef TOBREL_VM_MODULES_PING_H
#define TOBREL_VM_MODULES_PING_H

#include <v8.h>

// ping([fn]): an empty `ping` request, which the daemon answers.
void PingFunction(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
