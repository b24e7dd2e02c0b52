// The t2t natives: four commands with exact argument counts and no callback (what becomes of a
// call reaches the script only as call events), and the listener of those events. Texts go
// to the daemon as UTF-8.
#include "t2t.h"

#include <glib.h>

#include <string>

#include "command.h"
#include "enum_name.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::T2t;
using net::zolvek::nusk::message::T2tCallback;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::Local;
using v8::Object;
using v8::Value;

void T2tFunctionCall(const FunctionCallbackInfo<Value>& args) {
  g_debug("call");
  CommandCall call(args);
  std::string address;
  if (!call.exactly(1) || !call.interactive() || !call.utf8(0, &address)) return;
  call.message().mutable_t2t()->mutable_call()->set_address(address);
  call.sendWith(nullptr);
}

void T2tFunctionAnswer(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  if (!call.exactly(1) || !call.interactive()) return;
  // The script's truth value: the text "false" and every object accept.
  call.message().mutable_t2t()->mutable_answer()->set_accept(args[0]->BooleanValue(args.GetIsolate()));
  call.sendWith(nullptr);
}

void T2tFunctionHangup(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  if (!call.exactly(0) || !call.interactive()) return;
  call.message().mutable_t2t()->mutable_hangup();
  call.sendWith(nullptr);
}

void T2tFunctionAccount(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  std::string sipId, sipDomain, sipPassword, stunServer;
  if (!call.exactly(4) || !call.interactive() || !call.utf8(0, &sipId) || !call.utf8(1, &sipDomain) ||
      !call.utf8(2, &sipPassword) || !call.utf8(3, &stunServer)) {
    return;
  }
  // No log line here: the password may appear only masked, as the link's trace shows it.
  T2t::Account* account = call.message().mutable_t2t()->mutable_account();
  account->set_sipid(sipId);
  account->set_sipdomain(sipDomain);
  account->set_sippassword(sipPassword);
  account->set_stunserver(stunServer);
  call.sendWith(nullptr);
}

bool T2tMsgCallback::onMessage(const NuskMsg& msg) {
  if (!msg.has_t2tcallback()) return true;
  const T2tCallback& event = msg.t2tcallback();
  FreshContext fresh(isolate());
  g_message("T2t: T2tMsgCallback");
  Local<Object> object = Object::New(isolate());
  setText(isolate(), object, "type", enumName(event, T2tCallback::kTypeFieldNumber));
  setText(isolate(), object, "correspondant", event.correspondant());
  Local<Value> argv[] = {object};
  return call(1, argv);
}

void T2tFunctionAddListener(const FunctionCallbackInfo<Value>& args) {
  addScriptListener(args, [](Local<Function> fn) -> NuskMsgListener* { return new T2tMsgCallback(fn); });
}
