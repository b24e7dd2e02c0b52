// config.bin to `params`: any bytes as the app's configuration file. The object and every
// instance object in it keep their plain prototype whatever the keys are ("__proto__"
// included), and the result survives JSON.stringify.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "fuzz_support.h"
#include "params.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::ScriptHost::initTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tobrel_fuzz::InputFile file;
  tobrel_fuzz::ScriptHost& host = tobrel_fuzz::ScriptHost::get();
  v8::Isolate* isolate = host.isolate();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = host.context();
  file.write(data, size);
  v8::Local<v8::Object> params = loadParams(isolate, file.path());
  if (!host.keepsPlainPrototype(params)) abort();
  v8::Local<v8::Array> names = params->GetOwnPropertyNames(context).ToLocalChecked();
  for (uint32_t i = 0; i < names->Length(); ++i) {
    v8::Local<v8::Value> value = params->Get(context, names->Get(context, i).ToLocalChecked()).ToLocalChecked();
    if (!value->IsObject() || !host.keepsPlainPrototype(value.As<v8::Object>())) abort();
  }
  if (v8::JSON::Stringify(context, params).IsEmpty()) abort();
  return 0;
}
