// The contact list for scripts: one query, answered by the first message that names it.
#include "contact.h"

#include <glib.h>

#include "command.h"
#include "event_callback.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::Contact;
using net::zolvek::nusk::message::NuskMsg;
using v8::Array;
using v8::FunctionCallbackInfo;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

Local<Object> contactToObject(Isolate* isolate, const Contact& contact) {
  Local<Object> object = Object::New(isolate);
  if (contact.has_firstname()) setText(isolate, object, "firstname", contact.firstname());
  if (contact.has_lastname()) setText(isolate, object, "lastname", contact.lastname());
  if (contact.has_alias()) setText(isolate, object, "alias", contact.alias());
  if (contact.has_uuid()) setText(isolate, object, "uuid", contact.uuid());
  Local<Array> objects = Array::New(isolate, contact.objects_size());
  Local<v8::Context> context = isolate->GetCurrentContext();
  for (int i = 0; i < contact.objects_size(); ++i) {
    const Contact::Object& entry = contact.objects(i);
    Local<Object> item = Object::New(isolate);
    setText(isolate, item, "id", entry.iddb());
    if (entry.has_name()) setText(isolate, item, "name", entry.name());
    objects->Set(context, static_cast<uint32_t>(i), item).FromMaybe(false);
  }
  setProperty(isolate, object, "objects", objects);
  return object;
}

void ContactFunctionGet(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  if (!call.exactly(1, lastArgumentIsFunction) || !call.interactive()) return;
  call.message().mutable_getcontactlist();
  call.sendToLastFunction("CONTACT", getContactCallbackFunction);
}

bool getContactCallbackFunction(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_debug("getContactCallbackFunction");
  Isolate* isolate = Isolate::GetCurrent();
  FreshContext fresh(isolate);
  const int count = msg.has_contactlist() ? msg.contactlist().contacts_size() : 0;
  Local<Array> contacts = Array::New(isolate, count);
  for (int i = 0; i < count; ++i) {
    contacts->Set(fresh.context(), static_cast<uint32_t>(i), contactToObject(isolate, msg.contactlist().contacts(i)))
        .FromMaybe(false);
  }
  Local<Value> argv[] = {contacts};
  callScriptFunction(isolate, record->function.Get(isolate), 1, argv);
  return false;
}
