// The example app of the README's demo, run from examples/apps as an app child against the
// stand-in: it must light the LED, answer a press and a tag, and end by itself with status 0.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app_child.h"
#include "msgd_process.h"
#include "web_standin.h"

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

// The web page example against the web stand-in: the page's title (its body declares
// ISO-8859-1, so the accent arrives converted) and the posted form with its signature header.
TEST(ExampleApp, WebpageFetchesAPageAndPostsAForm) {
  tobrel_test::WebStandIn web;
  web.reply("index.html", tobrel_test::httpReply("200 OK", {"Content-Type: text/html"},
                                                 "<?xml version='1.0' encoding='iso-8859-1'?>\n"
                                                 "<html><head><title>Caf\xe9 page</title></head></html>\n"));
  web.reply("guestbook", tobrel_test::httpReply("200 OK", {"Content-Type: text/plain; charset=utf-8"}, "thanks"));
  ASSERT_TRUE(web.start()) << web.error();
  tobrel_test::RunResult r = tobrel_test::runAppChild(TOBREL_EXAMPLE_APPS, "webpage PLAIN " + std::to_string(web.port()));
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("JSLOG: status: HTTP/1.1 200 OK\n"));
  // log() writes one byte per character: the converted é shows as its Latin-1 byte.
  EXPECT_THAT(r.err, HasSubstr("JSLOG: title: Caf\xe9 page\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: guestbook: thanks\n"));
  ASSERT_TRUE(web.waitRequests(2));
  const auto requests = web.requests();
  EXPECT_EQ(requests[0].header("Accept"), "text/html");
  EXPECT_EQ(requests[1].body, "name=Tobrel&note=hello%2C%20web");
  EXPECT_THAT(r.err, HasSubstr("JSLOG: signature: 3j6+bkPQk+2raQg+OiG+AjXbNB4=\n"));
  EXPECT_EQ(requests[1].header("X-Signature"), "3j6+bkPQk+2raQg+OiG+AjXbNB4=");
}
