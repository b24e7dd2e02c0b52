// Data resources: script objects that stand for a local file (path in internal field 1), and
// the global `file` object that reads and writes files inside the app's own folder.
#ifndef TOBREL_VM_CORE_DATA_RESOURCE_H
#define TOBREL_VM_CORE_DATA_RESOURCE_H

#include <stdint.h>
#include <v8.h>

#include <memory>
#include <string>

// The whole content of one file: its bytes (new[]) and a NUL after them.
struct ResourceContent {
  ResourceContent() = default;
  ResourceContent(const ResourceContent&) = delete;
  ResourceContent& operator=(const ResourceContent&) = delete;
  ~ResourceContent();
  char* buf = nullptr;
  int32_t len = 0;  // bytes actually read
};

// A file object for `path`: two internal fields, the path in field 1. With `withText`, field 0
// holds a null external and the object gets the `text` accessor that reads the file anew;
// without, field 0 stays empty (the photo and recording objects).
v8::Local<v8::Object> newFileObject(v8::Isolate* isolate, const char* path, bool withText);

// Whether `value` is a file object: an object of two internal fields or more.
bool isFileObject(v8::Local<v8::Value> value);

// The ASCII form of a file object's path (internal field 1); false with the conversion's
// exception pending.
bool fileObjectPath(v8::Isolate* isolate, v8::Local<v8::Object> fileObject, std::string* path);

// A DataResource for `path`, with the `text` accessor.
v8::Local<v8::Object> getDataResource(const char* path);

// The whole file (whole_file.h), or null (after a WARNING with the system's error text) when it
// cannot be opened, examined or read, is not a regular file or does not fit in memory.
std::unique_ptr<ResourceContent> loadResourceFile(const char* path);

void resourceTextGetter(v8::Local<v8::String> property, const v8::PropertyCallbackInfo<v8::Value>& info);
void resourceTextSetter(v8::Local<v8::String> property, v8::Local<v8::Value> value,
                        const v8::PropertyCallbackInfo<void>& info);

// file.read(name) and file.write(name, text)
void FileFunctionRead(const v8::FunctionCallbackInfo<v8::Value>& args);
void FileFunctionWrite(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
