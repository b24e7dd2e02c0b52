// Messages for scripts. Texts put into the requests are taken one byte per character; the
// message list that comes back is read as UTF-8.
#include "message.h"

#include <glib.h>
#include <stdio.h>

#include <string>

#include "command.h"
#include "contact.h"
#include "enum_name.h"
#include "event_callback.h"
#include "fresh_context.h"
#include "nusk-message.pb.h"
#include "script.h"

using net::zolvek::nusk::message::Contact;
using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::TobrelMessage;
using net::zolvek::nusk::message::TobrelMessageContent;
using net::zolvek::nusk::message::TobrelMessageQuery;
using v8::Array;
using v8::Context;
using v8::FunctionCallbackInfo;
using v8::Integer;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

namespace {

// The one-byte text of object[key]; false with the script's exception pending (a getter or
// a toString that threw).
bool asciiProperty(Isolate* isolate, Local<Object> object, Local<Value> key, std::string* out) {
  Local<Value> value;
  return object->Get(isolate->GetCurrentContext(), key).ToLocal(&value) && asciiValue(isolate, value, out);
}

// get, delete and markAsRead: the values of the id set's enumerable properties, in the
// engine's order, become the request's ids.
void sendIdQuery(const FunctionCallbackInfo<Value>& args, TobrelMessageQuery::TypeAction action) {
  Isolate* isolate = args.GetIsolate();
  CommandCall call(args);
  const bool shaped = args.Length() == 2 && args[1]->IsFunction() && args[0]->IsObject();
  if (!shaped) g_warning("Wrong arguments");
  if (!call.require(shaped, "Wrong arguments") || !call.interactive()) return;
  Local<Object> ids = args[0].As<Object>();
  Local<Array> names;
  if (!ids->GetPropertyNames(isolate->GetCurrentContext()).ToLocal(&names)) return;
  TobrelMessageQuery* query = call.message().mutable_tobrelmessagequery();
  query->set_action(action);
  for (uint32_t i = 0; i < names->Length(); ++i) {
    Local<Value> name;
    std::string id;
    if (!names->Get(isolate->GetCurrentContext(), i).ToLocal(&name) || !asciiProperty(isolate, ids, name, &id)) return;
    query->add_id(id);
  }
  call.sendToLastFunction("MESSAGE", MessageCallbackFunction);
}

Local<Object> entryObject(Isolate* isolate, const TobrelMessage& message) {
  Local<Object> header = Object::New(isolate);
  if (message.has_header()) {
    const auto& h = message.header();
    setText(isolate, header, "id", h.id());
    setProperty(isolate, header, "date", Integer::New(isolate, h.date()));
    setProperty(isolate, header, "status", Integer::New(isolate, h.status()));
    if (h.has_from()) setProperty(isolate, header, "from", contactToObject(isolate, h.from()));
    if (h.has_to()) setProperty(isolate, header, "to", contactToObject(isolate, h.to()));
  }
  Local<Object> content = Object::New(isolate);
  if (message.has_content()) {
    const TobrelMessageContent& c = message.content();
    setText(isolate, content, "type", enumName(c, TobrelMessageContent::kTypeFieldNumber));
    setText(isolate, content, "content", c.content());
    if (c.has_header()) setText(isolate, content, "header", c.header());
  }
  Local<Object> entry = Object::New(isolate);
  setProperty(isolate, entry, "header", header);
  setProperty(isolate, entry, "content", content);
  return entry;
}

}  // namespace

void MessageFunctionNew(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  CommandCall call(args);
  // A fourth argument and more pass; a third must be a function, and it is never called.
  const int argc = args.Length();
  if (!call.require(argc >= 2 && (argc != 3 || args[2]->IsFunction()), "Wrong arguments") || !call.interactive()) {
    return;
  }
  TobrelMessageQuery* query = call.message().mutable_tobrelmessagequery();
  query->set_action(TobrelMessageQuery::NEW);
  Contact* to = query->mutable_message()->mutable_header()->mutable_to();
  if (!call.require(args[0]->IsObject(), "Arg[0] Must be object")) return;
  Local<Object> recipient = args[0].As<Object>();
  Local<Context> context = isolate->GetCurrentContext();
  std::string text;
  // An absent uuid travels as the text "undefined".
  if (!asciiProperty(isolate, recipient, newString(isolate, "uuid"), &text)) return;
  to->set_uuid(text);
  Local<Value> objects;
  if (!recipient->Get(context, newString(isolate, "objects")).ToLocal(&objects)) return;
  if (!call.require(objects->IsArray(), "Wrong arguments")) return;
  Local<Array> list = objects.As<Array>();
  for (uint32_t i = 0; i < list->Length(); ++i) {
    if (!asciiProperty(isolate, list, Integer::NewFromUnsigned(isolate, i), &text)) return;
    to->add_objects()->set_iddb(text);
  }
  // The text as written: the second argument's check names Arg[0].
  if (!call.require(args[1]->IsString(), "Arg[0] Must be string") || !asciiValue(isolate, args[1], &text)) return;
  TobrelMessageContent* content = query->mutable_message()->mutable_content();
  content->set_type(TobrelMessageContent::TEXT);
  content->set_content(text);
  const std::string shown = call.message().DebugString();
  call.sendWith(nullptr);
  fwrite(shown.data(), 1, shown.size(), stdout);
  fflush(stdout);
}

void MessageFunctionList(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  if (!call.exactly(1, lastArgumentIsFunction) || !call.interactive()) return;
  call.message().mutable_tobrelmessagequery()->set_action(TobrelMessageQuery::LIST);
  call.sendToLastFunction("MESSAGE", MessageCallbackFunction);
}

void MessageFunctionGet(const FunctionCallbackInfo<Value>& args) { sendIdQuery(args, TobrelMessageQuery::GET); }

void MessageFunctionDelete(const FunctionCallbackInfo<Value>& args) { sendIdQuery(args, TobrelMessageQuery::DELETE); }

void MessageFunctionMarkAsRead(const FunctionCallbackInfo<Value>& args) {
  sendIdQuery(args, TobrelMessageQuery::READ);
}

bool MessageCallbackFunction(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_debug("MessageCallbackFunction");
  if (!msg.has_response()) {
    g_warning("MessageCallbackFunction: has_response false");
  } else if (msg.response().has_code() && msg.response().code() == net::zolvek::nusk::message::OK) {
    g_debug("MessageCallbackFunction: response : OK");
  } else if (msg.response().has_code() && msg.response().code() == net::zolvek::nusk::message::ERROR) {
    g_warning("MessageCallbackFunction: response : ERROR");
  }
  if (!msg.has_tobrelmessageresponse() || msg.tobrelmessageresponse().tobrelmessagelist_size() == 0) {
    g_warning("MessageCallbackFunction : has_tobrelmessageresponse false or list empty. abort");
    return true;  // the list may still come under the same request
  }
  const auto& list = msg.tobrelmessageresponse().tobrelmessagelist();
  Isolate* isolate = Isolate::GetCurrent();
  FreshContext fresh(isolate);
  Local<Array> entries = Array::New(isolate, list.size());
  for (int i = 0; i < list.size(); ++i)
    entries->Set(fresh.context(), static_cast<uint32_t>(i), entryObject(isolate, list.Get(i))).FromMaybe(false);
  Local<Value> argv[] = {entries};
  callScriptFunction(isolate, record->function.Get(isolate), 1, argv);
  return false;
}
