// The dock natives in a real app child against the message-daemon stand-in: the move's shapes,
// direction words and time, and the dock's LED, which fills `dock.led` and never `led`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_app.h"

using ::testing::HasSubstr;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;

using tobrel_test::kGrantedRunDone;

namespace {

std::vector<CallCase> onDock(std::vector<CallCase> cases) { return tobrel_test::prefixed("tobrel.dock.", cases); }

}  // namespace

TEST(Dock, CallsAreRefusedOrSentWithTheirConvertedArguments) {
  const std::vector<CallCase> cases = onDock({
      {"move('UP')", "returned undefined", "dock { move { cmd: UP time: 0 } }"},
      {"move('LEFT', 1500)", "returned undefined", "dock { move { cmd: LEFT time: 1500 } }"},
      {"move('LEFT', -1)", "returned undefined", "dock { move { cmd: LEFT time: -1 } }"},
      {"move('RIGHT', 4294967296 + 5)", "returned undefined", "dock { move { cmd: RIGHT time: 5 } }"},
      {"move('DOWN', 2.9)", "returned undefined", "dock { move { cmd: DOWN time: 2 } }"},
      {"move('STOP', NaN)", "returned undefined", "dock { move { cmd: STOP time: 0 } }"},
      {"move('UP', 10, function (code) { log('move heard ' + code); })", "returned undefined",
       "dock { move { cmd: UP time: 10 } }"},
      {"move()", "threw Wrong arguments", ""},
      {"move(1)", "threw Wrong arguments", ""},
      {"move(new String('UP'))", "threw Wrong arguments", ""},
      {"move('LEFT', '1500')", "threw Wrong arguments", ""},
      {"move('LEFT', 10, 5)", "threw Wrong arguments", ""},
      {"move('LEFT', function () {})", "threw Wrong arguments", ""},
      {"move('LEFT', 10, function () {}, 1)", "threw Wrong arguments", ""},
      {"move('up')", "threw Wrong 1st arguments", ""},
      {"move('UP ', 5)", "threw Wrong 1st arguments", ""},
      {"move('', 5, function () {})", "threw Wrong 1st arguments", ""},
      {"light('red')", "returned undefined", "dock { led { light { color: \"red\" } } }"},
      {"light('x', function (code) { log('light heard ' + code); })", "returned undefined",
       "dock { led { light { color: \"x\" } } }"},
      {"fade('c', 'abc')", "returned undefined", "dock { led { fade { color: \"c\" period: 0 } } }"},
      {"pulse(255, '10', -1)", "returned undefined", "dock { led { pulse { color: \"255\" period: 10 pulse: -1 } } }"},
      {"light()", "threw Wrong arguments", ""},
      {"fade('c', 1, 2)", "threw Wrong arguments", ""},
      {"light({toString: function () { throw 'no colour'; }})", "threw no colour", ""},
  });
  DeviceApp device;
  ASSERT_TRUE(device.start(tobrel_test::whenGranted(tobrel_test::tryCalls(cases)), {"dock"}));
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  tobrel_test::expectOutcomes(device, cases);
  tobrel_test::expectSent(device, "dock.", cases);
  // The transcript can lag behind the app's log: once the closing ping is in, so is every frame before it.
  ASSERT_TRUE(device.waitSent("ping", 1));
  EXPECT_TRUE(device.sent("led").empty());
  // The LED bodies' own log lines; each bound call's record under its own name.
  for (const char* line : {"DEBUG: LED Light: color[red]\n", "DEBUG: LED Fade: color[c] period[0]\n",
                           "DEBUG: LED Pulse: color[255] period[10] pulse[-1]\n", "JSLOG: move heard OK\n",
                           "JSLOG: light heard OK\n"})
    EXPECT_THAT(device.log(), HasSubstr(line));
  EXPECT_EQ(device.countLog("DEBUG: Event: DOCKMOVE\n"), 1);
  EXPECT_EQ(device.countLog("DEBUG: Event: DOCKLED\n"), 1);
}

// The direction word is looked at only after the interactive-mode test, the shape before it.
TEST(Dock, BeforeInteractiveModeNothingIsSent) {
  const std::vector<CallCase> cases = onDock({
      {"move('up')", "threw Must be in interactive mode", ""},
      {"move('UP', '1')", "threw Wrong arguments", ""},
      {"light('red')", "threw Must be in interactive mode", ""},
      {"pulse('red', 1)", "threw Wrong arguments", ""},
  });
  DeviceApp device;
  ASSERT_TRUE(device.start(tobrel_test::tryCalls(cases) + tobrel_test::whenGranted(""), {"dock"}));
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  tobrel_test::expectOutcomes(device, cases);
  // The transcript can lag behind the app's log: once the closing ping is in, so is every frame before it.
  ASSERT_TRUE(device.waitSent("ping", 1));
  EXPECT_TRUE(device.sent("dock").empty());
}

// The device LED and the dock's LED share their bodies but not their targets.
TEST(Dock, TheDeviceLedStillFillsTheTopLevelLed) {
  DeviceApp device;
  ASSERT_TRUE(device.start(tobrel_test::whenGranted("tobrel.led.light('top');\ntobrel.dock.light('dock');\n"),
                           {"led", "dock"}));
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  ASSERT_TRUE(device.waitSent("ping", 1));
  std::vector<std::string> got;
  for (const auto& f : device.msgd().received())
    if (f.kind != "interactiveMode.START" && f.kind != "ping") got.push_back(tobrel_test::frameBody(f.msg));
  EXPECT_EQ(got, (std::vector<std::string>{"led { light { color: \"top\" } }",
                                           "dock { led { light { color: \"dock\" } } }"}));
}
