// Launch type parsing and the `semantic` accessor of ASR launches.
#include "launch_type.h"

#include "script.h"
#include "semantic.h"

namespace {

const std::string& field(const std::vector<std::string>& fields, size_t i) {
  static const std::string kMissing;
  return i < fields.size() ? fields[i] : kMissing;
}

}  // namespace

std::vector<std::string> splitLaunchType(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find(';', start);
    if (end == std::string::npos) {
      fields.push_back(text.substr(start));
      break;
    }
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

void createLaunchTypeTemplate(v8::Isolate* isolate, v8::Local<v8::ObjectTemplate> target,
                              const std::string& launchType) {
  const std::vector<std::string> fields = splitLaunchType(launchType);
  auto set = [&](const char* name, const std::string& value) {
    target->Set(isolate, name, newString(isolate, value.c_str()));
  };
  if (launchType.compare(0, 4, "RFID") == 0) {
    set("name", "RFID");
    static const char* const kRfidFields[] = {"id", "app", "type", "pict", "color", "data"};
    for (size_t i = 0; i < 6; ++i) set(kRfidFields[i], field(fields, i + 1));
  } else if (launchType.compare(0, 3, "ASR") == 0) {
    set("name", "ASR");
    set("text", field(fields, 1));
    // An accessor property keeps its place among the others; a native accessor would be
    // listed before every data property.
    target->SetAccessorProperty(v8::String::NewFromUtf8Literal(isolate, "semantic"),
                                v8::FunctionTemplate::New(isolate, semanticGetter),
                                v8::FunctionTemplate::New(isolate, semanticSetter));
    set("rawSemantic", "<semantic>" + field(fields, 2) + "</semantic>");
    target->Set(isolate, "confident", v8::Integer::New(isolate, 50));
  } else {
    set("name", launchType);
  }
}

void semanticGetter(const v8::FunctionCallbackInfo<v8::Value>& info) {
  v8::Isolate* isolate = info.GetIsolate();
  // The text is read in the caller's context: the receiver (the app's launchType, or even its
  // global object) belongs there, and the fresh context would be refused access to a global.
  v8::Local<v8::Value> raw;
  std::string text;
  if (!info.This()->Get(isolate->GetCurrentContext(), v8::String::NewFromUtf8Literal(isolate, "rawSemantic"))
           .ToLocal(&raw))
    return;
  if (!utf8Value(isolate, raw, &text)) return;
  v8::Local<v8::Context> fresh = v8::Context::New(isolate);
  v8::Context::Scope scope(fresh);
  v8::Local<v8::Object> result = v8::Object::New(isolate);
  parseSemantic(isolate, text.c_str(), result);
  v8::Local<v8::Value> semantic;
  if (result->Get(fresh, v8::String::NewFromUtf8Literal(isolate, "semantic")).ToLocal(&semantic))
    info.GetReturnValue().Set(semantic);
}

void semanticSetter(const v8::FunctionCallbackInfo<v8::Value>&) {}
