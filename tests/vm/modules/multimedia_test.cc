// The multimedia natives in a real app child against the message-daemon stand-in: play's
// argument forms and path rule, the player controls, record's objects, the list queries'
// one reply and the player-event listener.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "device_app.h"
#include "multimedia.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;
using tobrel_test::kConnectAndStart;

namespace {

std::string url(const std::string& text) { return "play { url: \"" + text + "\" }"; }

}  // namespace

// The app is named "app" and lives in a temporary folder: a "./" path still lands under the
// device's fixed app root.
TEST(Multimedia, CallsAreRefusedOrSentWithTheirRequest) {
  DeviceApp device;
  const std::string longName(300, 'a');
  const std::string root = "/usr/tobrel/apps/app/";
  const std::vector<CallCase> cases = {
      {"play()", "threw Wrong arguments", ""},
      {"play(5)", "threw Wrong arguments", ""},
      {"play({})", "threw Wrong arguments", ""},
      {"play({toString: function () { return './x'; }})", "threw Wrong arguments", ""},
      {"play(new String('./x'))", "threw Wrong arguments", ""},
      {"play('x', 5)", "threw Wrong arguments", ""},
      {"play('x', function () {}, 1)", "threw Wrong arguments", ""},
      {"play('./song.mp3')", "returned undefined", url(root + "song.mp3")},
      {"play('./x')", "returned undefined", url(root + "x")},
      {"play('./" + longName + "')", "returned undefined", url(root + longName.substr(0, 254 - root.size()))},
      {"play('./sub/../../other/a.mp3')", "returned undefined", url(root + "sub/../../other/a.mp3")},
      {"play('./')", "returned undefined", url("./")},
      {"play('../up.mp3')", "returned undefined", url("../up.mp3")},
      {"play('/media/a.mp3')", "returned undefined", url("/media/a.mp3")},
      {"play('http://radio.example/live')", "returned undefined", url("http://radio.example/live")},
      {"play('')", "returned undefined", url("")},
      // one byte per character: the low 8 bits of U+20AC
      {"play('./\\u20ac')", "returned undefined", url(root + "\\254")},
      {"play(file.read('song.mp3'), function (code) { log('played ' + code); })", "returned undefined",
       url(device.appFolder() + "/app/song.mp3")},
      {"pause(1)", "threw Wrong arguments", ""},
      {"pause(function () {}, function () {})", "threw Wrong arguments", ""},
      {"record('x')", "threw Wrong arguments", ""},
      {"pause()", "returned undefined", "pause { }"},
      {"resume()", "returned undefined", "resume { }"},
      {"stop(function (code) { log('stopped ' + code); })", "returned undefined", "stop { }"},
      {"next()", "returned undefined", "next { }"},
      {"previous()", "returned undefined", "previous { }"},
      {"record()", "returned undefined", "record { url: \"\" }"},
      {"artist()", "threw Wrong arguments", ""},
      {"folder(1)", "threw Wrong arguments", ""},
      {"genre(function () {}, 1)", "threw Wrong arguments", ""},
      {"artist(function () {})", "returned undefined", "getartist { }"},
      {"folder(function () {})", "returned undefined", "getfolder { }"},
      {"genre(function () {})", "returned undefined", "getgenre { }"},
      {"playlist(function () {})", "returned undefined", "getplaylist { }"},
      {"song(function () {})", "returned undefined", "getsong { }"},
  };
  tobrel_test::expectCallTable(device, "multimedia", cases, {"multimedia"});
  const std::string& log = device.log();
  EXPECT_THAT(log, HasSubstr("MESSAGE: MULTIMEDIA: play[./song.mp3]\n"
                             "MESSAGE: MULTIMEDIA: tmpStr[song.mp3]\n"
                             "MESSAGE: MULTIMEDIA: buffer play[/usr/tobrel/apps/app/song.mp3]\n"));
  EXPECT_THAT(log, HasSubstr("MESSAGE: MULTIMEDIA: play[./]\nMESSAGE: MULTIMEDIA: *ascii play[./]\n"));
  for (const char* line : {"pause", "resume", "stop", "next", "previous", "GetArtist", "GetFolder", "GetGenre",
                           "GetPlaylist", "GetSong"}) {
    EXPECT_EQ(device.countLog(std::string("MESSAGE: MULTIMEDIA: ") + line + "\n"), 1) << line;
  }
  // The two functions given to controls hear their request's reply under their own names.
  ASSERT_TRUE(device.waitLog("JSLOG: stopped OK"));
  EXPECT_THAT(log, HasSubstr("JSLOG: played OK\n"));
  EXPECT_THAT(log, HasSubstr("DEBUG: Event: MutimediaPlay\n"));
  EXPECT_THAT(log, HasSubstr("DEBUG: Event: MutimediaStop\n"));
}

