// Semantic XML to script objects: any text as a recognition's meaning, turned into properties
// of a fresh object. Every object made keeps its plain prototype whatever the element names
// are, the leaves hold no more text than the input could (no entity expansion), libxml2 never
// holds much more memory than the text's size calls for (no attribute defaults copied into
// every element), and the result survives JSON.stringify. semantic.options limits the time of
// one input, so that a parse whose cost grows faster than the text (very many attributes in one
// start tag) is a finding too.
#include <libxml/xmlmemory.h>
#include <malloc.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "semantic.h"

namespace {

// Walks the objects that the conversion made (strings are leaves), adding up the leaves' length.
bool plainAll(tobrel_fuzz::ScriptHost& host, v8::Local<v8::Object> object, int depth, size_t* text) {
  if (!host.keepsPlainPrototype(object)) return false;
  if (depth > 64) return true;  // deep documents: the top levels are enough
  v8::Local<v8::Context> context = host.context();
  v8::Local<v8::Array> names = object->GetOwnPropertyNames(context).ToLocalChecked();
  for (uint32_t i = 0; i < names->Length(); ++i) {
    v8::Local<v8::Value> value = object->Get(context, names->Get(context, i).ToLocalChecked()).ToLocalChecked();
    if (value->IsObject() && !plainAll(host, value.As<v8::Object>(), depth + 1, text)) return false;
    if (!value->IsObject() && !value->IsString()) return false;
    if (value->IsString()) *text += static_cast<size_t>(value.As<v8::String>()->Length());
  }
  return true;
}

// What libxml2 holds, and the most it held since the last reset: every one of its allocations
// goes through these.
size_t xmlLive = 0;
size_t xmlPeak = 0;

void* countedAdd(void* block) {
  if (block != nullptr) xmlLive += malloc_usable_size(block);
  if (xmlLive > xmlPeak) xmlPeak = xmlLive;
  return block;
}
void countedFree(void* block) {
  if (block != nullptr) xmlLive -= malloc_usable_size(block);
  free(block);
}
void* countedMalloc(size_t size) { return countedAdd(malloc(size)); }
void* countedRealloc(void* block, size_t size) {
  const size_t before = block != nullptr ? malloc_usable_size(block) : 0;
  void* grown = realloc(block, size);
  if (grown == nullptr) return nullptr;
  xmlLive -= before;
  return countedAdd(grown);
}
char* countedStrdup(const char* text) { return static_cast<char*>(countedAdd(strdup(text))); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Before libxml2 allocates anything.
  xmlMemSetup(countedFree, countedMalloc, countedRealloc, countedStrdup);
  tobrel_fuzz::ScriptHost::initTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tobrel_fuzz::ScriptHost& host = tobrel_fuzz::ScriptHost::get();
  v8::Isolate* isolate = host.isolate();
  v8::HandleScope scope(isolate);
  // The text reaches the parser as a C string, as both callers hand it over.
  const std::string text(reinterpret_cast<const char*>(data), size);
  v8::Local<v8::Object> target = v8::Object::New(isolate);
  xmlPeak = xmlLive;
  const size_t held = xmlLive;
  parseSemantic(isolate, text.c_str(), target);
  // A tree takes some tens of bytes for each byte of markup; hundreds of times the text mean
  // that something was copied for every element.
  if (xmlPeak - held > 100 * size + (16u << 20)) abort();
  size_t leafText = 0;
  if (!plainAll(host, target, 0, &leafText)) abort();
  // Every leaf character comes from bytes of its own in the input (a declared encoding may
  // widen a little); far more means a reference was expanded.
  if (leafText > 4 * size + 64) abort();
  v8::TryCatch tryCatch(isolate);
  // Deep nesting may exceed the engine's stack in stringify: a thrown RangeError, not a crash.
  (void)v8::JSON::Stringify(host.context(), target);
  return 0;
}
