// The `asr` module object of `tobrel`: asks the device to listen for speech matching a grammar
// and hands the script the first recognition, its semantic XML turned into properties.
#ifndef TOBREL_VM_MODULES_ASR_H
#define TOBREL_VM_MODULES_ASR_H

#include <v8.h>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

// asr.string(grammar, lang, fn): one recognition request; fn gets the result object.
void AsrFunctionString(const v8::FunctionCallbackInfo<v8::Value>& args);
// asr.file(path[, fn]): checks and logs the grammar file's path only; sends nothing.
void AsrFunctionFile(const v8::FunctionCallbackInfo<v8::Value>& args);

// One-shot reply handler over an EventCallbackData: waits (true) while a message carries no
// recognition result, then calls the function once and is done (false).
bool AsrCallbackFunction(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

#endif
