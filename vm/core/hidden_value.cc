// Hidden values on private symbols: invisible to property enumeration, Reflect and proxies.
#include "hidden_value.h"

namespace {

v8::Local<v8::Private> hiddenKey(v8::Isolate* isolate, const char* name) {
  v8::Local<v8::String> text = v8::String::NewFromUtf8(isolate, name).ToLocalChecked();
  // ForApi gives the same key for the same name everywhere in the isolate.
  return v8::Private::ForApi(isolate, text);
}

}  // namespace

bool setHiddenValue(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* name,
                    v8::Local<v8::Value> value) {
  return object->SetPrivate(isolate->GetCurrentContext(), hiddenKey(isolate, name), value).FromMaybe(false);
}

bool getHiddenValue(v8::Isolate* isolate, v8::Local<v8::Object> object, const char* name,
                    v8::Local<v8::Value>* value) {
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::Private> key = hiddenKey(isolate, name);
  if (!object->HasPrivate(context, key).FromMaybe(false)) return false;
  return object->GetPrivate(context, key).ToLocal(value);
}
