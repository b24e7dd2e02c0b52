// The LED natives in a real app child against the message-daemon stand-in: which calls are
// refused and which frames reach the daemon, the argument conversions, and the callbacks
// that hear their own request's replies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_child.h"
#include "device_app.h"

using ::testing::HasSubstr;
using tobrel_test::DeviceApp;
using tobrel_test::kConnect;

namespace {

// Runs `call` and logs "<index> returned <value>" or "<index> threw <exception>".
std::string tryCall(size_t index, const std::string& call) {
  return tobrel_test::tryCall(std::to_string(index), "tobrel.led." + call);
}

}  // namespace

// One granted app runs every call in turn; the daemon must see exactly the frames of the
// accepted calls, in order, each with its own id and the granted interactive id.
TEST(Led, CallsAreRefusedOrSentWithTheirConvertedArguments) {
  struct Case {
    const char* call;
    const char* outcome;  // "returned undefined" or "threw <text>"
    const char* sent;     // the frame's led part in text form; null: nothing sent
    const char* debug;    // the native's DEBUG line, when checked
  };
  const std::vector<Case> cases = {
      {"light()", "threw Wrong arguments", nullptr, nullptr},
      {"light('red', 5)", "threw Wrong arguments", nullptr, nullptr},
      {"light('red', 5, function () {})", "threw Wrong arguments", nullptr, nullptr},
      {"fade('red')", "threw Wrong arguments", nullptr, nullptr},
      {"fade('red', 1, 2)", "threw Wrong arguments", nullptr, nullptr},
      {"pulse('red', 1)", "threw Wrong arguments", nullptr, nullptr},
      {"pulse('red', 1, 2, 3)", "threw Wrong arguments", nullptr, nullptr},
      {"pulse('red', 1, 2, function () {}, 5)", "threw Wrong arguments", nullptr, nullptr},
      {"light('red')", "returned undefined", "light { color: \"red\" }", "LED Light: color[red]"},
      {"light(function () {})", "returned undefined", "light { color: \"function () {}\" }", nullptr},
      {"light({toString: function () { return 'blue'; }})", "returned undefined", "light { color: \"blue\" }",
       nullptr},
      {"pulse(255, '10', -1)", "returned undefined", "pulse { color: \"255\" period: 10 pulse: -1 }",
       "LED Pulse: color[255] period[10] pulse[-1]"},
      {"pulse('c', 2147483648, 1.9)", "returned undefined", "pulse { color: \"c\" period: -2147483648 pulse: 1 }",
       "LED Pulse: color[c] period[-2147483648] pulse[1]"},
      {"pulse('c', 4294967295, -1.9)", "returned undefined", "pulse { color: \"c\" period: -1 pulse: -1 }", nullptr},
      {"pulse('c', {valueOf: function () { return 12; }}, '0x10')", "returned undefined",
       "pulse { color: \"c\" period: 12 pulse: 16 }", nullptr},
      {"fade('c', 'abc')", "returned undefined", "fade { color: \"c\" period: 0 }", "LED Fade: color[c] period[0]"},
      {"fade('c', Infinity)", "returned undefined", "fade { color: \"c\" period: 0 }", nullptr},
      {"fade('c', 4294967296 + 7)", "returned undefined", "fade { color: \"c\" period: 7 }", nullptr},
      {"light({toString: function () { throw 'boom'; }}, function () {})", "threw boom", nullptr, nullptr},
      {"pulse('c', {valueOf: function () { throw 'late'; }}, 1)", "threw late", nullptr, nullptr},
      {"pulse('c', 1, {valueOf: function () { throw 'last'; }}, function () {})", "threw last", nullptr, nullptr},
      {"light('bound', function (code) { log('bound heard ' + code); })", "returned undefined",
       "light { color: \"bound\" }", nullptr},
  };
  std::string js = std::string(kConnect) + "tobrel.start(function () {\n";
  for (size_t i = 0; i < cases.size(); ++i) js += tryCall(i, cases[i].call);
  js += "tobrel.led.light('end', function (code) { log('end heard ' + code); });\n});\n";
  DeviceApp device;
  ASSERT_TRUE(device.start(js, {"led"}));
  // Replies come back in order: once the last one is heard, every earlier one has been handled.
  ASSERT_TRUE(device.waitLog("JSLOG: end heard OK"));

  std::vector<std::string> expectedFrames;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.call);
    EXPECT_THAT(device.log(), HasSubstr("JSLOG: " + std::to_string(i) + " " + c.outcome + "\n"));
    if (c.sent != nullptr) expectedFrames.push_back(c.sent);
    if (c.debug != nullptr) {
      EXPECT_THAT(device.log(), HasSubstr(std::string("DEBUG: ") + c.debug + "\n"));
    }
  }
  expectedFrames.push_back("light { color: \"end\" }");
  // The app's log can run ahead of the stand-in's transcript.
  ASSERT_TRUE(device.waitSent("led.", expectedFrames.size()));

  const auto start = device.sent("interactiveMode.START");
  ASSERT_EQ(start.size(), 1u);
  const std::string granted = start[0].msg.interactivemode().interactiveid();
  const auto frames = device.sent("led.");
  std::vector<std::string> got;
  std::vector<std::string> ids;
  for (const auto& f : frames) {
    got.push_back(f.msg.led().ShortDebugString());
    EXPECT_EQ(f.msg.interactiveid(), granted);
    EXPECT_EQ(f.msg.id().size(), 36u);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), f.msg.id()), 0) << "ids are fresh";
    ids.push_back(f.msg.id());
  }
  EXPECT_EQ(got, expectedFrames);
  // Only the two calls with a function as their last argument bound anything.
  EXPECT_EQ(device.countLog("DEBUG: Event: LED\n"), 2);
  EXPECT_EQ(device.countLog("JSLOG: bound heard OK\n"), 1);
}

