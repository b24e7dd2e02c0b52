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
    : args_(args), isolate_(args.GetIsolate()) {
  TobrelData* app = appData(isolate_);
  const bool interactive = app->interactiveId != nullptr;
  const char* refusal = nullptr;
  if (order == Order::kInteractiveFirst && !interactive) {
    refusal = "Must be in interactive mode";
  } else if (!shapeAccepted(args, required, test)) {
    refusal = "Wrong arguments";
  } else if (!interactive) {
    refusal = "Must be in interactive mode";
  }
  if (refusal != nullptr) {
    throwText(isolate_, refusal);
    return;
  }
  if (args.Length() == required + 1) callback_ = args[required].As<Function>();
  app_ = app;
}

CommandCall::~CommandCall() = default;

bool CommandCall::shapeAccepted(const FunctionCallbackInfo<Value>& args, int required, ArgumentTest test) {
  // The count alone decides which argument is the callback.
  const bool shape = args.Length() == required || (args.Length() == required + 1 && args[required]->IsFunction());
  return shape && (test == nullptr || test(args));
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
