// The serial natives. open__ and write__ are commands with checks of their own (command.h's
// explicit steps); addListener__ takes a listener object untested, so the listener tests it
// at every line instead. The lines on standard output trace each step of a line's delivery;
// standard output is shared with the launcher and the other apps, so each is flushed at once.
#include "serial.h"

#include <glib.h>
#include <stdio.h>

#include <string>

#include "command.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::Serial;
using net::zolvek::nusk::message::SerialCallback;
using v8::Context;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::HandleScope;
using v8::Int32;
using v8::Isolate;
using v8::Local;
using v8::NewStringType;
using v8::Object;
using v8::String;
using v8::TryCatch;
using v8::Value;

namespace {

constexpr int32_t kDefaultBaud = 9600;

void printLine(const char* line) {
  puts(line);
  fflush(stdout);
}

// A line's text whole, zero bytes included (write__ sends them too), read as UTF-8. A frame
// is far below the engine's longest string, so the fallback is never expected.
Local<String> wholeText(Isolate* isolate, const std::string& bytes) {
  Local<String> text;
  if (!String::NewFromUtf8(isolate, bytes.data(), NewStringType::kNormal, static_cast<int>(bytes.size()))
           .ToLocal(&text))
    return String::Empty(isolate);
  return text;
}

// The object's `onMessage` as it is now, read in the object's own context. False when there is
// nothing to call: not a function, or a getter that threw (reported at WARNING).
bool currentOnMessage(Isolate* isolate, Local<Object> object, Local<Function>* fn) {
  Local<Context> context;
  if (!object->GetCreationContext().ToLocal(&context)) context = isolate->GetCurrentContext();
  Context::Scope scope(context);
  TryCatch tryCatch(isolate);
  Local<Value> value;
  if (!object->Get(context, newString(isolate, "onMessage")).ToLocal(&value)) {
    if (tryCatch.HasCaught()) reportExceptionWarning(isolate, &tryCatch);
    return false;
  }
  if (!value->IsFunction()) {
    g_warning("serial listener removed: its onMessage is not a function");
    return false;
  }
  *fn = value.As<Function>();
  return true;
}

}  // namespace

SerialMsgCallback2::SerialMsgCallback2(Local<Value> object)
    : isolate_(Isolate::GetCurrent()), obj_(isolate_, object) {}

SerialMsgCallback2::~SerialMsgCallback2() { obj_.Reset(); }

bool SerialMsgCallback2::onMessage(const NuskMsg& msg) {
  if (!msg.has_serialcallback()) return true;
  HandleScope scope(isolate_);
  printLine("call onMessage");
  printLine("cast");
  Local<Value> held = obj_.Get(isolate_);
  if (!held->IsObject()) {
    g_warning("serial listener removed: it is not an object");
    return false;
  }
  Local<Object> object = held.As<Object>();
  printLine("arg0");
  // A serialCallback without a line reads as an empty port and empty data.
  const SerialCallback::Readline& line = msg.serialcallback().readline();
  Local<Value> argv[] = {object, wholeText(isolate_, line.port()), wholeText(isolate_, line.data())};
  Local<Function> fn;
  if (!currentOnMessage(isolate_, object, &fn)) return false;
  printLine("call onMessage");
  return callScriptFunction(isolate_, fn, 3, argv);
}

void SerialFunctionOpen(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  if (!call.require(args.Length() > 0, "Wrong arguments")) return;
  int32_t baud = kDefaultBaud;
  // Only a call of exactly two arguments gives a baud rate; with more the rate stays 9600.
  if (args.Length() == 2) {
    if (!call.require(args[1]->IsInt32(), "arg 2 is Integer baudrate")) return;
    baud = args[1].As<Int32>()->Value();
  }
  std::string port;
  if (!call.interactive() || !call.ascii(0, &port)) return;
  Serial::Open* open = call.message().mutable_serial()->mutable_open();
  open->set_port(port);
  open->set_baud(baud);
  call.sendWith(nullptr);
}

void SerialFunctionWrite(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  // Missing arguments convert as undefined does: the text "undefined".
  std::string port, base, data;
  if (!call.interactive() || !call.ascii(0, &port) || !call.ascii(1, &base) || !call.ascii(2, &data)) return;
  // The script's order is (port, base, data); the message's fields are port, data, base.
  Serial::Write* write = call.message().mutable_serial()->mutable_write();
  write->set_port(port);
  write->set_data(data);
  write->set_base(base);
  call.sendWith(nullptr);
}

void SerialFunctionAddListener(const FunctionCallbackInfo<Value>& args) {
  printLine("dans c++");
  // The list owns the listener from here.
  appData(args.GetIsolate())->addListener(new SerialMsgCallback2(args[0]));
}