TEST(Led, BeforeInteractiveModeNothingIsSentAndTheShapeIsTestedFirst) {
  DeviceApp device;
  ASSERT_TRUE(device.start(std::string(kConnect) +
                               "try { tobrel.led.pulse('red', 1, 2); } catch (e) { log('three: ' + e); }\n"
                               "try { tobrel.led.pulse('red', 1); } catch (e) { log('two: ' + e); }\n"
                               "try { tobrel.led.light('red', function () {}); } catch (e) { log('bound: ' + e); }\n"
                               "tobrel.start(function () { tobrel.led.light('after'); log('granted'); });\n",
                           {"led"}));
  ASSERT_TRUE(device.waitGranted());
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: three: Must be in interactive mode\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: two: Wrong arguments\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: bound: Must be in interactive mode\n"));
  ASSERT_TRUE(device.waitSent("led.", 1));
  std::vector<std::string> kinds;
  for (const auto& r : device.msgd().received()) kinds.push_back(r.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"interactiveMode.START", "led.light"}));
}

// Each request's function hears every code of its own request only: a response, then any
// number of events, and both codes of a message that carries the two, response first.
TEST(Led, EachCallbackHearsItsOwnRequestsCodesInOrder) {
  DeviceApp device;
  ASSERT_TRUE(device.control("follow led.light TERMINATED"));
  ASSERT_TRUE(device.control("follow led.fade TERMINATED"));
  ASSERT_TRUE(device.control("reply led.pulse silent"));
  ASSERT_TRUE(device.start(std::string(kConnect) +
                               "function heard(name) { return function (code) { log(name + ':' + code); }; }\n"
                               "tobrel.start(function () {\n"
                               "  tobrel.led.light('a', heard('a'));\n"
                               "  tobrel.led.fade('b', 100, heard('b'));\n"
                               "  tobrel.led.pulse('c', 100, 3, heard('c'));\n"
                               "});\n",
                           {"led"}));
  ASSERT_TRUE(device.waitLog("JSLOG: b:TERMINATED"));
  ASSERT_TRUE(device.waitLog("JSLOG: a:TERMINATED"));
  // The app's log can run ahead of the stand-in's transcript.
  ASSERT_TRUE(device.waitSent("led.pulse", 1));
  const auto pulses = device.sent("led.pulse");
  ASSERT_EQ(pulses.size(), 1u);
  ASSERT_TRUE(device.answer(pulses[0], "response { code: BUSY } event { code: NOT_CONNECTED }"));
  ASSERT_TRUE(device.waitLog("JSLOG: c:NOT_CONNECTED"));
  // Every name heard its own codes once, in order, and nothing of the others'.
  const std::string& log = device.log();
  for (const char* name : {"a", "b"}) {
    const std::string ok = std::string("JSLOG: ") + name + ":OK\n";
    const std::string end = std::string("JSLOG: ") + name + ":TERMINATED\n";
    EXPECT_EQ(device.countLog(ok), 1) << name;
    EXPECT_EQ(device.countLog(end), 1) << name;
    EXPECT_LT(log.find(ok), log.find(end)) << name;
  }
  EXPECT_EQ(device.countLog("JSLOG: c:"), 2);
  EXPECT_LT(log.find("JSLOG: c:BUSY\n"), log.find("JSLOG: c:NOT_CONNECTED\n"));
}

// The module objects exist only with their access word, each with its methods in order.
TEST(ModuleObjects, FollowTheAccessList) {
  struct Case {
    std::string accesses;
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"", "undefined|undefined|undefined"},
      {"<access>led</access>", "light,fade,pulse|undefined|undefined"},
      {"<access>rfid</access><access>button</access>", "undefined|addListener|addListener"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.accesses);
    tobrel_test::TempDir apps;
    tobrel_test::writeApp(apps, "app",
                          "log([tobrel.led, tobrel.button, tobrel.rfid].map(function (m) {"
                          " return m ? Object.keys(m).join() : 'undefined'; }).join('|'));\nexit();\n",
                          {{"descriptor.xml", "<descriptor><accesses>" + c.accesses + "</accesses></descriptor>"}});
    tobrel_test::RunResult r = tobrel_test::runAppChild(apps.path(), "app PLAIN inst");
    EXPECT_THAT(r.err, HasSubstr(std::string("JSLOG: ") + c.logged + "\n"));
    EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  }
}
