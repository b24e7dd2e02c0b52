// A small script engine fixture for unit tests: one isolate and one entered context per test,
// helpers to run a script and to write fixture files into a private temporary folder.
#ifndef TOBREL_TESTS_VM_CORE_SCRIPT_ENV_H
#define TOBREL_TESTS_VM_CORE_SCRIPT_ENV_H

#include <glib.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <libplatform/libplatform.h>
#include <v8.h>

#include <memory>
#include <optional>
#include <string>

// A private temporary folder for fixture files, removed after the test.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tobrel-test-XXXXXX";
    dir = g_mkdtemp(tmpl);
  }

  void TearDown() override { removeTree(dir); }

  // Writes a fixture file into the test's folder and returns its path.
  std::string writeFile(const std::string& name, const std::string& content) {
    std::string path = dir + "/" + name;
    EXPECT_TRUE(g_file_set_contents(path.c_str(), content.data(), static_cast<gssize>(content.size()), nullptr));
    return path;
  }

  std::string dir;

 private:
  static void removeTree(const std::string& path) {
    if (GDir* d = g_dir_open(path.c_str(), 0, nullptr)) {
      while (const char* entry = g_dir_read_name(d)) {
        const std::string child = path + "/" + entry;
        if (g_file_test(child.c_str(), G_FILE_TEST_IS_DIR)) removeTree(child);
        else g_unlink(child.c_str());
      }
      g_dir_close(d);
    }
    g_rmdir(path.c_str());
  }
};

class ScriptEnv : public TempDirTest {
 protected:
  static void SetUpTestSuite() {
    static std::unique_ptr<v8::Platform> platform;
    if (platform) return;
    v8::V8::SetFlagsFromString("--single-threaded");
    platform = v8::platform::NewSingleThreadedDefaultPlatform();
    v8::V8::InitializePlatform(platform.get());
    v8::V8::Initialize();
  }

  void SetUp() override {
    TempDirTest::SetUp();
    allocator_.reset(v8::ArrayBuffer::Allocator::NewDefaultAllocator());
    v8::Isolate::CreateParams params;
    params.array_buffer_allocator = allocator_.get();
    isolate = v8::Isolate::New(params);
    isolate->Enter();
    scope_.emplace(isolate);
    context = v8::Context::New(isolate);
    context->Enter();
  }

  void TearDown() override {
    context->Exit();
    context.Clear();
    scope_.reset();
    isolate->Exit();
    isolate->Dispose();
    TempDirTest::TearDown();
  }

  // Runs a script in the test's context; its result as a string, or "threw: <text>".
  std::string run(const std::string& source) {
    v8::TryCatch tc(isolate);
    v8::Local<v8::String> src = v8::String::NewFromUtf8(isolate, source.c_str()).ToLocalChecked();
    v8::Local<v8::Script> script;
    v8::Local<v8::Value> result;
    if (!v8::Script::Compile(context, src).ToLocal(&script) || !script->Run(context).ToLocal(&result)) {
      v8::String::Utf8Value text(isolate, tc.Exception());
      return std::string("threw: ") + (*text ? *text : "?");
    }
    v8::String::Utf8Value text(isolate, result);
    return *text ? *text : "";
  }

  void setGlobal(const char* name, v8::Local<v8::Value> value) {
    context->Global()->Set(context, v8::String::NewFromUtf8(isolate, name).ToLocalChecked(), value).Check();
  }

  v8::Isolate* isolate = nullptr;
  v8::Local<v8::Context> context;

 private:
  std::unique_ptr<v8::ArrayBuffer::Allocator> allocator_;
  std::optional<v8::HandleScope> scope_;
};

#endif
