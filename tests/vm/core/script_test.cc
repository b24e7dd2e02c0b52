// The shared script helpers, in the test process's own engine: the guarded call, the two
// string conversions, the caret line and the exception report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine.h"
#include "log_capture.h"
#include "script.h"
#include "tobrel_data.h"

using tobrel_test::LogCapture;
using v8::Context;
using v8::Function;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::ObjectTemplate;
using v8::Script;
using v8::String;
using v8::TryCatch;
using v8::Value;

namespace {

// One isolate and one app-like context (global with internal field 0) per test.
class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    isolate_ = newAppIsolate();
    isolate_->Enter();
    scope_.emplace(isolate_);
    Local<ObjectTemplate> global = ObjectTemplate::New(isolate_);
    global->SetInternalFieldCount(1);
    context_ = Context::New(isolate_, nullptr, global);
    context_->Enter();
    context_->Global()->SetAlignedPointerInInternalField(0, &data_);
  }
  void TearDown() override {
    context_->Exit();
    scope_.reset();
    isolate_->Exit();
    disposeAppIsolate(isolate_);
  }
  Local<Value> eval(const char* source) {
    Local<Script> script = Script::Compile(context_, newString(isolate_, source)).ToLocalChecked();
    return script->Run(context_).ToLocalChecked();
  }

  Isolate* isolate_ = nullptr;
  std::optional<HandleScope> scope_;
  Local<Context> context_;
  TobrelData data_;
};

}  // namespace

TEST_F(ScriptTest, AppDataIsTheGlobalsFirstInternalField) {
  EXPECT_EQ(appData(isolate_), &data_);
  EXPECT_EQ(appData(context_), &data_);
}

TEST_F(ScriptTest, CallIsTrueOnlyForBooleanTrueAndTheReceiverIsTheFunction) {
  const struct {
    const char* body;
    bool result;
  } cases[] = {
      {"return true;", true},   {"return this === f;", true}, {"return 1;", false},
      {"return 'true';", false}, {"return;", false},           {"return new Boolean(true);", false},
  };
  for (const auto& c : cases) {
    const std::string source = std::string("var f = function() { ") + c.body + " }; f";
    Local<Function> fn = eval(source.c_str()).As<Function>();
    EXPECT_EQ(callScriptFunction(isolate_, fn), c.result) << c.body;
  }
}

TEST_F(ScriptTest, CallPassesArgumentsAndReportsAThrowWithoutAborting) {
  Local<Function> fn = eval("(function(a, b) { return a + b === 5; })").As<Function>();
  Local<Value> args[] = {v8::Integer::New(isolate_, 2), v8::Integer::New(isolate_, 3)};
  EXPECT_TRUE(callScriptFunction(isolate_, fn, 2, args));

  LogCapture logs;
  Local<Function> thrower = eval("(function() {\n  throw new Error('bad tick');\n})").As<Function>();
  EXPECT_FALSE(callScriptFunction(isolate_, thrower));
  const auto warnings = logs.messages(G_LOG_LEVEL_WARNING);
  ASSERT_GE(warnings.size(), 3u);
  EXPECT_EQ(warnings[0], "undefined:2: Error: bad tick");
  EXPECT_EQ(warnings[1], "  throw new Error('bad tick');");
  EXPECT_EQ(warnings[2], "  ^");
  ASSERT_EQ(warnings.size(), 4u);
  EXPECT_THAT(warnings[3], ::testing::StartsWith("Error: bad tick\n    at "));

  // A thrown value without a message (an exception re-thrown from native code) is one line.
  logs.clear();
  {
    TryCatch tryCatch(isolate_);
    tryCatch.SetCaptureMessage(false);
    isolate_->ThrowException(newString(isolate_, "bare"));
    reportExceptionWarning(isolate_, &tryCatch);
  }
  EXPECT_EQ(logs.messages(G_LOG_LEVEL_WARNING), std::vector<std::string>{"bare"});
}

TEST_F(ScriptTest, AsciiFormKeepsTheLowByteOfEachUnitAndUtf8FormEncodes) {
  const struct {
    const char* expression;
    std::string ascii, utf8;
  } cases[] = {
      {"'abc'", "abc", "abc"},
      {"'\\u00e9'", "\xE9", "\xC3\xA9"},
      {"'\\u20ac'", "\xAC", "\xE2\x82\xAC"},
      {"42", "42", "42"},
      {"({})", "[object Object]", "[object Object]"},
      {"''", "", ""},
      {"'a\\u0000b'", std::string("a\0b", 3), std::string("a\0b", 3)},
      // A pair is one character; a lone or reversed surrogate is not UTF-8 and becomes U+FFFD.
      {"'\\ud83d\\ude00'", std::string("\x3d\0", 2), "\xF0\x9F\x98\x80"},
      {"'a\\ud800b'", std::string("a\0b", 3), "a\xEF\xBF\xBD" "b"},
      {"'\\udfff'", std::string("\xFF", 1), "\xEF\xBF\xBD"},
      {"'\\ude00\\ud83d'", std::string("\0\x3d", 2), "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    Local<Value> value = eval(c.expression);
    std::string ascii, utf8;
    ASSERT_TRUE(asciiValue(isolate_, value, &ascii));
    ASSERT_TRUE(utf8Value(isolate_, value, &utf8));
    EXPECT_EQ(ascii, c.ascii) << c.expression;
    EXPECT_EQ(utf8, c.utf8) << c.expression;
  }
}

TEST_F(ScriptTest, ConversionThatThrowsReportsFailureAndLeavesTheException) {
  Local<Value> value = eval("({ toString: function() { throw 'no text'; } })");
  for (int form = 0; form < 2; ++form) {
    TryCatch tryCatch(isolate_);
    std::string out = "untouched";
    const bool ok = form == 0 ? asciiValue(isolate_, value, &out) : utf8Value(isolate_, value, &out);
    EXPECT_FALSE(ok);
    ASSERT_TRUE(tryCatch.HasCaught());
    String::Utf8Value text(isolate_, tryCatch.Exception());
    EXPECT_STREQ(*text, "no text");
  }
}

TEST_F(ScriptTest, ThrowTextThrowsTheBareString) {
  TryCatch tryCatch(isolate_);
  throwText(isolate_, "Wrong arguments");
  ASSERT_TRUE(tryCatch.HasCaught());
  EXPECT_TRUE(tryCatch.Exception()->IsString());
  String::Utf8Value text(isolate_, tryCatch.Exception());
  EXPECT_STREQ(*text, "Wrong arguments");
}

TEST(CaretLine, Table) {
  const struct {
    int start, end;
    std::string line;
  } cases[] = {
      {0, 1, "^"},
      {3, 6, "   ^^^"},
      {2, 2, "  "},
      {4, 1, "    "},  // an end before the start gives no carets
      {-1, 5, ""},
      {1020, 1030, std::string(1020, ' ') + "^^^"},  // cut at 1023 characters
      {2000, 2001, std::string(1023, ' ')},
  };
  for (const auto& c : cases) EXPECT_EQ(caretLine(c.start, c.end), c.line) << c.start << ".." << c.end;
}
