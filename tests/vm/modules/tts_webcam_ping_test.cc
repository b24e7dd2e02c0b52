// Speech, photo, ping and random in a real app child against the message-daemon stand-in:
// the speech shapes (which carry a language, which bind a function), the log lines, the photo
// objects, ping in both places, and the locally drawn random numbers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>

#include <sstream>
#include <string>
#include <vector>

#include "app_child.h"
#include "device_app.h"
#include "ping.h"
#include "script.h"
#include "script_env.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;
using tobrel_test::kConnect;

using tobrel_test::kGrantedRunDone;
using tobrel_test::prefixed;

namespace {

// The MESSAGE lines of the log that start with `prefix`, in order.
std::vector<std::string> messages(const DeviceApp& device, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : tobrel_test::lines(device.log()))
    if (line.rfind("MESSAGE: " + prefix, 0) == 0) found.push_back(line.substr(9));
  return found;
}

}  // namespace

TEST(Tts, StartShapesChooseTheLanguageAndTheCallback) {
  const std::vector<CallCase> cases = prefixed("tobrel.tts.", {
      {"start('hello')", "returned undefined", "tts { action: START text: \"hello\" }"},
      {"start(42)", "returned undefined", "tts { action: START text: \"42\" }"},
      {"start('a', heard('a'))", "returned undefined", "tts { action: START text: \"a\" }"},
      {"start('b', 'fr')", "returned undefined", "tts { action: START text: \"b\" lang: \"fr\" }"},
      {"start('c', 'en', heard('c'))", "returned undefined", "tts { action: START text: \"c\" lang: \"en\" }"},
      {"start('d', 'de', 5)", "returned undefined", "tts { action: START text: \"d\" }"},
      {"start('caf\\u00e9 \\u2615', 'fr')", "returned undefined",
       "tts { action: START text: \"caf\\303\\251 \\342\\230\\225\" lang: \"fr\" }"},
      // A lone surrogate is not UTF-8: it travels as U+FFFD.
      {"start('a\\ud800b', '\\udc00')", "returned undefined",
       "tts { action: START text: \"a\\357\\277\\275b\" lang: \"\\357\\277\\275\" }"},
      {"start()", "threw Wrong arguments", ""},
      {"start('e', 'fr', heard('e'), 1)", "threw Wrong arguments", ""},
      {"start({toString: function () { throw 'no text'; }})", "threw no text", ""},
      {"start('f', {toString: function () { throw 'no lang'; }}, heard('f'))", "threw no lang", ""},
      {"stop()", "returned undefined", "tts { action: STOP }"},
      {"stop(heard('stop'))", "returned undefined", "tts { action: STOP }"},
      {"stop(5)", "threw Wrong arguments", ""},
      {"stop(heard('x'), heard('y'))", "threw Wrong arguments", ""},
  });
  DeviceApp device;
  ASSERT_TRUE(device.start("function heard(name) { return function (code) { log(name + ' heard ' + code); }; }\n" +
                               tobrel_test::whenGranted(tobrel_test::tryCalls(cases)),
                           {"tts"}));
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  tobrel_test::expectOutcomes(device, cases);
  tobrel_test::expectSent(device, "tts", cases);
  // Only the calls that end in a function bound it; the refused ones bound nothing.
  for (const char* name : {"a", "c", "stop"})
    EXPECT_THAT(device.log(), HasSubstr(std::string("JSLOG: ") + name + " heard OK\n"));
  EXPECT_EQ(device.countLog("DEBUG: Event: TTS\n"), 3);
  // The text and the language in their order, UTF-8 as sent; a refused conversion after the
  // text has been logged sends nothing all the same.
  EXPECT_EQ(messages(device, "TTS: "),
            (std::vector<std::string>{"TTS: say[hello]", "TTS: say[42]", "TTS: say[a]", "TTS: say[b]",
                                      "TTS: lang[fr]", "TTS: say[c]", "TTS: lang[en]", "TTS: say[d]",
                                      "TTS: say[caf\xc3\xa9 \xe2\x98\x95]", "TTS: lang[fr]",
                                      "TTS: say[a\xef\xbf\xbd" "b]", "TTS: lang[\xef\xbf\xbd]", "TTS: say[f]"}));
  EXPECT_EQ(messages(device, "TtsFunctionStop"),
            (std::vector<std::string>{"TtsFunctionStop start", "TtsFunctionStop", "TtsFunctionStop start",
                                      "TtsFunctionStop arg ok", "TtsFunctionStop", "TtsFunctionStop start",
                                      "TtsFunctionStop start"}));
}