// The shape is tested before interactive mode, and play's text is taken before it too.
TEST(Multimedia, BeforeInteractiveModeNothingIsSent) {
  DeviceApp device;
  ASSERT_TRUE(device.start("var m = tobrel.multimedia;\n" +
                               tobrel_test::tryCall("play text", "m.play('./a')") +
                               tobrel_test::tryCall("play file", "m.play(file.read('a'))") +
                               tobrel_test::tryCall("play number", "m.play(5)") +
                               tobrel_test::tryCall("play two", "m.play('a', 5)") +
                               tobrel_test::tryCall("pause", "m.pause()") +
                               tobrel_test::tryCall("pause one", "m.pause(1)") +
                               tobrel_test::tryCall("record", "m.record(function () {})") +
                               tobrel_test::tryCall("song", "m.song(function () {})") +
                               tobrel_test::tryCall("song none", "m.song()") +
                               tobrel_test::tryCall("listener", "m.addListener(function () {})") +
                               kConnectAndStart,
                           {"multimedia"}));
  ASSERT_TRUE(device.waitGranted());
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{
                                    "play text threw Must be in interactive mode",
                                    "play file threw Must be in interactive mode",
                                    "play number threw Wrong arguments",
                                    "play two threw Wrong arguments",
                                    "pause threw Must be in interactive mode",
                                    "pause one threw Wrong arguments",
                                    "record threw Must be in interactive mode",
                                    "song threw Must be in interactive mode",
                                    "song none threw Wrong arguments",
                                    "listener returned undefined",
                                    "granted",
                                }));
  EXPECT_THAT(device.log(), Not(HasSubstr("MULTIMEDIA: play[")));
  EXPECT_EQ(device.msgd().received().size(), 1u) << "the START alone";
}

// A list reply is looked at in one fixed order, whatever was asked, and only the first entry
// of the first non-empty list reaches the function. The query hears one reply only, with or
// without a list; a later one finds no request.
TEST(Multimedia, ListQueriesHearTheFirstEntryOfOneReply) {
  struct Case {
    const char* query;
    const char* reply;  // the reply's multimedia part (text form); null: no multimedia at all
    const char* heard;  // what the function logs; null: it is not called
  };
  const std::vector<Case> cases = {
      {"song", "artistlist: \"A\" artistlist: \"B\" songlist: \"S\"", "A"},
      {"song", "songlist: \"S1\" songlist: \"S2\" genrelist: \"G\"", "G"},
      {"genre", "genrelist: \"G\" playlistlist: \"P\"", "P"},
      {"artist", "songlist: \"S\" folderlist: \"F\"", "F"},
      {"playlist", "songlist: \"caf\\303\\251\"", "caf%C3%A9"},
      {"folder", "songlist: \"\" songlist: \"second\"", ""},
      {"artist", "", nullptr},
      {"song", nullptr, nullptr},
  };
  std::string js = "function heard(n) { return function (what) {"
                   " log(n + ' heard [' + encodeURIComponent(what) + '] ' + arguments.length); }; }\n"
                   "tobrel.connect('127.0.0.1', PORT);\n"
                   "tobrel.start(function () {\n";
  for (size_t i = 0; i < cases.size(); ++i)
    js += std::string("  tobrel.multimedia.") + cases[i].query + "(heard(" + std::to_string(i) + "));\n";
  js += "  log('asked');\n});\n";
  DeviceApp device;
  ASSERT_TRUE(device.control("reply multimedia silent"));
  ASSERT_TRUE(device.start(js, {"multimedia"}));
  ASSERT_TRUE(device.waitLog("JSLOG: asked"));
  ASSERT_TRUE(device.waitSent("multimedia.get", cases.size()));
  const auto queries = device.sent("multimedia.get");
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const Case& c = cases[i];
    ASSERT_TRUE(device.answer(queries[i], std::string("response { code: OK }") +
                                              (c.reply != nullptr ? std::string(" multimedia { ") + c.reply + " }" : "")));
    ASSERT_TRUE(device.waitLog("MESSAGE: MULTIMEDIA: MultimedialistCallback\n", static_cast<int>(i) + 1));
    // A second reply to the same query: it is done with, whatever the first one held.
    ASSERT_TRUE(device.answer(queries[i], "multimedia { artistlist: \"again\" }"));
    ASSERT_TRUE(device.waitLog("WARNING: NO CORRELATION FOUND\n", static_cast<int>(i) + 1));
  }
  std::vector<std::string> expected;
  for (size_t i = 0; i < cases.size(); ++i)
    if (cases[i].heard != nullptr) expected.push_back(std::to_string(i) + " heard [" + cases[i].heard + "] 1");
  expected.insert(expected.begin(), "asked");
  EXPECT_EQ(device.scriptLog(), expected);
  EXPECT_EQ(device.countLog("MESSAGE: MULTIMEDIA: MultimedialistCallback : no list\n"), 2);
}

