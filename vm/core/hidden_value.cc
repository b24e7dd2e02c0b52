// Hidden values as the engine's private symbols: one per name for the whole isolate, never
// visible to property look-up, enumeration or proxies.
#include "hidden_value.h"

#include "script.h"

using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Private;
using v8::Value;

namespace {

Local<Private> key(Isolate* isolate, const char* name) { return Private::ForApi(isolate, newString(isolate, name)); }

}  // namespace

void setHiddenValue(Isolate* isolate, Local<Object> object, const char* name, Local<Value> value) {
  object->SetPrivate(isolate->GetCurrentContext(), key(isolate, name), value).FromMaybe(false);
}

Local<Value> hiddenValue(Isolate* isolate, Local<Object> object, const char* name) {
  Local<v8::Context> context = isolate->GetCurrentContext();
  Local<Private> hidden = key(isolate, name);
  if (!object->HasPrivate(context, hidden).FromMaybe(false)) return Local<Value>();
  Local<Value> value;
  if (!object->GetPrivate(context, hidden).ToLocal(&value)) return Local<Value>();
  return value;
}

bool hiddenText(Isolate* isolate, Local<Object> object, const char* name, std::string* out) {
  Local<Value> value = hiddenValue(isolate, object, name);
  if (value.IsEmpty() || !value->IsString()) return false;
  return asciiValue(isolate, value, out);
}
