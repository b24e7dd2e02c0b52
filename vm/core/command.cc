// The command pattern shared by every command native (see command.h).
#include "command.h"

#include "event_callback.h"
#include "link.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::NuskMsg;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::Value;

CommandCall::CommandCall(const FunctionCallbackInfo<Value>& args, int required, ArgumentTest test, Order order)
    : CommandCall(args) {
  if (order == Order::kInteractiveFirst) {
    interactive() && shape(required, test);
  } else {
    shape(required, test) && interactive();
  }
}

CommandCall::CommandCall(const FunctionCallbackInfo<Value>& args)
    : args_(args), isolate_(args.GetIsolate()), app_(appData(isolate_)) {}

CommandCall::~CommandCall() = default;

bool CommandCall::require(bool passed, const char* text) {
  if (failed_) return false;
  if (!passed) {
    failed_ = true;
    throwText(isolate_, text);
  }
  return passed;
}

bool CommandCall::shape(int required, ArgumentTest test, const char* text) {
  // The count alone decides which argument is the callback.
  const int argc = args_.Length();
  const bool withCallback = argc == required + 1 && args_[required]->IsFunction();
  if (!require((argc == required || withCallback) && (test == nullptr || test(args_)), text)) return false;
  if (withCallback) callback_ = args_[required].As<Function>();
  return true;
}

bool CommandCall::exactly(int count, ArgumentTest test, const char* text) {
  return require(args_.Length() == count && (test == nullptr || test(args_)), text);
}

bool CommandCall::interactive() {
  if (!require(app_->interactiveId != nullptr, "Must be in interactive mode")) return false;
  interactiveChecked_ = true;
  return true;
}

bool CommandCall::ascii(int index, std::string* out) const { return asciiValue(isolate_, args_[index], out); }

bool CommandCall::utf8(int index, std::string* out) const { return utf8Value(isolate_, args_[index], out); }

bool CommandCall::uint32(int index, int32_t* out) const {
  uint32_t value;
  if (!args_[index]->Uint32Value(isolate_->GetCurrentContext()).To(&value)) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

bool CommandCall::int32(int index, int32_t* out) const {
  return args_[index]->Int32Value(isolate_->GetCurrentContext()).To(out);
}

NuskMsg& CommandCall::message() {
  if (message_ == nullptr) message_.reset(newMessage(app_->interactiveId));
  return *message_;
}

void CommandCall::send(const char* name, CallbackFunction handler) {
  sendWith(hasCallback() ? newEventCallbackHandler(handler != nullptr ? handler : EventCallback, name, callback_)
                         : nullptr);
}

void CommandCall::sendWith(CallbackHandler* handler) {
  if (handler != nullptr) {
    sendMessageWithCallback(app_->sock, message(), handler);
  } else {
    sendMessage(app_->sock, message());
  }
  message_.reset();
}

void CommandCall::sendToLastFunction(const char* name, CallbackFunction handler) {
  sendWith(newEventCallbackHandler(handler, name, args_[args_.Length() - 1].As<Function>()));
}

bool lastArgumentIsFunction(const FunctionCallbackInfo<Value>& args) {
  return args.Length() > 0 && args[args.Length() - 1]->IsFunction();
}