// record's function hears the response as {type}, then the event as {type, description,
// data}, data being the recording's file object, which play takes like any file.
TEST(Multimedia, RecordHandsTheScriptTheRecordingFile) {
  DeviceApp device;
  ASSERT_TRUE(device.control("follow multimedia.record OK recorded"));
  ASSERT_TRUE(device.start("tobrel.connect('127.0.0.1', PORT);\n"
                           "tobrel.start(function () {\n"
                           "  tobrel.multimedia.record(function (r) {\n"
                           "    log('heard ' + JSON.stringify(r) + ' ' + Object.keys(r));\n"
                           "    if (r.data) tobrel.multimedia.play(r.data);\n"
                           "  });\n"
                           "});\n",
                           {"multimedia"}));
  ASSERT_TRUE(device.waitSent("multimedia.play", 1));
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{
                                    "heard {\"type\":\"OK\"} type",
                                    "heard {\"type\":\"OK\",\"description\":\"recorded\",\"data\":{}} "
                                    "type,description,data",
                                }));
  EXPECT_EQ(device.sent("multimedia.play")[0].msg.multimedia().play().url(), "/tmp/record.flac");
  EXPECT_EQ(device.sent("multimedia.record")[0].msg.multimedia().ShortDebugString(), "record { url: \"\" }");
}

// The listener hears each player event's action by name and stays while it returns true;
// other messages, a command's reply included, call it not at all.
TEST(Multimedia, ListenersHearThePlayersActions) {
  DeviceApp device;
  ASSERT_TRUE(device.start("tobrel.multimedia.addListener(function (a) { log('kept ' + a); return true; });\n"
                           "tobrel.multimedia.addListener(function (a) { log('once ' + a); });\n"
                           "tobrel.multimedia.addListener(function (a) { log('thrower ' + a); throw 'no player'; });\n"
                           "try { tobrel.multimedia.addListener(1); } catch (e) { log('one: ' + e); }\n"
                           "tobrel.connect('127.0.0.1', PORT);\n"
                           "tobrel.start(function () { log('granted'); tobrel.multimedia.pause(); });\n",
                           {"multimedia"}));
  ASSERT_TRUE(device.waitGranted());
  ASSERT_TRUE(device.waitSent("multimedia.pause", 1));
  ASSERT_TRUE(device.control("button last SIMPLE"));
  const std::vector<std::string> actions = {"PLAY", "STOP", "PAUSE", "RESUME", "MUSIC_UPDATE"};
  for (const std::string& action : actions) ASSERT_TRUE(device.control("multimedia last " + action));
  ASSERT_TRUE(device.waitLog("JSLOG: kept MUSIC_UPDATE"));
  std::vector<std::string> expected = {"one: Wrong arguments", "granted", "kept PLAY", "once PLAY", "thrower PLAY"};
  for (size_t i = 1; i < actions.size(); ++i) expected.push_back("kept " + actions[i]);
  EXPECT_EQ(device.scriptLog(), expected);
  EXPECT_THAT(device.log(), HasSubstr("no player"));
}

TEST(CopySubstring, CopiesTheIncludedRangeOrNothing) {
  struct Case {
    const char* source;
    int first, last;
    const char* copy;  // null: no copy
  };
  const std::vector<Case> cases = {
      {"./song.mp3", 2, 9, "song.mp3"}, {"abc", 1, 1, "b"}, {"abc", 0, 2, "abc"},
      {"abc", 2, 1, nullptr},           {nullptr, 0, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last));
    char* copy = copySubstring(c.source, c.first, c.last);
    if (c.copy == nullptr) {
      EXPECT_EQ(copy, nullptr);
    } else {
      ASSERT_NE(copy, nullptr);
      EXPECT_STREQ(copy, c.copy);
    }
    free(copy);
  }
}
