// The README's example apps, run from examples/apps as app children against the stand-in: the
// lamp must light the LED and answer a press and a tag, the greeter move the ears, speak and take
// a photo, the radio play its song and follow the player, the inbox read what the stand-in's data
// file holds, the web page fetch a page and post a signed form; each ends by itself with status 0.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app_child.h"
#include "device_app.h"
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

TEST(ExampleApp, GreeterMovesTheEarsSpeaksTakesAPhotoThenEnds) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  ASSERT_TRUE(msgd.control("follow webcam OK picture taken"));
  tobrel_test::RunResult r =
      tobrel_test::runAppChild(TOBREL_EXAMPLE_APPS, "greeter PLAIN " + std::to_string(msgd.port()));
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  for (const char* line : {"JSLOG: ears.move: OK\n", "JSLOG: tts.start: OK\n", "JSLOG: webcam.photo: OK\n",
                           "JSLOG: photo taken: picture taken\n", "JSLOG: ears.reset: OK (0, 0)\n", "JSLOG: bye\n"})
    EXPECT_THAT(r.err, HasSubstr(line));
  // The stand-in's transcript is read on its own, so it can lag behind the app's end.
  ASSERT_TRUE(msgd.waitForReceived([](const auto& f) { return f.msg.has_ears() && f.msg.ears().reset(); }));
  std::vector<std::string> sent;
  for (const auto& f : msgd.received())
    if (f.kind != "interactiveMode.START") sent.push_back(tobrel_test::frameBody(f.msg));
  EXPECT_EQ(sent, (std::vector<std::string>{
                      "ears { left: 20 right: -20 }",
                      "tts { action: START text: \"Hello, nice to see you\" lang: \"en\" }",
                      "webcam { photo: \"file:///tmp/picture.jpg\" }",
                      "ears { left: 1 right: 1 reset: true }",
                  }));
}

TEST(ExampleApp, RadioPlaysItsSongAndFollowsThePlayer) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  ASSERT_TRUE(msgd.control("attach multimedia.getsong multimedia { songlist: \"Morning\" songlist: \"Noon\" }"));
  auto app = tobrel_test::startAppChild(TOBREL_EXAMPLE_APPS, "radio PLAIN " + std::to_string(msgd.port()));
  ASSERT_TRUE(app->waitFor(tobrel_test::Stream::kErr, "JSLOG: play: OK", 10000)) << app->err();
  ASSERT_TRUE(msgd.control("multimedia last PLAY"));
  ASSERT_TRUE(app->waitFor(tobrel_test::Stream::kErr, "JSLOG: now playing: Morning", 10000)) << app->err();
  ASSERT_TRUE(msgd.control("multimedia last STOP"));
  tobrel_test::RunResult r = app->wait(10000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("JSLOG: player: STOP\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: bye\n"));
  // The song lies in the app's folder on the device, wherever this launcher reads apps from.
  auto play = msgd.waitForReceived([](const auto& f) { return f.kind == "multimedia.play"; });
  ASSERT_TRUE(play.has_value());
  EXPECT_EQ(play->msg.multimedia().play().url(), "/usr/tobrel/apps/radio/song.mp3");
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
