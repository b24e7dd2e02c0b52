// The ear natives in a real app child against the message-daemon stand-in: which calls are
// refused and which frames reach the daemon, the resets' order of tests and what their
// functions hear, and the ears listener.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_app.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;
using tobrel_test::kConnect;

using tobrel_test::kGrantedRunDone;

TEST(Ears, CallsAreRefusedOrSentWithTheirConvertedArguments) {
  const std::vector<CallCase> cases = tobrel_test::prefixed("tobrel.ears.", {
      {"move(null, 10)", "returned undefined", "ears { right: 10 }"},
      {"move(undefined, 10)", "returned undefined", "ears { left: 0 right: 10 }"},
      {"move(null, null)", "returned undefined", "ears { }"},
      {"moveRelative(null, null)", "returned undefined", "ears { relative: true }"},
      {"move('5', 3.7)", "returned undefined", "ears { left: 5 right: 3 }"},
      {"move(-3, -2147483648)", "returned undefined", "ears { left: -3 right: -2147483648 }"},
      {"move(2147483648, 4294967296 + 5)", "returned undefined", "ears { left: -2147483648 right: 5 }"},
      {"move(NaN, 'abc')", "returned undefined", "ears { left: 0 right: 0 }"},
      {"moveRelative(-7, null, function () {})", "returned undefined", "ears { left: -7 relative: true }"},
      {"move(1)", "threw Wrong arguments", ""},
      {"move(1, 2, 3)", "threw Wrong arguments", ""},
      {"moveRelative(1, 2, function () {}, 4)", "threw Wrong arguments", ""},
      {"move({valueOf: function () { throw 'left failed'; }}, 1)", "threw left failed", ""},
      {"move(null, {valueOf: function () { throw 'right failed'; }})", "threw right failed", ""},
      {"reset(5)", "threw Wrong arguments", ""},
      {"reset(function () {}, function () {})", "threw Wrong arguments", ""},
      {"reset()", "returned undefined", "ears { left: 1 right: 1 reset: true }"},
      {"resetRight()", "returned undefined", "ears { right: 1 reset: true }"},
      {"resetLeft(function () {})", "returned undefined", "ears { left: 1 reset: true }"},
      {"addListener(1)", "threw Wrong arguments", ""},
  });
  DeviceApp device;
  ASSERT_TRUE(device.start(tobrel_test::whenGranted(tobrel_test::tryCalls(cases)), {"ears"}));
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  tobrel_test::expectOutcomes(device, cases);
  tobrel_test::expectSent(device, "ears", cases);
  // The bound move reports through the generic handler, the bound reset through its own.
  EXPECT_EQ(device.countLog("DEBUG: Event: EARS\n"), 1);
  EXPECT_EQ(device.countLog("MESSAGE: EarsResetCallback\n"), 1);
}

// The resets test interactive mode before their arguments, the moves after.
TEST(Ears, ResetsTestInteractiveModeFirst) {
  const std::vector<CallCase> cases = tobrel_test::prefixed("tobrel.ears.", {
      {"reset(5)", "threw Must be in interactive mode", ""},
      {"resetLeft(1, 2)", "threw Must be in interactive mode", ""},
      {"resetRight(function () {})", "threw Must be in interactive mode", ""},
      {"move(1)", "threw Wrong arguments", ""},
      {"move(1, 2)", "threw Must be in interactive mode", ""},
  });
  DeviceApp device;
  ASSERT_TRUE(device.start(tobrel_test::tryCalls(cases) + tobrel_test::whenGranted(""), {"ears"}));
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  tobrel_test::expectOutcomes(device, cases);
  // The transcript can lag behind the app's log: once the closing ping is in, so is every frame before it.
  ASSERT_TRUE(device.waitSent("ping", 1));
  EXPECT_TRUE(device.sent("ears").empty());
}

// A reset's function hears (code, left, right) for every message of its request, with itself as
// the receiver: the event's code wins over the response's, a response without a code is "OK",
// a message with neither gives the empty text.
TEST(Ears, AResetsFunctionHearsEveryMessageOfItsRequest) {
  DeviceApp device;
  ASSERT_TRUE(device.control("reply ears silent"));
  ASSERT_TRUE(device.start(std::string(kConnect) +
                               "function heard(code, left, right) {\n"
                               "  log('heard [' + code + '] ' + left + ' ' + right + ' ' + (this === heard) +"
                               " ' ' + (typeof left));\n"
                               "}\n"
                               "tobrel.start(function () { tobrel.ears.reset(heard); });\n",
                           {"ears"}));
  ASSERT_TRUE(device.waitSent("ears", 1));
  const auto request = device.sent("ears")[0];
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"response { }", "heard [OK] 0 0"},
      {"response { code: OK } ears { left: 1 }", "heard [OK] 1 0"},
      {"event { code: TERMINATED }", "heard [TERMINATED] 0 0"},
      {"response { code: BUSY } event { code: ERROR } ears { left: -2 right: 7 }", "heard [ERROR] -2 7"},
      {"ears { right: 1 }", "heard [] 0 1"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    ASSERT_TRUE(device.answer(request, cases[i].first));
    ASSERT_TRUE(device.waitLog("MESSAGE: EarsResetCallback\n", static_cast<int>(i) + 1));
    ASSERT_TRUE(device.waitLog("JSLOG: heard ", static_cast<int>(i) + 1));
  }
  std::vector<std::string> expected;
  for (const auto& c : cases) expected.push_back(c.second + " true number");
  EXPECT_EQ(device.scriptLog(), expected);
}

// A listener stays while it returns true; one that returns anything else, or throws, goes
// after its first event while the others go on.
TEST(Ears, ListenersHearTypeStepAndLengthWhileTheyReturnTrue) {
  DeviceApp device;
  ASSERT_TRUE(device.start("function named(name, result) {\n"
                           "  return function (type, step, length) {\n"
                           "    log(name + ' ' + type + ' ' + step + ' ' + length + ' ' + (this === arguments.callee));\n"
                           "    return result;\n"
                           "  };\n"
                           "}\n"
                           "tobrel.ears.addListener(named('kept', true));\n"
                           "tobrel.ears.addListener(named('once', 1));\n"
                           "tobrel.ears.addListener(function (type) { log('thrower ' + type); throw 'ears failed'; });\n"
                           "tobrel.ears.addListener(named('last', true));\n" +
                               tobrel_test::whenGranted(""),
                           {"ears"}));
  // A reply carries no earsCallback: it leaves every listener in place.
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  ASSERT_TRUE(device.control("ears last STOP_LEFT"));
  ASSERT_TRUE(device.control("ears last START_RIGHT 5 -12"));
  ASSERT_TRUE(device.control("send last earsCallback { type: BLOCKED_LEFT length: 3 }"));
  ASSERT_TRUE(device.waitLog("JSLOG: last BLOCKED_LEFT"));
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{
                                    "end OK",
                                    "kept STOP_LEFT 0 0 true",
                                    "once STOP_LEFT 0 0 true",
                                    "thrower STOP_LEFT",
                                    "last STOP_LEFT 0 0 true",
                                    "kept START_RIGHT 5 -12 true",
                                    "last START_RIGHT 5 -12 true",
                                    "kept BLOCKED_LEFT 0 3 true",
                                    "last BLOCKED_LEFT 0 3 true",
                                }));
  EXPECT_THAT(device.log(), HasSubstr("ears failed"));
  EXPECT_THAT(device.log(), Not(HasSubstr("EarsResetCallback")));
}
