// descriptor.xml: any bytes as the app's access list, read as start-up reads it, then asked
// about every access word and handed to the module gate that builds the app's objects.
#include <libxml/parser.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "descriptor.h"
#include "fuzz_support.h"
#include "modules.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::ScriptHost::initTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tobrel_fuzz::InputFile file;
  file.write(data, size);
  // A file that is no document ends the app before its script runs (by design): not a finding.
  xmlDocPtr probe = xmlReadFile(file.path(), nullptr, 0);
  if (probe == nullptr) return 0;
  xmlFreeDoc(probe);

  Descriptor descriptor(file.path());
  const int count = descriptor.accessCount();
  if (descriptor.accessName(-1) != nullptr || descriptor.accessName(count) != nullptr) abort();
  for (int i = 0; i < count; ++i) {
    const char* word = descriptor.accessName(i);
    if (word != nullptr && !descriptor.hasAccess(word)) abort();
  }
  for (const ModuleRow& row : moduleTable())
    if (row.access != nullptr) descriptor.hasAccess(row.access);

  tobrel_fuzz::ScriptHost& host = tobrel_fuzz::ScriptHost::get();
  v8::Isolate* isolate = host.isolate();
  v8::HandleScope scope(isolate);
  installModules(isolate, v8::ObjectTemplate::New(isolate), v8::ObjectTemplate::New(isolate), descriptor);
  return 0;
}
