// A small script engine fixture for unit tests: one app-sized isolate and one entered context
// per test, a script runner, and a private folder for fixture files.
#ifndef TOBREL_TESTS_VM_CORE_CONTEXT_FIXTURE_H
#define TOBREL_TESTS_VM_CORE_CONTEXT_FIXTURE_H

#include <gtest/gtest.h>
#include <v8.h>

#include <optional>
#include <string>

#include "engine.h"
#include "temp_dir.h"

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    isolate = newAppIsolate();
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
    disposeAppIsolate(isolate);
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
  tobrel_test::TempDir files;

 private:
  std::optional<v8::HandleScope> scope_;
};

#endif
