// The one shape of every command native: argument shape, interactive-mode test, a fresh
// message carrying the app's interactive id, an optional last-argument function bound to the
// request's replies, the send, and the message deleted whatever happens. A native then reads:
//
//   void LedFunctionLight(const v8::FunctionCallbackInfo<v8::Value>& args) {
//     CommandCall call(args, 1);
//     if (!call.ok()) return;
//     std::string color;
//     if (!asciiValue(args.GetIsolate(), args[0], &color)) return;  // nothing is sent
//     g_debug("LED Light: color[%s]", color.c_str());
//     call.message().mutable_led()->mutable_light()->set_color(color);
//     call.send("LED");
//   }
#ifndef TOBREL_VM_CORE_COMMAND_H
#define TOBREL_VM_CORE_COMMAND_H

#include <v8.h>

#include <memory>

#include "callback_registry.h"

namespace net::zolvek::nusk::message {
class NuskMsg;
}

class TobrelData;

class CommandCall {
 public:
  // Extra type tests of a native, run with the shape test (same "Wrong arguments").
  typedef bool (*ArgumentTest)(const v8::FunctionCallbackInfo<v8::Value>& args);

  enum class Order {
    kShapeFirst,        // the rule: a call of the wrong shape throws "Wrong arguments" first
    kInteractiveFirst,  // natives that test interactive mode before their arguments
  };

  // Accepts exactly `required` arguments, or `required` + 1 whose last is a function (the
  // callback), and passes `test` when given; then requires interactive mode. On failure the
  // text is thrown and ok() is false.
  CommandCall(const v8::FunctionCallbackInfo<v8::Value>& args, int required, ArgumentTest test = nullptr,
              Order order = Order::kShapeFirst);
  ~CommandCall();
  CommandCall(const CommandCall&) = delete;
  CommandCall& operator=(const CommandCall&) = delete;

  bool ok() const { return app_ != nullptr; }
  TobrelData* app() const { return app_; }
  bool hasCallback() const { return !callback_.IsEmpty(); }
  // The script's function, empty when the call carries none.
  v8::Local<v8::Function> callback() const { return callback_; }

  // The request: fresh id and the app's interactive id, made on first use. The native fills
  // one sub-message; the call deletes it.
  net::zolvek::nusk::message::NuskMsg& message();

  // Sends the request. With a callback it is bound through an EventCallbackData named `name`
  // to `handler` (the generic EventCallback unless said); without one nothing is registered.
  void send(const char* name, CallbackFunction handler = nullptr);
  // Sends with a handler of the native's own making (null: none); the registry owns it.
  void sendWith(CallbackHandler* handler);

 private:
  bool shapeAccepted(const v8::FunctionCallbackInfo<v8::Value>& args, int required, ArgumentTest test);

  v8::Isolate* isolate_;
  TobrelData* app_ = nullptr;
  v8::Local<v8::Function> callback_;
  std::unique_ptr<net::zolvek::nusk::message::NuskMsg> message_;
};

#endif
