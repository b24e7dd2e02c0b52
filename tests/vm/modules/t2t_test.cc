// The device-to-device call natives in a real app child against the message-daemon stand-in:
// exact argument counts, the conversions (UTF-8 texts, the script's truth value), the masked
// password, and the call-event listener's objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_app.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;

namespace {

std::string answered(bool accept) { return std::string("answer { accept: ") + (accept ? "true" : "false") + " }"; }

}  // namespace

TEST(T2t, CallsAreRefusedOrSentWithTheirRequest) {
  const std::vector<CallCase> cases = {
      {"call()", "threw Wrong arguments", ""},
      {"call('a', 'b')", "threw Wrong arguments", ""},
      {"call('a', function () {})", "threw Wrong arguments", ""},
      {"call('sip:bob@example.org')", "returned undefined", "call { address: \"sip:bob@example.org\" }"},
      {"call(42)", "returned undefined", "call { address: \"42\" }"},
      // UTF-8: the three bytes of U+20AC
      {"call('\\u20ac')", "returned undefined", "call { address: \"\\342\\202\\254\" }"},
      {"call({toString: function () { throw 'no address'; }})", "threw no address", ""},
      {"answer()", "threw Wrong arguments", ""},
      {"answer(true, false)", "threw Wrong arguments", ""},
      {"answer(0)", "returned undefined", answered(false)},
      {"answer('false')", "returned undefined", answered(true)},
      {"answer('')", "returned undefined", answered(false)},
      {"answer(NaN)", "returned undefined", answered(false)},
      {"answer(null)", "returned undefined", answered(false)},
      {"answer(undefined)", "returned undefined", answered(false)},
      {"answer({})", "returned undefined", answered(true)},
      {"answer(new Boolean(false))", "returned undefined", answered(true)},
      {"answer(-1)", "returned undefined", answered(true)},
      {"hangup(1)", "threw Wrong arguments", ""},
      {"hangup(function () {})", "threw Wrong arguments", ""},
      {"hangup()", "returned undefined", "hangup { }"},
      {"account('id', 'dom', 'pw')", "threw Wrong arguments", ""},
      {"account('id', 'dom', 'pw', 'stun', 'more')", "threw Wrong arguments", ""},
      {"account('id', {toString: function () { throw 'no domain'; }}, 'pw', 'stun')", "threw no domain", ""},
      {"account('bob', 'example.org', 's3cr\\u00e9t', 'stun.example.org:3478')", "returned undefined",
       "account { sipId: \"bob\" sipDomain: \"example.org\" sipPassword: \"s3cr\\303\\251t\" stunServer: "
       "\"stun.example.org:3478\" }"},
  };
  DeviceApp device;
  tobrel_test::expectCallTable(device, "t2t", cases, {"t2t"});
  // Each call of `call` logs first, so also those that throw.
  EXPECT_EQ(device.countLog("DEBUG: call\n"), 7);
  // The password shows in no log line, the trace of the sent request included.
  EXPECT_THAT(device.log(), HasSubstr("sipPassword: \"***\""));
  EXPECT_THAT(device.log(), Not(HasSubstr("s3cr")));
}

TEST(T2t, BeforeInteractiveModeTheCountIsTestedAndNothingSent) {
  DeviceApp device;
  std::string js = "var t = tobrel.t2t;\n";
  for (const char* call : {"call(1)", "call()", "answer(true)", "answer()", "hangup()", "hangup(1)",
                           "account(1, 2, 3, 4)", "account(1, 2, 3)"}) {
    js += tobrel_test::tryCall(call, std::string("t.") + call);
  }
  js += tobrel_test::kConnectAndStart;
  ASSERT_TRUE(device.start(js, {"t2t"}));
  ASSERT_TRUE(device.waitGranted());
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{
                                    "call(1) threw Must be in interactive mode",
                                    "call() threw Wrong arguments",
                                    "answer(true) threw Must be in interactive mode",
                                    "answer() threw Wrong arguments",
                                    "hangup() threw Must be in interactive mode",
                                    "hangup(1) threw Wrong arguments",
                                    "account(1, 2, 3, 4) threw Must be in interactive mode",
                                    "account(1, 2, 3) threw Wrong arguments",
                                    "granted",
                                }));
  EXPECT_EQ(device.countLog("DEBUG: call\n"), 2);
  EXPECT_EQ(device.msgd().received().size(), 1u) << "the START alone";
}

// Every call event reaches the listeners as a new object {type, correspondant}, made in a
// context of its own; a listener stays while it returns true, and other messages call none.
TEST(T2t, ListenersGetOneObjectPerCallEvent) {
  DeviceApp device;
  ASSERT_TRUE(device.start("function show(e) {\n"
                           "  return JSON.stringify(e).replace(/[^\\x00-\\x7f]/g, function (c) {\n"
                           "    return '\\\\u' + ('000' + c.charCodeAt(0).toString(16)).slice(-4); })\n"
                           "    + ' ' + Object.keys(e) + ' ' + (e.constructor === Object);\n"
                           "}\n"
                           "tobrel.t2t.addListener(function (e) { log('kept ' + show(e)); return true; });\n"
                           "tobrel.t2t.addListener(function (e) { log('once ' + e.type); return 'true'; });\n"
                           "tobrel.t2t.addListener(function (e) { log('thrower ' + e.type); throw 'line busy'; });\n"
                           "try { tobrel.t2t.addListener(); } catch (e) { log('none: ' + e); }\n"
                           "try { tobrel.t2t.addListener({}); } catch (e) { log('object: ' + e); }\n"
                           "tobrel.connect('127.0.0.1', PORT);\n"
                           "tobrel.start(function () { log('granted'); tobrel.t2t.hangup(); });\n",
                           {"t2t"}));
  ASSERT_TRUE(device.waitGranted());
  ASSERT_TRUE(device.waitSent("t2t.hangup", 1));
  ASSERT_TRUE(device.control("button last SIMPLE"));
  ASSERT_TRUE(device.control("t2t last INCOMING sip:alice@example.org"));
  ASSERT_TRUE(device.control("t2t last BEGINNING sip:alice@example.org"));
  ASSERT_TRUE(device.control("send last t2tCallback { type: TERMINATED correspondant: \"Zo\\303\\253\" }"));
  ASSERT_TRUE(device.waitLog("JSLOG: kept {\"type\":\"TERMINATED\""));
  EXPECT_EQ(device.scriptLog(),
            (std::vector<std::string>{
                "none: Wrong arguments",
                "object: Wrong arguments",
                "granted",
                "kept {\"type\":\"INCOMING\",\"correspondant\":\"sip:alice@example.org\"} type,correspondant false",
                "once INCOMING",
                "thrower INCOMING",
                "kept {\"type\":\"BEGINNING\",\"correspondant\":\"sip:alice@example.org\"} type,correspondant false",
                "kept {\"type\":\"TERMINATED\",\"correspondant\":\"Zo\\u00eb\"} type,correspondant false",
            }));
  EXPECT_EQ(device.countLog("MESSAGE: T2t: T2tMsgCallback\n"), 5);
  EXPECT_THAT(device.log(), HasSubstr("line busy"));
}
