// DataResource objects and the `file` object. Reading `text` reads the whole file every time,
// so a script always sees the file as it is now; nothing is cached.
#include "data_resource.h"

#include <errno.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "script.h"
#include "tobrel_data.h"
#include "whole_file.h"

using v8::External;
using v8::FunctionCallbackInfo;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::ObjectTemplate;
using v8::PropertyCallbackInfo;
using v8::String;
using v8::Value;

namespace {

// The app-file path for args[0], or false after throwing (a refused name) or with the
// conversion's exception pending.
bool checkedAppPath(const FunctionCallbackInfo<Value>& args, std::string* path) {
  Isolate* isolate = args.GetIsolate();
  std::string name;
  if (!checkAppPath(isolate, args[0], &name)) return false;
  *path = appFilePath(*appData(isolate), name.c_str(), kAppDataPathBytes);
  return true;
}

void throwCannotOpen(Isolate* isolate, const std::string& path) {
  throwText(isolate, ("cannot open resource: " + path).c_str());
}

}  // namespace

ResourceContent::~ResourceContent() { delete[] buf; }

Local<Object> newFileObject(Isolate* isolate, const char* path, bool withText) {
  v8::EscapableHandleScope scope(isolate);
  Local<ObjectTemplate> shape = ObjectTemplate::New(isolate);
  shape->SetInternalFieldCount(2);
  if (withText) shape->SetAccessor(newString(isolate, "text"), resourceTextGetter, resourceTextSetter);
  Local<Object> object = shape->NewInstance(isolate->GetCurrentContext()).ToLocalChecked();
  if (withText) object->SetInternalField(0, External::New(isolate, nullptr));
  object->SetInternalField(1, newString(isolate, path));
  return scope.Escape(object);
}

bool isFileObject(Local<Value> value) { return value->IsObject() && value.As<Object>()->InternalFieldCount() > 1; }

bool fileObjectPath(Isolate* isolate, Local<Object> fileObject, std::string* path) {
  return asciiValue(isolate, fileObject->GetInternalField(1), path);
}

Local<Object> getDataResource(const char* path) {
  g_debug("getDataResource(%s)", path);
  return newFileObject(Isolate::GetCurrent(), path, true);
}

std::unique_ptr<ResourceContent> loadResourceFile(const char* path) {
  WholeFile file;
  // Its length is a signed 32-bit count.
  const int error = readWholeFile(path, &file, INT32_MAX - 1);
  if (error != 0) {
    g_warning("%s", strerror(error));
    return nullptr;
  }
  auto content = std::make_unique<ResourceContent>();
  content->buf = file.bytes.release();
  content->len = static_cast<int32_t>(file.size);
  return content;
}

void resourceTextGetter(Local<String> /*property*/, const PropertyCallbackInfo<Value>& info) {
  Isolate* isolate = info.GetIsolate();
  Local<Object> holder = info.Holder();
  std::string path;
  if (!isFileObject(holder) || !fileObjectPath(isolate, holder, &path)) return;
  g_message("path %s", path.c_str());
  std::unique_ptr<ResourceContent> content = loadResourceFile(path.c_str());
  if (content == nullptr) return throwCannotOpen(isolate, path);
  info.GetReturnValue().Set(newString(isolate, content->buf));
}

void resourceTextSetter(Local<String> /*property*/, Local<Value> /*value*/, const PropertyCallbackInfo<void>& /*info*/) {
  // Assigning changes nothing: the next read returns the file's content.
}

void FileFunctionRead(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 1 || !args[0]->IsString()) return throwText(isolate, "Signature error function");
  std::string path;
  if (!checkedAppPath(args, &path)) return;
  // The file is not looked at here: a missing one shows when `text` is read.
  args.GetReturnValue().Set(getDataResource(path.c_str()));
}

void FileFunctionWrite(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 2 || !args[0]->IsString() || !args[1]->IsString()) {
    return throwText(isolate, "Signature error function");
  }
  std::string path;
  if (!checkedAppPath(args, &path)) return;
  std::string text;  // one byte per character, as stored files have always been written
  if (!asciiValue(isolate, args[1], &text)) return;
  FILE* file = fopen(path.c_str(), "w+");
  if (file == nullptr) {
    g_warning("%s", strerror(errno));
    return throwCannotOpen(isolate, path);
  }
  const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  const int writeError = errno;
  const bool closed = fclose(file) == 0;
  if (!written || !closed) {
    g_warning("%s", strerror(!written ? writeError : errno));
    return throwCannotOpen(isolate, path);
  }
}