// Outside interactive mode: the stop's log lines up to the failed test, and nothing sent.
TEST(Tts, BeforeInteractiveModeNothingIsSent) {
  const std::vector<CallCase> cases = prefixed("tobrel.", {
      {"tts.start('hello')", "threw Must be in interactive mode", ""},
      {"tts.start()", "threw Wrong arguments", ""},
      {"tts.stop(function () {})", "threw Must be in interactive mode", ""},
      {"webcam.photo('p')", "threw Must be in interactive mode", ""},
      {"ping()", "threw Must be in interactive mode", ""},
  });
  DeviceApp device;
  ASSERT_TRUE(device.start(std::string(kConnect) + tobrel_test::tryCalls(cases) +
                               "tobrel.start(function () { log('granted'); });\n",
                           {"tts", "webcam"}));
  ASSERT_TRUE(device.waitGranted());
  tobrel_test::expectOutcomes(device, cases);
  EXPECT_EQ(messages(device, "TtsFunctionStop"),
            (std::vector<std::string>{"TtsFunctionStop start", "TtsFunctionStop arg ok"}));
  EXPECT_THAT(device.log(), Not(HasSubstr("MESSAGE: TTS: say")));
  EXPECT_THAT(device.log(), Not(HasSubstr("MESSAGE: PingFunction")));
  std::vector<std::string> kinds;
  for (const auto& r : device.msgd().received()) kinds.push_back(r.kind);
  EXPECT_EQ(kinds, (std::vector<std::string>{"interactiveMode.START"}));
}

