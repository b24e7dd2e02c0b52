// The shared command helper and the named reply callbacks, through a command native written
// on the helper as module natives are: argument shapes, the interactive-mode test, what is
// sent, and what the script function hears from replies, photos and recordings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "callback_registry.h"
#include "command.h"
#include "event_callback.h"
#include "frame_codec.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "script_env.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::VReturnCode;
using tobrel_test::readFrame;
using tobrel_test::replyTo;
using tobrel_test::ScriptEnv;
using tobrel_test::writeFrame;
using v8::FunctionCallbackInfo;
using v8::Local;
using v8::Object;
using v8::Value;

namespace {

const char* const kGranted = "fedcba98-7654-3210-fedc-ba9876543210";

// light(colour[, fn]), as a module's command native reads.
void TestLight(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 1);
  std::string color;
  if (!call.ok() || !call.ascii(0, &color)) return;
  call.message().mutable_led()->mutable_light()->set_color(color);
  call.send("LED");
}

// reset([fn]) tests interactive mode before its arguments.
void TestReset(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 0, nullptr, CommandCall::Order::kInteractiveFirst);
  if (!call.ok()) return;
  call.message().mutable_ping();
  call.send("RESET");
}

// photo([fn]) and record([fn]) bind the file-object handlers.
void TestPhoto(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 0);
  if (!call.ok()) return;
  call.message().mutable_webcam();
  call.send("WEBCAM", EventCallbackWebcam);
}

void TestRecord(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 0);
  if (!call.ok()) return;
  call.message().mutable_multimedia();
  call.send("MutimediaRecord", EventCallbackRecord);
}

// call(a, b) in steps: exactly two arguments, a DEBUG line, then a check of its own, then
// interactive mode; and a reversed one: interactive mode first, then the shape.
void TestSteps(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  if (!call.exactly(2)) return;
  g_debug("steps: shape passed");
  if (!call.require(args[0]->IsString(), "Arg[0] Must be string") || !call.interactive()) return;
  call.message().mutable_ping();
  call.send("STEPS");
}

void TestReversed(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  // Every step after a failed one fails without throwing again.
  call.interactive();
  call.shape(1);
  if (!call.ok()) return;
  call.message().mutable_ping();
  call.send("REVERSED");
}

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = env.attachPeer();
    const std::pair<const char*, v8::FunctionCallback> natives[] = {
        {"light", TestLight}, {"reset", TestReset}, {"photo", TestPhoto}, {"record", TestRecord},
        {"steps", TestSteps},  {"reversed", TestReversed}};
    for (const auto& native : natives) env.setNative(native.first, native.second);
    env.run("var heard = [];");
  }
  void grant() { env.app().interactiveId = g_strdup(kGranted); }
  void deliver(const NuskMsg& msg) {
    writeFrame(daemon, msg);
    env.pollOnce();
  }
  // True when the app has written nothing more on the link.
  bool linkIsQuiet() {
    char byte;
    return recv(daemon, &byte, 1, MSG_DONTWAIT) < 0;
  }
  static NuskMsg event(const std::string& request, int code, const char* description = nullptr) {
    NuskMsg msg = replyTo(request, -1);
    msg.mutable_event();
    if (code > 0) msg.mutable_event()->set_code(static_cast<VReturnCode>(code));
    if (description != nullptr) msg.mutable_event()->set_description(description);
    return msg;
  }
  ScriptEnv env;
  int daemon = -1;
};

}  // namespace

