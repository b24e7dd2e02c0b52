// The `message` module object of `tobrel`: sends a text to a contact and lists, fetches,
// deletes or marks as read the messages that the device keeps.
#ifndef TOBREL_VM_MODULES_MESSAGE_H
#define TOBREL_VM_MODULES_MESSAGE_H

#include <v8.h>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

// message.new(recipient, text[, ...]): sends without a handler and prints the request's text
// form on standard output.
void MessageFunctionNew(const v8::FunctionCallbackInfo<v8::Value>& args);
// message.list(fn); message.get / delete / markAsRead(ids, fn), ids an object whose enumerable
// property values (own and inherited) are the message ids.
void MessageFunctionList(const v8::FunctionCallbackInfo<v8::Value>& args);
void MessageFunctionGet(const v8::FunctionCallbackInfo<v8::Value>& args);
void MessageFunctionDelete(const v8::FunctionCallbackInfo<v8::Value>& args);
void MessageFunctionMarkAsRead(const v8::FunctionCallbackInfo<v8::Value>& args);

// One-shot reply handler over an EventCallbackData: waits (true) until a message carries a
// non-empty message list, then calls the function once with [{header, content}, ...] and is
// done (false).
bool MessageCallbackFunction(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

#endif
