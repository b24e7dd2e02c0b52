// Exception reports, the guarded script call and string conversions shared by every native.
#include "script.h"

#include <glib.h>

#include "tobrel_data.h"
#include "utils.h"

using v8::Context;
using v8::Function;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::Message;
using v8::MaybeLocal;
using v8::String;
using v8::TryCatch;
using v8::Value;

TobrelData* appData(Local<Context> context) {
  return static_cast<TobrelData*>(context->Global()->GetAlignedPointerFromInternalField(0));
}

TobrelData* appData(Isolate* isolate) { return appData(isolate->GetCurrentContext()); }

Local<String> newString(Isolate* isolate, const char* utf8) {
  Local<String> result;
  if (!String::NewFromUtf8(isolate, utf8 != nullptr ? utf8 : "").ToLocal(&result)) return String::Empty(isolate);
  return result;
}

void throwText(Isolate* isolate, const char* text) { isolate->ThrowException(newString(isolate, text)); }

void setProperty(Isolate* isolate, Local<v8::Object> object, const char* key, Local<Value> value) {
  object->Set(isolate->GetCurrentContext(), newString(isolate, key), value).FromMaybe(false);
}

void setText(Isolate* isolate, Local<v8::Object> object, const char* key, const std::string& text) {
  setProperty(isolate, object, key, newString(isolate, text.c_str()));
}

const char* toCString(const String::Utf8Value& value) {
  return *value != nullptr ? *value : "<string conversion failed>";
}

std::string caretLine(int start, int end) {
  constexpr size_t kMax = 1023;  // the line's 1024-byte buffer, NUL included
  std::string line;
  if (start < 0) return line;
  for (int column = 0; column < start && line.size() < kMax; ++column) line += ' ';
  for (int column = start; column < end && line.size() < kMax; ++column) line += '^';
  return line;
}

namespace {

void reportLines(Isolate* isolate, TryCatch* tryCatch, bool fatalWithoutMessage) {
  if (tryCatch->HasTerminated()) return;  // the heap-limit end already said why
  HandleScope scope(isolate);
  Local<Context> context = isolate->GetCurrentContext();
  String::Utf8Value exception(isolate, tryCatch->Exception());
  const char* text = toCString(exception);
  Local<Message> message = tryCatch->Message();
  if (message.IsEmpty()) {
    if (fatalWithoutMessage) g_error("%s\n", text);
    g_warning("%s", text);
    return;
  }
  String::Utf8Value filename(isolate, message->GetScriptResourceName());
  g_warning("%s:%i: %s", toCString(filename), message->GetLineNumber(context).FromMaybe(0), text);
  Local<String> sourceLine;
  if (message->GetSourceLine(context).ToLocal(&sourceLine)) {
    String::Utf8Value source(isolate, sourceLine);
    g_warning("%s", toCString(source));
  }
  g_warning("%s", caretLine(message->GetStartColumn(context).FromMaybe(0),
                            message->GetEndColumn(context).FromMaybe(0)).c_str());
  Local<Value> stack;
  if (tryCatch->StackTrace(context).ToLocal(&stack) && !stack->IsUndefined()) {
    String::Utf8Value trace(isolate, stack);
    if (*trace != nullptr && trace.length() > 0) g_warning("%s", *trace);
  }
}

}  // namespace

void reportException(Isolate* isolate, TryCatch* tryCatch) { reportLines(isolate, tryCatch, true); }

void reportExceptionWarning(Isolate* isolate, TryCatch* tryCatch) { reportLines(isolate, tryCatch, false); }

bool appEnding(Local<Context> context) {
  if (context->Global()->InternalFieldCount() < 1) return false;
  const TobrelData* app = appData(context);
  return app != nullptr && app->quitRequested;
}

bool callScriptFunction(Isolate* isolate, Local<Function> fn, int argc, Local<Value>* argv) {
  HandleScope scope(isolate);
  Local<Context> context;
  if (!fn->GetCreationContext().ToLocal(&context)) context = isolate->GetCurrentContext();
  // Other sources of the loop's last pass still come here once the app has ended (a second
  // timer due beside one that ran out of heap): none of them may run script again.
  if (appEnding(context)) return false;
  Context::Scope contextScope(context);
  TryCatch tryCatch(isolate);
  Local<Value> result;
  if (!fn->Call(context, fn, argc, argv).ToLocal(&result)) {
    if (tryCatch.HasCaught()) reportExceptionWarning(isolate, &tryCatch);
    return false;
  }
  return result->IsTrue();
}

bool asciiValue(Isolate* isolate, Local<Value> value, std::string* out) {
  Local<String> text;
  if (!value->ToString(isolate->GetCurrentContext()).ToLocal(&text)) return false;
  out->assign(static_cast<size_t>(text->Length()), '\0');
  if (!out->empty()) {
    text->WriteOneByte(isolate, reinterpret_cast<uint8_t*>(&(*out)[0]), 0, text->Length(),
                       String::NO_NULL_TERMINATION);
  }
  return true;
}

bool utf8Value(Isolate* isolate, Local<Value> value, std::string* out) {
  Local<String> text;
  if (!value->ToString(isolate->GetCurrentContext()).ToLocal(&text)) return false;
  // A lone surrogate becomes U+FFFD, so the bytes are always UTF-8 that any peer accepts; the
  // replacement has the surrogate's length, so the length counted first still holds.
  out->assign(static_cast<size_t>(text->Utf8Length(isolate)), '\0');
  if (!out->empty()) {
    const int written = text->WriteUtf8(isolate, &(*out)[0], static_cast<int>(out->size()), nullptr,
                                        String::NO_NULL_TERMINATION | String::REPLACE_INVALID_UTF8);
    out->resize(static_cast<size_t>(written));
  }
  return true;
}

bool enumerableNames(Isolate* isolate, Local<v8::Object> object, Local<v8::Array>* names) {
  return object
      ->GetPropertyNames(isolate->GetCurrentContext(), v8::KeyCollectionMode::kIncludePrototypes,
                         static_cast<v8::PropertyFilter>(v8::ONLY_ENUMERABLE | v8::SKIP_SYMBOLS),
                         v8::IndexFilter::kIncludeIndices, v8::KeyConversionMode::kConvertToString)
      .ToLocal(names);
}

bool appPathAllowed(Isolate* isolate, Local<Value> arg, const std::string& name) {
  if (isForbiddenPath(name.c_str()) == 0) return true;
  g_warning("access denied: %s", name.c_str());
  Local<String> text;
  if (!arg->ToString(isolate->GetCurrentContext()).ToLocal(&text)) return false;
  isolate->ThrowException(String::Concat(isolate, newString(isolate, "access denied: "), text));
  return false;
}

bool checkAppPath(Isolate* isolate, Local<Value> arg, std::string* name) {
  // The check runs on the very bytes that will name the file.
  return asciiValue(isolate, arg, name) && appPathAllowed(isolate, arg, *name);
}