TEST_F(Commands, TheArgumentCountAloneDecidesWhichArgumentIsTheCallback) {
  grant();
  struct Case {
    const char* call;
    const char* result;
    const char* color;  // sent colour; null: nothing sent
    bool bound;
  };
  const std::vector<Case> cases = {
      {"light()", "threw: Wrong arguments", nullptr, false},
      {"light('red', 5)", "threw: Wrong arguments", nullptr, false},
      {"light('red', 5, function() {})", "threw: Wrong arguments", nullptr, false},
      {"light('red')", "undefined", "red", false},
      {"light(255)", "undefined", "255", false},
      {"light('red', function() {})", "undefined", "red", true},
      {"light(function() {})", "undefined", "function() {}", false},
      // Text outside ASCII travels one byte per character: the low 8 bits of each unit.
      {"light('caf\\u00e9')", "undefined", "caf\xe9", false},
      {"light('\\u20ac\\u0141')", "undefined", "\xac\x41", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    clearCallbacks();
    EXPECT_EQ(env.run(c.call), c.result);
    if (c.color == nullptr) {
      EXPECT_TRUE(linkIsQuiet());
      continue;
    }
    NuskMsg sent = readFrame(daemon);
    EXPECT_EQ(sent.led().light().color(), c.color);
    EXPECT_EQ(sent.interactiveid(), kGranted);
    EXPECT_EQ(sent.id().size(), 36u);
    EXPECT_EQ(callbackCount(), c.bound ? 1u : 0u);
  }
}

TEST_F(Commands, OutsideInteractiveModeNothingIsSentAndTheShapeIsTestedFirst) {
  EXPECT_EQ(env.run("light('red', function() {})"), "threw: Must be in interactive mode");
  EXPECT_EQ(env.run("light()"), "threw: Wrong arguments");
  // The natives that test interactive mode first say so even for a wrong shape.
  EXPECT_EQ(env.run("reset(1, 2)"), "threw: Must be in interactive mode");
  EXPECT_TRUE(linkIsQuiet());
  EXPECT_EQ(callbackCount(), 0u);
  grant();
  EXPECT_EQ(env.run("reset(1, 2)"), "threw: Wrong arguments");
}

TEST_F(Commands, StepsRunInTheNativesOwnOrderAndStopAtTheFirstFailure) {
  struct Case {
    bool interactive;
    const char* call;
    const char* result;
    bool sent;
  };
  const std::vector<Case> cases = {
      {false, "steps('a')", "threw: Wrong arguments", false},
      {false, "steps('a', function() {})", "threw: Must be in interactive mode", false},
      {false, "steps(1, 2)", "threw: Arg[0] Must be string", false},
      {true, "steps('a', 2, function() {})", "threw: Wrong arguments", false},  // no callback form
      {true, "steps('a', function() {})", "undefined", true},
      {false, "reversed(1, 2)", "threw: Must be in interactive mode", false},
      {true, "reversed(1, 2)", "threw: Wrong arguments", false},
      {true, "reversed(1, function() {})", "undefined", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    clearCallbacks();
    g_free(env.app().interactiveId);
    env.app().interactiveId = c.interactive ? g_strdup(kGranted) : nullptr;
    EXPECT_EQ(env.run(c.call), c.result);
    if (!c.sent) {
      EXPECT_TRUE(linkIsQuiet());
      EXPECT_EQ(callbackCount(), 0u);
      continue;
    }
    EXPECT_TRUE(readFrame(daemon).has_ping());
  }
  EXPECT_TRUE(env.logged("steps: shape passed"));
  EXPECT_EQ(callbackCount(), 1u);  // the last call bound its callback
}

TEST_F(Commands, AConversionThatThrowsSendsNothingAndTheScriptSeesItsOwnException) {
  grant();
  EXPECT_EQ(env.run("light({toString: function() { throw 'boom'; }}, function() {})"), "threw: boom");
  EXPECT_TRUE(linkIsQuiet());
  EXPECT_EQ(callbackCount(), 0u);
}

TEST_F(Commands, TheCallbackHearsTheNameOfEveryCodeOfItsRequest) {
  grant();
  env.run("light('red', function(code) { heard.push(code); })");
  const std::string request = readFrame(daemon).id();
  deliver(replyTo(request, net::zolvek::nusk::message::OK));
  deliver(event(request, net::zolvek::nusk::message::TERMINATED));
  NuskMsg both = replyTo(request, net::zolvek::nusk::message::BUSY);
  both.mutable_event()->set_code(net::zolvek::nusk::message::NOT_CONNECTED);
  deliver(both);
  NuskMsg noResponseCode = replyTo(request, 0);
  noResponseCode.mutable_event()->set_code(net::zolvek::nusk::message::ERROR);
  deliver(noResponseCode);
  deliver(replyTo(request, -1));  // neither part: not called
  EXPECT_EQ(env.run("heard.join()"), "OK,TERMINATED,BUSY,NOT_CONNECTED,ERROR");
  EXPECT_TRUE(env.logged("Event: LED"));
}

// A code that the schema does not know is no code at all: it stays among the unknown fields,
// so the function is not called for it, and later codes still reach it.
TEST_F(Commands, AnUnknownResultCodeCallsNothing) {
  grant();
  env.run("light('red', function(code) { heard.push(code); })");
  const std::string request = readFrame(daemon).id();
  std::string payload = replyTo(request, -1).SerializeAsString();
  // response (field 200, length-delimited) holding code (field 1) = 42.
  payload += std::string("\xc2\x0c\x02\x08\x2a", 5);
  unsigned char header[tobrel::frame::kHeaderSize];
  tobrel::frame::encodeLength(static_cast<uint32_t>(payload.size()), header);
  tobrel_test::writeBytes(daemon, std::string(reinterpret_cast<char*>(header), sizeof header) + payload);
  env.pollOnce();
  EXPECT_EQ(env.run("heard.length"), "0");
  deliver(replyTo(request, net::zolvek::nusk::message::OK));
  EXPECT_EQ(env.run("heard.join()"), "OK");
}

TEST_F(Commands, EachRequestReachesOnlyItsOwnFunction) {
  grant();
  env.run("light('a', function(c) { heard.push('a:' + c); }); light('b', function(c) { heard.push('b:' + c); });");
  const std::string first = readFrame(daemon).id();
  const std::string second = readFrame(daemon).id();
  EXPECT_NE(first, second);
  deliver(replyTo(first, net::zolvek::nusk::message::OK));
  EXPECT_EQ(env.run("heard.join()"), "a:OK");
}

TEST_F(Commands, AFunctionThatThrowsIsReportedAndHearsLaterMessagesToo) {
  grant();
  env.run("light('red', function(code) { heard.push(code); throw 'bad'; })");
  const std::string request = readFrame(daemon).id();
  deliver(replyTo(request, net::zolvek::nusk::message::OK));
  deliver(event(request, net::zolvek::nusk::message::TERMINATED));
  EXPECT_EQ(env.run("heard.join()"), "OK,TERMINATED");
  EXPECT_TRUE(env.loggedPart("bad"));
}

// The photo and recording handlers: a response object with only "type", then an event object
// with "type", "description" and a file object "data" whose field 1 holds the file's path.
TEST_F(Commands, PhotoAndRecordingRepliesCarryFileObjects) {
  grant();
  struct Case {
    const char* call;
    const char* path;
  };
  for (const Case& c : {Case{"photo", "/tmp/picture.jpg"}, Case{"record", "/tmp/record.flac"}}) {
    SCOPED_TRACE(c.call);
    env.run(std::string("heard = []; ") + c.call + "(function(o) { heard.push(o); })");
    const std::string request = readFrame(daemon).id();
    deliver(replyTo(request, net::zolvek::nusk::message::OK));
    deliver(event(request, net::zolvek::nusk::message::OK, "done"));
    deliver(event(request, 0));  // an event without its code still names the file
    EXPECT_EQ(env.run("heard.length"), "3");
    EXPECT_EQ(env.run("JSON.stringify(Object.keys(heard[0])) + heard[0].type"), "[\"type\"]OK");
    EXPECT_EQ(env.run("JSON.stringify(Object.keys(heard[1])) + heard[1].type + heard[1].description"),
              "[\"type\",\"description\",\"data\"]OKdone");
    EXPECT_EQ(env.run("JSON.stringify(Object.keys(heard[2]))"), "[\"data\"]");
    EXPECT_EQ(env.run("'text' in heard[1].data"), "false");
    v8::HandleScope scope(env.isolate());
    for (const char* index : {"heard[1].data", "heard[2].data"}) {
      Local<Value> value = v8::Script::Compile(env.context(), newString(env.isolate(), index))
                               .ToLocalChecked()->Run(env.context()).ToLocalChecked();
      ASSERT_TRUE(value->IsObject());
      Local<Object> file = value.As<Object>();
      ASSERT_EQ(file->InternalFieldCount(), 2);
      v8::String::Utf8Value path(env.isolate(), file->GetInternalField(1));
      EXPECT_STREQ(*path, c.path);
    }
  }
}

TEST_F(Commands, ExpiredRecordsAreReleasedWithTheirEntries) {
  static gint64 now = 0;
  setCallbackClock([]() { return now; });
  grant();
  env.run("light('a', function() {})");
  readFrame(daemon);
  now += kCallbackLifetimeSeconds + 1;
  env.run("light('b', function() {})");
  readFrame(daemon);
  EXPECT_EQ(callbackCount(), 1u);
  setCallbackClock(nullptr);
}
