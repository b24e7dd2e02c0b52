// The `tts` module object of `tobrel`: asks the device to speak a text, or to stop speaking.
#ifndef TOBREL_VM_MODULES_TTS_H
#define TOBREL_VM_MODULES_TTS_H

#include <v8.h>

// tts.start(text), (text, fn), (text, lang), (text, lang, fn); (text, lang, x) with x not a
// function sends the text alone and binds nothing.
void TtsFunctionStart(const v8::FunctionCallbackInfo<v8::Value>& args);

// tts.stop([fn])
void TtsFunctionStop(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
