// The README's example apps, run from examples/apps as app children against the stand-in: the
// lamp must light the LED, answer a press and a tag, and end by itself with status 0; the inbox
// must read what the stand-in's data file holds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app_child.h"
#include "msgd_process.h"

using ::testing::HasSubstr;
using tobrel::test::MsgdProcess;

TEST(ExampleApp, LampAnswersAPressAndATagThenEnds) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  auto app = tobrel_test::startAppChild(TOBREL_EXAMPLE_APPS, "lamp PLAIN " + std::to_string(msgd.port()));
  ASSERT_TRUE(app->waitFor(tobrel_test::Stream::kErr, "JSLOG: interactive", 10000)) << app->err();
  ASSERT_TRUE(msgd.control("button last SIMPLE"));
  ASSERT_TRUE(app->waitFor(tobrel_test::Stream::kErr, "JSLOG: button pressed: SIMPLE", 10000)) << app->err();
  ASSERT_TRUE(msgd.control("rfid last d0021a IN LAMINA RED"));
  tobrel_test::RunResult r = app->wait(10000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("JSLOG: rfid tag d0021a IN, colour RED\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: bye\n"));
  // The stand-in's transcript is read on its own, so it can lag behind the app's end.
  ASSERT_TRUE(msgd.waitForReceived([](const auto& f) { return f.kind == "led.fade"; }));
  std::vector<std::string> leds;
  for (const auto& f : msgd.received())
    if (f.kind.rfind("led.", 0) == 0) leds.push_back(f.msg.led().ShortDebugString());
  EXPECT_EQ(leds, (std::vector<std::string>{"light { color: \"green\" }",
                                            "pulse { color: \"blue\" period: 500 pulse: 3 }",
                                            "fade { color: \"red\" period: 1000 }"}));
}

TEST(ExampleApp, InboxReadsTheStandInsDataFile) {
  MsgdProcess msgd({"--data", std::string(TOBREL_EXAMPLE_APPS) + "/inbox/msgd-data.txt"});
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  auto app = tobrel_test::startAppChild(TOBREL_EXAMPLE_APPS, "inbox PLAIN " + std::to_string(msgd.port()));
  tobrel_test::RunResult r = app->wait(10000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("JSLOG: info serial = 00:13:d3:84:a1:07\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: info name = Pepin\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: contact Ana Lopez (phone)\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: contact Grandpa (23)\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: message m1 from Ana at 2023-11-14T22:13:20.000Z (unread): Dinner at eight?\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: message m2 from Grandpa at 2023-11-14T23:13:20.000Z: Happy birthday!\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: marked as read: m1\nMESSAGE: JSLOG: bye\n"));
  ASSERT_TRUE(msgd.waitForReceived([](const auto& f) { return f.kind == "tobrelMessageQuery.READ"; }));
  std::vector<std::string> kinds;
  for (const auto& f : msgd.received()) kinds.push_back(f.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"interactiveMode.START", "tobrelinfo_query", "getcontactList",
                                             "tobrelMessageQuery.LIST", "tobrelMessageQuery.READ"}));
}
