// The `contact` module object of `tobrel`: fetches the owner's contact list. contactToObject is
// also the converter of the message entries' senders and recipients.
#ifndef TOBREL_VM_MODULES_CONTACT_H
#define TOBREL_VM_MODULES_CONTACT_H

#include <v8.h>

namespace net::zolvek::nusk::message {
class Contact;
class NuskMsg;
}  // namespace net::zolvek::nusk::message

// contact.get(fn): fn gets an array of contact objects.
void ContactFunctionGet(const v8::FunctionCallbackInfo<v8::Value>& args);

// One-shot reply handler over an EventCallbackData: acts on the first message naming its
// request, whatever it holds (no list gives an empty array), and is done.
bool getContactCallbackFunction(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

// {firstname, lastname, alias, uuid (each only when set), objects: [{id, name?}, ...]}, in that
// order. Needs an entered context.
v8::Local<v8::Object> contactToObject(v8::Isolate* isolate, const net::zolvek::nusk::message::Contact& contact);

#endif
