// The `rfid` module object of `tobrel`: addListener for tags brought to or taken from the reader.
#ifndef TOBREL_VM_MODULES_RFID_H
#define TOBREL_VM_MODULES_RFID_H

#include <v8.h>

#include "listener.h"

// Calls its function with one plain object describing the tag, built in a fresh context.
class RfidMsgCallback : public ScriptListener {
 public:
  using ScriptListener::ScriptListener;
  bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) override;
};

// rfid.addListener(fn)
void RfidFunctionAddListener(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
