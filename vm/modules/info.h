// tobrel.info, on every app: the device's information as one object of string pairs.
#ifndef TOBREL_VM_MODULES_INFO_H
#define TOBREL_VM_MODULES_INFO_H

#include <v8.h>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

// tobrel.info(fn): fn gets {key: value, ...} in the daemon's order, a later key winning.
void ConfigTobrelGet(const v8::FunctionCallbackInfo<v8::Value>& args);

// One-shot reply handler over an EventCallbackData: waits (true) until a message carries the
// information, then calls the function once and is done (false).
bool InfoTobrelCallbackFunction(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

#endif
