// The launch type: any text as the second field of a launch request ("RFID;...", "ASR;..." or
// a plain name), built into the app's `launchType` object; every property is read, the
// `semantic` getter (which parses the spoken meaning again) included. The field split gives
// back the text: its fields joined by ';' are the text without one trailing ';'.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "launch_type.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::ScriptHost::initTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> fields = splitLaunchType(text);
  std::string joined;
  for (size_t i = 0; i < fields.size(); ++i) joined += (i > 0 ? ";" : "") + fields[i];
  const std::string expected = !text.empty() && text.back() == ';' ? text.substr(0, text.size() - 1) : text;
  if (joined != expected) abort();

  tobrel_fuzz::ScriptHost& host = tobrel_fuzz::ScriptHost::get();
  v8::Isolate* isolate = host.isolate();
  v8::HandleScope scope(isolate);
  // Every new template's instance stays cached in its context, so the instances are made in
  // a context of the target's own, renewed now and then (a new context per input costs more
  // than the rest of the input).
  static v8::Global<v8::Context> own;
  static int uses = 0;
  if (own.IsEmpty() || ++uses % 256 == 0) own.Reset(isolate, v8::Context::New(isolate));
  v8::Local<v8::Context> context = own.Get(isolate);
  v8::Context::Scope contextScope(context);
  v8::Local<v8::ObjectTemplate> launchType = v8::ObjectTemplate::New(isolate);
  createLaunchTypeTemplate(isolate, launchType, text);
  v8::Local<v8::Object> object = launchType->NewInstance(context).ToLocalChecked();
  v8::TryCatch tryCatch(isolate);
  v8::Local<v8::Array> names = object->GetOwnPropertyNames(context).ToLocalChecked();
  for (uint32_t i = 0; i < names->Length(); ++i)
    (void)object->Get(context, names->Get(context, i).ToLocalChecked());
  if (tryCatch.HasCaught()) abort();  // no property of the object throws on a read
  return 0;
}
