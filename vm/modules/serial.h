// The `serial` module object of `tobrel`: opens and writes the device's serial ports through
// the message daemon, and hands the lines it reads to listener objects.
#ifndef TOBREL_VM_MODULES_SERIAL_H
#define TOBREL_VM_MODULES_SERIAL_H

#include <v8.h>

#include "tobrel_data.h"

// A script object that hears serial lines: its `onMessage` is looked up afresh for every line
// and called with (object, port, data), so a reassigned `onMessage` serves the next line. The
// object stays registered while that call returns true.
class SerialMsgCallback2 : public NuskMsgListener {
 public:
  // `object` is whatever the script passed; it is tested when a line arrives.
  explicit SerialMsgCallback2(v8::Local<v8::Value> object);
  ~SerialMsgCallback2() override;
  bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) override;

 private:
  v8::Isolate* isolate_;
  v8::Global<v8::Value> obj_;
};

// serial.open__(port[, baud]), serial.write__(port, base, data), serial.addListener__(object)
void SerialFunctionOpen(const v8::FunctionCallbackInfo<v8::Value>& args);
void SerialFunctionWrite(const v8::FunctionCallbackInfo<v8::Value>& args);
void SerialFunctionAddListener(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
