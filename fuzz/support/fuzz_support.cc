// The fuzz targets' shared set-up (see fuzz_support.h).
#include "fuzz_support.h"

#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "app.h"
#include "data_resource.h"
#include "descriptor.h"
#include "engine.h"
#include "modules.h"

namespace tobrel_fuzz {

namespace {

// The access list every host context is built from.
const char kDescriptor[] =
    "<descriptor><accesses><access>led</access><access>button</access><access>rfid</access>"
    "</accesses></descriptor>";

}  // namespace

InputFile::InputFile() : fd_(memfd_create("fuzz-input", 0)) {
  if (fd_ < 0) {
    perror("memfd_create");
    abort();
  }
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

InputFile::~InputFile() { close(fd_); }

void InputFile::write(const uint8_t* data, size_t size) {
  if (ftruncate(fd_, 0) != 0 || (size > 0 && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size))) {
    perror("input file");
    abort();
  }
}

ScriptHost& ScriptHost::get() {
  static ScriptHost* host = new ScriptHost();  // never destroyed: the engine outlives exit
  return *host;
}

ScriptHost::ScriptHost() {
  options_.appFolder = "/nonexistent";
  app_.options = &options_;
  app_.appName = "fuzz";
  app_.loop = g_main_loop_new(nullptr, FALSE);
  isolate_ = newAppIsolate();
  isolate_->Enter();
  v8::HandleScope scope(isolate_);

  InputFile descriptorFile;
  descriptorFile.write(reinterpret_cast<const uint8_t*>(kDescriptor), sizeof kDescriptor - 1);
  Descriptor descriptor(descriptorFile.path());

  v8::Local<v8::ObjectTemplate> global = createGlobalTemplate(isolate_);
  v8::Local<v8::ObjectTemplate> tobrel = v8::ObjectTemplate::New(isolate_);
  installModules(isolate_, global, tobrel, descriptor);
  setLinkFunctions(isolate_, tobrel);
  global->Set(isolate_, "tobrel", tobrel);
  global->Set(isolate_, "file", createFileTemplate(isolate_));
  v8::Local<v8::Context> context = v8::Context::New(isolate_, nullptr, global);
  context->Global()->SetAlignedPointerInInternalField(0, &app_);
  context->Enter();  // stays entered for the life of the process
  context_.Reset(isolate_, context);
  objectPrototype_.Reset(isolate_, v8::Object::New(isolate_)->GetPrototype());
}

v8::Local<v8::Value> ScriptHost::run(const char* source) {
  v8::EscapableHandleScope scope(isolate_);
  v8::Local<v8::Context> context = this->context();
  v8::TryCatch tryCatch(isolate_);
  v8::Local<v8::Script> script;
  v8::Local<v8::Value> result;
  if (!v8::Script::Compile(context, v8::String::NewFromUtf8(isolate_, source).ToLocalChecked()).ToLocal(&script) ||
      !script->Run(context).ToLocal(&result)) {
    v8::String::Utf8Value text(isolate_, tryCatch.Exception());
    fprintf(stderr, "fuzz set-up script threw: %s\n", *text != nullptr ? *text : "?");
    abort();
  }
  return scope.Escape(result);
}

bool ScriptHost::keepsPlainPrototype(v8::Local<v8::Object> object) const {
  return object->GetPrototype()->StrictEquals(objectPrototype_.Get(isolate_));
}

}  // namespace tobrel_fuzz

// The script engine keeps pointers to its own allocations inside pages that the leak checker
// does not scan (as tests/lsan.supp says for the test suite); built in, so a target needs no
// environment to run.
extern "C" const char* __lsan_default_suppressions() { return "leak:libnode.so\n"; }
