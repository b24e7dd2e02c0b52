// Shared pieces of the fuzz targets: quiet logging, an in-memory file for code that reads a
// path, and the script engine, set up once per process like an app child's (single-threaded
// platform, one isolate under the app heap limits, one context with the app's globals).
// Each target opens its own handle scope per input.
#ifndef TOBREL_FUZZ_SUPPORT_FUZZ_SUPPORT_H
#define TOBREL_FUZZ_SUPPORT_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include <v8.h>

#include "fuzz_common.h"
#include "tobrel_data.h"

namespace tobrel_fuzz {

// The bytes of one input as a file: a memory file reached through /proc/self/fd, rewritten for
// each input, so path-reading parsers see exactly these bytes and nothing touches the disk.
class InputFile {
 public:
  InputFile();
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  void write(const uint8_t* data, size_t size);
  const char* path() const { return path_.c_str(); }

 private:
  int fd_;
  std::string path_;
};

// The process's one app context. Its `tobrel` object has connect, start and stop and the led,
// button and rfid modules (granted by a fixed access list); the global object has the app's
// natives and `file`. The app record's socket is -1 until a target sets one.
class ScriptHost {
 public:
  // The host, made on first use. A target's LLVMFuzzerInitialize calls initTarget(), which
  // also quiets the logs.
  static ScriptHost& get();
  static void initTarget() {
    quietLogs();
    get();
  }

  v8::Isolate* isolate() const { return isolate_; }
  v8::Local<v8::Context> context() const { return context_.Get(isolate_); }
  TobrelData& app() { return app_; }

  // Compiles and runs `source` in the context; false (the exception aborts the run) when it
  // throws, since a target's own set-up script must never fail.
  v8::Local<v8::Value> run(const char* source);

  // True when `object`'s prototype is still Object.prototype: keys from outside input (such as
  // "__proto__") must land as own properties, never rewire the object.
  bool keepsPlainPrototype(v8::Local<v8::Object> object) const;

 private:
  ScriptHost();

  LauncherOptions options_;
  TobrelData app_;
  v8::Isolate* isolate_ = nullptr;
  v8::Global<v8::Context> context_;
  v8::Global<v8::Value> objectPrototype_;
};

}  // namespace tobrel_fuzz

#endif