// A photo's function gets one object per response (its code only) and one per event (code and
// description when present, and always the picture as a file object).
TEST(Webcam, APhotosFunctionGetsAnObjectPerResponseAndEvent) {
  const std::vector<CallCase> cases = prefixed("tobrel.webcam.", {
      {"photo('http://cam/1.jpg', show)", "returned undefined", "webcam { photo: \"http://cam/1.jpg\" }"},
      {"photo(7)", "returned undefined", "webcam { photo: \"7\" }"},
      {"photo()", "threw Wrong arguments", ""},
      {"photo('a', 5)", "threw Wrong arguments", ""},
      {"photo('a', show, 1)", "threw Wrong arguments", ""},
  });
  DeviceApp device;
  ASSERT_TRUE(device.control("follow webcam OK picture taken"));
  ASSERT_TRUE(device.start("function show(o) {\n"
                               "  log('photo ' + JSON.stringify(Object.keys(o)) + ' ' + o.type + ' ' + o.description +"
                               " ' ' + typeof o.data + ' ' + (o.data ? Object.keys(o.data).length : '-'));\n"
                               "}\n" +
                               tobrel_test::whenGranted(tobrel_test::tryCalls(cases)),
                           {"webcam"}));
  ASSERT_TRUE(device.waitLog("JSLOG: photo ", 2));
  tobrel_test::expectOutcomes(device, cases);
  tobrel_test::expectSent(device, "webcam", cases);
  // An event whose code is missing still names the picture.
  ASSERT_TRUE(device.answer(device.sent("webcam")[0], "event { description: \"late\" }"));
  ASSERT_TRUE(device.waitLog("JSLOG: photo ", 3));
  const std::vector<std::string> photos = {
      "photo [\"type\"] OK undefined undefined -",
      "photo [\"type\",\"description\",\"data\"] OK picture taken object 0",
      "photo [\"description\",\"data\"] undefined late object 0",
  };
  std::vector<std::string> heard;
  for (const std::string& line : device.scriptLog())
    if (line.rfind("photo ", 0) == 0) heard.push_back(line);
  EXPECT_EQ(heard, photos);
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: WEBCAM: photo url[http://cam/1.jpg]\n"));
  EXPECT_THAT(device.log(), HasSubstr("DEBUG: EventCallbackWebcam Webcam\n"));
}

// The global ping and tobrel.ping are the same native: same shapes, same frame, same log.
TEST(Ping, GlobalAndTobrelPingBehaveTheSame) {
  std::vector<CallCase> cases;
  for (const char* where : {"ping", "tobrel.ping"}) {
    const std::string name = where;
    cases.push_back({name + "(function (code) { log('" + name + " heard ' + code); })", "returned undefined",
                     "ping { }"});
    cases.push_back({name + "()", "returned undefined", "ping { }"});
    cases.push_back({name + "(5)", "threw Wrong arguments", ""});
    cases.push_back({name + "(function () {}, 1)", "threw Wrong arguments", ""});
  }
  DeviceApp device;
  ASSERT_TRUE(device.start(tobrel_test::whenGranted(tobrel_test::tryCalls(cases)), {}));
  ASSERT_TRUE(device.waitLog(kGrantedRunDone));
  tobrel_test::expectOutcomes(device, cases);
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: ping heard OK\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: tobrel.ping heard OK\n"));
  EXPECT_EQ(device.countLog("MESSAGE: PingFunction\n"), 5);
  EXPECT_EQ(device.countLog("DEBUG: Event: PingFunction\n"), 3);
  ASSERT_TRUE(device.waitSent("ping", 5));  // four accepted calls and whenGranted's own
  for (const auto& f : device.sent("ping")) EXPECT_EQ(tobrel_test::frameBody(f.msg), "ping { }");
}

// What ping writes on the link, byte for byte: length 79, the id, the interactive id and the
// empty ping sub-message (field 1000).
TEST(Ping, TravelsAsItsEightyThreeByteFrame) {
  tobrel_test::ScriptEnv env;
  const int daemon = env.attachPeer();
  const std::string granted = "01234567-89ab-cdef-0123-456789abcdef";
  env.app().interactiveId = g_strdup(granted.c_str());
  env.setNative("ping", PingFunction);
  EXPECT_EQ(env.run("ping()"), "undefined");
  std::string bytes(84, '\0');
  ASSERT_EQ(recv(daemon, &bytes[0], bytes.size(), MSG_DONTWAIT), 83);
  bytes.resize(83);
  const std::string id = bytes.substr(6, 36);
  EXPECT_EQ(bytes, std::string("\x00\x00\x00\x4f\x0a\x24", 6) + id + "\x1a\x24" + granted + std::string("\xc2\x3e\x00", 3));
  EXPECT_THAT(id, ::testing::MatchesRegex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"));
}

// random needs neither the link nor interactive mode and ignores its arguments.
TEST(Random, GivesIntegersBelowTenMillionWithoutTheLink) {
  tobrel_test::TempDir apps;
  tobrel_test::writeApp(apps, "app",
                        "var first = tobrel.random('ignored', 5);\n"
                        "var values = [first], bad = [];\n"
                        "for (var i = 0; i < 2000; i++) values.push(tobrel.random());\n"
                        "values.forEach(function (v) {\n"
                        "  if (typeof v !== 'number' || v !== Math.floor(v) || v < 0 || v >= 10000000) bad.push(v);\n"
                        "});\n"
                        "var distinct = values.filter(function (v, i) { return values.indexOf(v) === i; }).length;\n"
                        // the whole range is drawn, not only its lower part
                        "var top = values.filter(function (v) { return v >= 9000000; }).length;\n"
                        "log('first ' + first);\n"
                        "log('bad ' + bad.length + ' distinct ' + (distinct > 1900));\n"
                        "log('top ' + (top > 0));\n"
                        "exit();\n");
  tobrel_test::RunResult r = tobrel_test::runAppChild(apps.path(), "app PLAIN inst");
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  EXPECT_THAT(r.err, HasSubstr("JSLOG: bad 0 distinct true\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: top true\n"));
  const size_t at = r.err.find("JSLOG: first ");
  ASSERT_NE(at, std::string::npos);
  const std::string first = r.err.substr(at + 13, r.err.find('\n', at) - at - 13);
  EXPECT_THAT(r.err, HasSubstr("DEBUG: rand : " + first + "\n"));
}

// The values are the C library's rand sequence for the second the app started in, modulo ten
// million, whatever else the app does between draws: UUIDs, and messages (each gets one).
TEST(Random, KeepsTheSequenceOfItsStartSecondAcrossUuidsAndSentMessages) {
  DeviceApp device;
  const time_t before = time(nullptr);
  ASSERT_TRUE(device.start("var values = [tobrel.random(), tobrel.random()];\n"
                           "uuid();\n"
                           "values.push(tobrel.random());\n" +
                               std::string(kConnect) +
                               "tobrel.start(function () {\n"
                               "  values.push(tobrel.random());\n"
                               "  ping(function () {\n"
                               "    values.push(tobrel.random());\n"
                               "    uuid(); uuid();\n"
                               "    values.push(tobrel.random());\n"
                               "    log('values ' + values.join(' '));\n"
                               "  });\n"
                               "});\n",
                           {}));
  ASSERT_TRUE(device.waitLog("JSLOG: values "));
  const time_t after = time(nullptr);
  std::vector<std::string> drawn;
  for (const std::string& line : device.scriptLog()) {
    if (line.rfind("values ", 0) != 0) continue;
    std::istringstream words(line.substr(7));
    for (std::string word; words >> word;) drawn.push_back(word);
  }
  ASSERT_EQ(drawn.size(), 6u) << device.log();
  bool matched = false;
  for (time_t second = before; second <= after && !matched; ++second) {
    srand(static_cast<unsigned>(second));
    std::vector<std::string> expected;
    for (size_t i = 0; i < drawn.size(); ++i) expected.push_back(std::to_string(rand() % 10000000));
    matched = expected == drawn;
  }
  EXPECT_TRUE(matched) << "no second from " << before << " to " << after << " gives " << device.scriptLog().back();
}
