// DataResource objects and the `file` object. Reading `text` reads the whole file every time,
// so a script always sees the file as it is now; nothing is cached.
#include "data_resource.h"

#include <errno.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "modules.h"
#include "script.h"
#include "tobrel_data.h"
#include "utils.h"

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

constexpr size_t kAppFilePathBytes = 512;  // a longer path is cut to 511 characters

std::string appDataPath(const TobrelData& app, const std::string& name) {
  char path[kAppFilePathBytes];
  // The name is joined unchanged: one that begins with "/" still lands inside the app folder.
  snprintf(path, sizeof path, "%s/%s/%s", app.options->appFolder, app.appName.c_str(), name.c_str());
  return path;
}

// The app-file path for args[0], or false after throwing (a refused name) or with the
// conversion's exception pending.
bool checkedAppPath(const FunctionCallbackInfo<Value>& args, std::string* path) {
  Isolate* isolate = args.GetIsolate();
  std::string name;
  if (!asciiValue(isolate, args[0], &name)) return false;
  // The check runs on the very bytes that will name the file.
  if (isForbiddenPath(name.c_str()) != 0) {
    g_warning("access denied: %s", name.c_str());
    std::string shown;
    if (!utf8Value(isolate, args[0], &shown)) return false;
    throwText(isolate, ("access denied: " + shown).c_str());
    return false;
  }
  *path = appDataPath(*appData(isolate), name);
  return true;
}

void throwCannotOpen(Isolate* isolate, const std::string& path) {
  throwText(isolate, ("cannot open resource: " + path).c_str());
}

// Null after the WARNING with `error`'s text; closes `file` when given.
std::unique_ptr<ResourceContent> failLoad(FILE* file, int error) {
  g_warning("%s", strerror(error));
  if (file != nullptr) fclose(file);
  return nullptr;
}

}  // namespace

ResourceContent::~ResourceContent() { g_free(buf); }

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

Local<Object> getDataResource(const char* path) {
  g_debug("getDataResource(%s)", path);
  return newFileObject(Isolate::GetCurrent(), path, true);
}

std::unique_ptr<ResourceContent> loadResourceFile(const char* path) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) return failLoad(nullptr, errno);
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return failLoad(file, errno);
  // A directory or a device has no content to hand over as text.
  if (!S_ISREG(info.st_mode)) return failLoad(file, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
  if (info.st_size > INT32_MAX - 1) return failLoad(file, EFBIG);
  auto content = std::make_unique<ResourceContent>();
  content->buf = static_cast<char*>(g_try_malloc(static_cast<size_t>(info.st_size) + 1));
  if (content->buf == nullptr) return failLoad(file, ENOMEM);
  const size_t got = fread(content->buf, 1, static_cast<size_t>(info.st_size), file);
  if (ferror(file) != 0) return failLoad(file, errno != 0 ? errno : EIO);
  fclose(file);
  // After the bytes actually read: a file that shrank meanwhile leaves no stale heap bytes.
  content->buf[got] = '\0';
  content->len = static_cast<int32_t>(got);
  return content;
}

void resourceTextGetter(Local<String> /*property*/, const PropertyCallbackInfo<Value>& info) {
  Isolate* isolate = info.GetIsolate();
  Local<Object> holder = info.Holder();
  if (holder->InternalFieldCount() < 2) return;
  std::string path;
  if (!asciiValue(isolate, holder->GetInternalField(1), &path)) return;
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

Local<ObjectTemplate> createFileTemplate(Isolate* isolate) {
  // Its methods are named in the binding table with every other module object's.
  return createModuleTemplate(isolate, *findModule("file"));
}
