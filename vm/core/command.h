// The one shape of every command native: argument shape, interactive-mode test, a fresh
// message carrying the app's interactive id, an optional last-argument function bound to the
// request's replies, the send, and the message deleted whatever happens. A native then reads:
//
//   void LedFunctionLight(const v8::FunctionCallbackInfo<v8::Value>& args) {
//     CommandCall call(args, 1);
//     std::string color;
//     if (!call.ok() || !call.ascii(0, &color)) return;  // thrown, or the conversion threw
//     g_debug("LED Light: color[%s]", color.c_str());
//     call.message().mutable_led()->mutable_light()->set_color(color);
//     call.send("LED");
//   }
#ifndef TOBREL_VM_CORE_COMMAND_H
#define TOBREL_VM_CORE_COMMAND_H

#include <v8.h>

#include <stdint.h>

#include <memory>
#include <string>

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
  // text is thrown and ok() is false. Same as the steps shape(required, test), interactive().
  CommandCall(const v8::FunctionCallbackInfo<v8::Value>& args, int required, ArgumentTest test = nullptr,
              Order order = Order::kShapeFirst);

  // The same checks as explicit steps, for natives that log between them, test them in an
  // order of their own or throw texts of their own. Nothing is checked on construction; each
  // step throws its text and gives false on failure, and a failed step makes every later one
  // fail silently, so they chain:
  //
  //   CommandCall call(args);
  //   g_debug("call");
  //   if (!call.exactly(1) || !call.interactive()) return;
  //
  // ok() holds once interactive() has passed and no step failed.
  explicit CommandCall(const v8::FunctionCallbackInfo<v8::Value>& args);

  ~CommandCall();
  CommandCall(const CommandCall&) = delete;
  CommandCall& operator=(const CommandCall&) = delete;

  // `required` arguments, or `required` + 1 whose last is a function (then the callback), and
  // `test` when given.
  bool shape(int required, ArgumentTest test = nullptr, const char* text = "Wrong arguments");
  // Exactly `count` arguments, with no callback form, and `test` when given.
  bool exactly(int count, ArgumentTest test = nullptr, const char* text = "Wrong arguments");
  // A test of the native's own; throws `text` when `passed` is false.
  bool require(bool passed, const char* text);
  // The app holds an interactive id, else "Must be in interactive mode".
  bool interactive();

  bool ok() const { return interactiveChecked_ && !failed_; }
  TobrelData* app() const { return app_; }
  bool hasCallback() const { return !callback_.IsEmpty(); }
  // The script's function, empty when the call carries none.
  v8::Local<v8::Function> callback() const { return callback_; }

  // The argument conversions, used in argument order. None tests the argument's type. Each
  // gives false when the conversion threw (a `toString` or `valueOf` of the script's): the
  // exception stays pending and the native returns at once, so nothing is sent.
  bool ascii(int index, std::string* out) const;  // one byte per character (script.h)
  bool utf8(int index, std::string* out) const;   // a lone surrogate as U+FFFD (script.h)
  // ToUint32, kept bit for bit in a signed 32-bit field: 4294967295 and -1 both give -1.
  bool uint32(int index, int32_t* out) const;
  bool int32(int index, int32_t* out) const;  // ToInt32

  // The request: fresh id and the app's interactive id, made on first use. The native fills
  // one sub-message; the call deletes it.
  net::zolvek::nusk::message::NuskMsg& message();

  // Sends the request. With a callback it is bound through an EventCallbackData named `name`
  // to `handler` (the generic EventCallback unless said); without one nothing is registered.
  void send(const char* name, CallbackFunction handler = nullptr);
  // Sends with a handler of the native's own making (null: none); the registry owns it.
  void sendWith(CallbackHandler* handler);
  // Sends with `handler` bound through an EventCallbackData named `name` to the call's last
  // argument, which the shape test has found to be a function (lastArgumentIsFunction). For
  // the one-shot handlers, whose function is required.
  void sendToLastFunction(const char* name, CallbackFunction handler);

 private:
  const v8::FunctionCallbackInfo<v8::Value>& args_;
  v8::Isolate* isolate_;
  TobrelData* app_;
  bool failed_ = false;
  bool interactiveChecked_ = false;
  v8::Local<v8::Function> callback_;
  std::unique_ptr<net::zolvek::nusk::message::NuskMsg> message_;
};

// An ArgumentTest: the last argument is a function (natives whose function is required).
bool lastArgumentIsFunction(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
