// The call wrappers against stand-in services: for every wrapper the stand-in checks the object,
// method, in-signature and in-values it receives and answers scripted replies in turn; the test
// checks the result, the out-values and the line printed on standard output.
#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "devicebus.h"
#include "devicebus_fixture.h"
#include "process.h"

namespace {

const char kErrorName[] = "com.helvorand.tobrel.Error.Refused";
const char kErrorMessage[] = "refused by the stand-in";
const char kCommon[] = "Call to dbus_g_proxy_call failed";
const char kPing[] = "Call to dbus_g_proxy_call ping failed";

// Out-variables start as these, so a test sees whether a wrapper wrote to them.
char kUntouched[] = "untouched";
const int kUntouchedInt = -7777;

std::string show(const char* name, char* value) {
  std::string shown = std::string(name) + "=";
  if (value == kUntouched) return shown + "untouched";
  if (value == nullptr) return shown + "NULL";
  shown += std::string("'") + value + "'";
  g_free(value);
  return shown;
}

std::string show(const char* name, int value) {
  return std::string(name) + "=" + (value == kUntouchedInt ? std::string("untouched") : std::to_string(value));
}

using Invoke = std::function<gboolean(DBusGProxy*, std::string& outs)>;

// One reply of the stand-in, in the order of the calls; a NULL reply is an error reply.
struct Answer {
  const char* reply;
  gboolean result;
  const char* outs;
};

struct WrapperCase {
  const char* wrapper;
  int module;
  const char* method;
  const char* inSig;
  const char* inValues;
  const char* outSig;
  const char* failure;  // NULL: the wrapper prints nothing on failure
  Invoke invoke;
  std::vector<Answer> answers;
};

const std::vector<Answer> kRemote = {{"(true,)", TRUE, ""}, {"(false,)", FALSE, ""}, {nullptr, FALSE, ""}};
const std::vector<Answer> kStringAndRemote = {
    {"('first', true)", TRUE, "out='first'"},
    {"('second', false)", FALSE, "out='second'"},
    {nullptr, FALSE, "out=untouched"}};

Invoke stringOut(gboolean (*wrapper)(DBusGProxy*, char**)) {
  return [wrapper](DBusGProxy* p, std::string& outs) {
    char* value = kUntouched;
    gboolean r = wrapper(p, &value);
    outs = show("out", value);
    return r;
  };
}

gboolean getStatus(DBusGProxy* p, std::string& outs) {
  int a = kUntouchedInt, b = kUntouchedInt, c = kUntouchedInt;
  gboolean r = controllerGetStatus(p, &a, &b, &c);
  outs = show("a", a) + " " + show("b", b) + " " + show("c", c);
  return r;
}

gboolean getState(DBusGProxy* p, std::string& outs) {
  char* state = kUntouched;
  gboolean r = connmanGetState(p, &state);
  outs = show("state", state);
  return r;
}

const WrapperCase kCases[] = {
    // in-values differ from row to row and argument to argument, so a swapped argument fails.
    {"ledLight", 0, "light", "ss", "('led-1', 'red')", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return ledLight(p, "led-1", "red"); }, kRemote},
    {"ledFade", 0, "fade", "ssi", "('led-2', 'blue', 300)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return ledFade(p, "led-2", "blue", 300); }, kRemote},
    {"ledPulse", 0, "pulse", "sssii", "('led-3', 'red', 'green', 250, 4)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return ledPulse(p, "led-3", "red", "green", 250, 4); }, kRemote},
    {"earsReset", 1, "reset", "ss", "('ears-1', 'both')", "b", nullptr,
     [](DBusGProxy* p, std::string&) { return earsReset(p, "ears-1", "both"); }, kRemote},
    {"earsMove", 1, "move", "siiii", "('ears-2', 1, 2, 3, 4)", "b", kPing,
     [](DBusGProxy* p, std::string&) { return earsMove(p, "ears-2", 1, 2, 3, 4); }, kRemote},
    {"earsMoveLeft", 1, "move_left", "sii", "('ears-3', 5, 6)", "b", kPing,
     [](DBusGProxy* p, std::string&) { return earsMoveLeft(p, "ears-3", 5, 6); }, kRemote},
    {"earsMoveRight", 1, "move_right", "sii", "('ears-4', 7, 8)", "b", kPing,
     [](DBusGProxy* p, std::string&) { return earsMoveRight(p, "ears-4", 7, 8); }, kRemote},
    {"earsMoveStep", 1, "move_step", "siiii", "('ears-5', -1, -2, 9, 10)", "b", kPing,
     [](DBusGProxy* p, std::string&) { return earsMoveStep(p, "ears-5", -1, -2, 9, 10); }, kRemote},
    {"earsMoveLeftStep", 1, "move_left_step", "sii", "('ears-6', 11, 12)", "b", kPing,
     [](DBusGProxy* p, std::string&) { return earsMoveLeftStep(p, "ears-6", 11, 12); }, kRemote},
    {"earsMoveRightStep", 1, "move_right_step", "sii", "('ears-7', 13, 14)", "b", kPing,
     [](DBusGProxy* p, std::string&) { return earsMoveRightStep(p, "ears-7", 13, 14); }, kRemote},
    {"ttsSpeak", 3, "tts_speak", "sssi", "('tts-1', 'Bonjour', 'fr', 2)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return ttsSpeak(p, "tts-1", "Bonjour", "fr", 2); }, kRemote},
    {"ttsStop", 3, "tts_stop", "si", "('tts-2', 3)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return ttsStop(p, "tts-2", 3); }, kRemote},
    {"asrStartFile", 3, "asr_start_file", "ssi", "('asr-1', '/tmp/grammar.xml', 4)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return asrStartFile(p, "asr-1", "/tmp/grammar.xml", 4); }, kRemote},
    {"asrStartString", 3, "asr_start_string", "sssi", "('asr-2', '<grammar/>', 'en', 5)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return asrStartString(p, "asr-2", "<grammar/>", "en", 5); }, kRemote},
    {"asrStop", 3, "asr_stop", "si", "('asr-3', 6)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return asrStop(p, "asr-3", 6); }, kRemote},
    {"rfidGetTags", 4, "getTags", "", "()", "sb", kCommon, stringOut(rfidGetTags), kStringAndRemote},
    {"multimediaPlay", 6, "play", "ssi", "('mm-1', 'file:///a.mp3', 1)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return multimediaPlay(p, "mm-1", "file:///a.mp3", 1); }, kRemote},
    {"multimediaPause", 6, "pause", "si", "('mm-2', 2)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return multimediaPause(p, "mm-2", 2); }, kRemote},
    {"multimediaStop", 6, "stop", "si", "('mm-3', 3)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return multimediaStop(p, "mm-3", 3); }, kRemote},
    {"multimediaResume", 6, "resume", "si", "('mm-4', 4)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return multimediaResume(p, "mm-4", 4); }, kRemote},
    {"multimediaRecord", 6, "record", "ssi", "('mm-5', '/tmp/rec.wav', 5)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return multimediaRecord(p, "mm-5", "/tmp/rec.wav", 5); }, kRemote},
    {"multimediaNext", 6, "next", "si", "('', 7)", "b", "Call to dbus_g_proxy_call failed!",
     [](DBusGProxy* p, std::string&) { return multimediaNext(p, 7); }, kRemote},
    {"multimediaPrevious", 6, "previous", "si", "('', 8)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return multimediaPrevious(p, 8); }, kRemote},
    {"multimediaGetArtist", 6, "get_artist", "", "()", "sb", kCommon, stringOut(multimediaGetArtist),
     kStringAndRemote},
    {"multimediaGetFolder", 6, "get_folder", "", "()", "sb", kCommon, stringOut(multimediaGetFolder),
     kStringAndRemote},
    {"multimediaGetPlaylist", 6, "get_playlist", "", "()", "sb", kCommon, stringOut(multimediaGetPlaylist),
     kStringAndRemote},
    {"multimediaGetGenre", 6, "get_genre", "", "()", "sb", kCommon, stringOut(multimediaGetGenre), kStringAndRemote},
    {"multimediaGetSong", 6, "get_song", "", "()", "sb", kCommon, stringOut(multimediaGetSong), kStringAndRemote},
    {"controllerGetBatteryState", 7, "get_battery_state", "", "()", "ib", kCommon,
     [](DBusGProxy* p, std::string& outs) {
       int state = kUntouchedInt;
       gboolean r = controllerGetBatteryState(p, &state);
       outs = show("state", state);
       return r;
     },
     {{"(80, true)", TRUE, "state=80"}, {"(3, false)", FALSE, "state=3"}, {nullptr, FALSE, "state=untouched"}}},
    {"controllerGetStatus", 7, "get_status", "", "()", "iii", kCommon,
     getStatus,
     {{"(1, 2, 3)", TRUE, "a=1 b=2 c=3"}, {"(0, 0, 0)", TRUE, "a=0 b=0 c=0"},
      {nullptr, FALSE, "a=untouched b=untouched c=untouched"}}},
    {"controllerTakeControl", 7, "take_control", "", "()", "bs", kCommon,
     [](DBusGProxy* p, std::string& outs) {
       gboolean granted = kUntouchedInt;
       char* token = kUntouched;
       gboolean r = controllerTakeControl(p, &granted, &token);
       outs = show("granted", granted) + " " + show("token", token);
       return r;
     },
     {{"(true, 'tok-1')", TRUE, "granted=1 token='tok-1'"}, {"(false, '')", TRUE, "granted=0 token=''"},
      {nullptr, FALSE, "granted=untouched token=untouched"}}},
    {"controllerReleaseControl", 7, "release_control", "s", "('tok-2',)", "", kCommon,
     [](DBusGProxy* p, std::string&) { return controllerReleaseControl(p, "tok-2"); },
     {{"()", TRUE, ""}, {nullptr, FALSE, ""}}},
    {"connmanGetState", 8, "GetProperties", "", "()", "a{sv}", kCommon,
     getState,
     {{"({'OfflineMode': <false>, 'State': <'online'>},)", TRUE, "state='online'"},
      {"({'OfflineMode': <false>},)", FALSE, "state=NULL"},
      // A "State" that holds no string is no state.
      {"({'State': <42>},)", FALSE, "state=NULL"},
      {"(@a{sv} {},)", FALSE, "state=NULL"},
      {nullptr, FALSE, "state=untouched"}}},
    {"choreographyLaunchScript", 9, "launchScript", "si", "('dance.chor', 9)", "sb", kCommon,
     [](DBusGProxy* p, std::string& outs) {
       char* answer = kUntouched;
       gboolean r = choreographyLaunchScript(p, "dance.chor", &answer, 9);
       outs = show("out", answer);
       return r;
     },
     kStringAndRemote},
    {"webcamTakeSnapshot", 10, "takeSnapshot", "ssi", "('cam-1', '/tmp/shot.jpg', 10)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return webcamTakeSnapshot(p, "cam-1", "/tmp/shot.jpg", 10); }, kRemote},
    {"schedulerAddDateEntry", 11, "add_date_entry", "siiiiii", "('sch-1', 2026, 12, 10, 9, 30, 15)", "b",
     "Call to dbus_g_proxy_call add_date_entry failed",
     [](DBusGProxy* p, std::string&) { return schedulerAddDateEntry(p, "sch-1", 2026, 12, 10, 9, 30, 15); }, kRemote},
    {"schedulerAddWeeklyEntry", 11, "add_weekly_entry", "siiii", "('sch-2', 3, 8, 45, 5)", "b",
     "Call to dbus_g_proxy_call add_weekly_entry failed",
     [](DBusGProxy* p, std::string&) { return schedulerAddWeeklyEntry(p, "sch-2", 3, 8, 45, 5); }, kRemote},
    {"schedulerAddPeriodicEntry", 11, "add_periodic_entry", "sii", "('sch-3', 600, 12)", "b",
     "Call to dbus_g_proxy_call add_periodic_entry failed",
     [](DBusGProxy* p, std::string&) { return schedulerAddPeriodicEntry(p, "sch-3", 600, 12); }, kRemote},
    {"schedulerDeleteAllEntry", 11, "delete_all_entry", "", "()", "b",
     "Call to dbus_g_proxy_call delete_all_entry failed",
     [](DBusGProxy* p, std::string&) { return schedulerDeleteAllEntry(p); }, kRemote},
    {"schedulerDeleteEntry", 11, "delete_entry", "s", "('sch-4',)", "b",
     "Call to dbus_g_proxy_call delete_entry failed",
     [](DBusGProxy* p, std::string&) { return schedulerDeleteEntry(p, "sch-4"); }, kRemote},
    {"t2tCanRing", 12, "t2t_can_ring", "b", "(true,)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return t2tCanRing(p, TRUE); }, kRemote},
    {"t2tCall", 12, "t2t_call", "s", "('peer@example.org',)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return t2tCall(p, "peer@example.org"); }, kRemote},
    {"t2tAnswear", 12, "t2t_answear", "b", "(false,)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return t2tAnswear(p, FALSE); }, kRemote},
    {"t2tHangup", 12, "t2t_hangup", "", "()", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return t2tHangup(p); }, kRemote},
    {"t2tUseAccount", 12, "t2t_use_account", "ssss", "('sip.example.org', 'user', 'secret', 'example.org')", "b",
     kCommon,
     [](DBusGProxy* p, std::string&) { return t2tUseAccount(p, "sip.example.org", "user", "secret", "example.org"); },
     kRemote},
    {"serialOpen", 13, "open", "si", "('/dev/ttyS1', 9600)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return serialOpen(p, "/dev/ttyS1", 9600); }, kRemote},
    {"serialWrite", 13, "write", "sss", "('/dev/ttyS1', 'hello', 'ascii')", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return serialWrite(p, "/dev/ttyS1", "hello", "ascii"); }, kRemote},
    {"serialClose", 13, "close", "s", "('/dev/ttyS2',)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return serialClose(p, "/dev/ttyS2"); }, kRemote},
    {"serialReadLineMode", 13, "readlinemode", "ss", "('/dev/ttyS3', 'line')", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return serialReadLineMode(p, "/dev/ttyS3", "line"); }, kRemote},
    {"dockLedLight", 14, "light", "ss", "('dock-1', 'white')", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return dockLedLight(p, "dock-1", "white"); }, kRemote},
    {"dockLedFade", 14, "fade", "ssi", "('dock-2', 'pink', 20)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return dockLedFade(p, "dock-2", "pink", 20); }, kRemote},
    {"dockLedPulse", 14, "pulse", "sssii", "('dock-3', 'red', 'blue', 21, 22)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return dockLedPulse(p, "dock-3", "red", "blue", 21, 22); }, kRemote},
    {"dockMove", 14, "move", "sii", "('dock-4', 1, 23)", "b", kCommon,
     [](DBusGProxy* p, std::string&) { return dockMove(p, "dock-4", 1, 23); }, kRemote},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const WrapperCase& c, std::ostream* os) { *os << c.wrapper; }

std::vector<std::string> serviceArgs(int module) {
  const ModuleNames& m = kModuleNames[module];
  return {"--service", m.service, m.path, m.interface};
}

// A private bus, the caller's connection and the stand-in for one test.
class OnPrivateBus : public testing::Test {
 protected:
  OnPrivateBus() : bus_(openBusPolicy()) {}
  void SetUp() override {
    ASSERT_TRUE(useAsSystemBus(bus_));
    connection_ = connectToSystemBus();
    ASSERT_NE(connection_, nullptr);
  }
  void TearDown() override {
    for (DBusGProxy* p : proxies_) g_object_unref(p);
    if (standin_) {
      standin_->stop();
      if (HasFailure()) std::cerr << "---- stand-in output ----\n" << standin_->output() << "----\n";
    }
    closeConnection(connection_);
  }
  bool startStandin(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {STANDIN_PATH, bus_.address()};
    argv.insert(argv.end(), args.begin(), args.end());
    tobrel_test::RunOptions options;
    options.outputToFile = true;
    standin_ = tobrel_test::Process::start(argv, options);
    return standin_->waitForOutput("ready\n", 10000);
  }
  // Calls `invoke` on the module's proxy, which must fail and leave the out-values as `outs`;
  // what it printed.
  std::string failingCall(int module, const Invoke& invoke, const std::string& outs) {
    DBusGProxy* p = proxy(module);
    EXPECT_NE(p, nullptr);
    std::string got;
    gboolean result = -1;
    std::string printed = capturedStdout([&] { result = invoke(p, got); });
    EXPECT_FALSE(result);
    EXPECT_EQ(got, outs);
    return printed;
  }
  DBusGProxy* proxy(int module) {
    DBusGProxy* p = nullptr;
    EXPECT_TRUE(dbus_load_proxy(&p, module, connection_));
    if (p != nullptr) proxies_.push_back(p);
    return p;
  }

  tobrel::test::PrivateBus bus_;
  DBusGConnection* connection_ = nullptr;
  std::unique_ptr<tobrel_test::Process> standin_;
  std::vector<DBusGProxy*> proxies_;
};

class WrapperCall : public OnPrivateBus, public testing::WithParamInterface<WrapperCase> {};

TEST_P(WrapperCall, SendsTheMethodAndReadsEachReply) {
  const WrapperCase& c = GetParam();
  std::vector<std::string> args = serviceArgs(c.module);
  for (const Answer& a : c.answers) {
    if (a.reply != nullptr) {
      args.insert(args.end(), {"--reply", c.method, c.inSig, c.inValues, c.outSig, a.reply});
    } else {
      args.insert(args.end(), {"--error", c.method, c.inSig, c.inValues, kErrorName, kErrorMessage});
    }
  }
  ASSERT_TRUE(startStandin(args));
  DBusGProxy* p = proxy(c.module);
  ASSERT_NE(p, nullptr);
  for (const Answer& a : c.answers) {
    SCOPED_TRACE(a.reply != nullptr ? a.reply : "error reply");
    std::string outs;
    gboolean result = -1;
    std::string printed = capturedStdout([&] { result = c.invoke(p, outs); });
    EXPECT_EQ(result, a.result);
    EXPECT_EQ(outs, a.outs);
    std::string line;
    if (a.reply == nullptr && c.failure != nullptr) line = std::string(c.failure) + ": " + kErrorMessage + "\n";
    EXPECT_EQ(printed, line);
  }
}

void collectDebug(const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
  static_cast<std::vector<std::string>*>(data)->push_back(message);
}

TEST_P(WrapperCall, NullProxyIsFalseAndSilent) {
  const WrapperCase& c = GetParam();
  std::vector<std::string> debug;
  guint handler = g_log_set_handler(nullptr, G_LOG_LEVEL_DEBUG, collectDebug, &debug);
  std::string outs;
  gboolean result = -1;
  EXPECT_EQ(capturedStdout([&] { result = c.invoke(nullptr, outs); }), "");
  g_log_remove_handler(nullptr, handler);
  EXPECT_FALSE(result);
  EXPECT_EQ(outs, c.answers.back().outs);  // the error answer: nothing written
  // Only the ear reset logs, and it does so before it looks at the proxy.
  std::vector<std::string> expected;
  if (std::string(c.wrapper) == "earsReset") expected.push_back("earsReset(controller->proxies.ear B");
  EXPECT_EQ(debug, expected);
}

INSTANTIATE_TEST_SUITE_P(AllWrappers, WrapperCall, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<WrapperCase>& info) { return info.param.wrapper; });

// The table must name every wrapper that the library exports, once: a wrapper added without a
// row, or a row dropped, would otherwise go untested.
TEST(WrapperTable, CoversEveryWrapper) {
  const std::set<std::string> notWrappers = {"dbus_load_proxy", "handleError", "die", "toLower", "generateUuid"};
  std::multiset<std::string> wrappers;
  for (const auto& [name, type] : exportedSymbols(NM_PATH, DEVICEBUS_LIBRARY))
    if (notWrappers.count(name) == 0) wrappers.insert(name);
  std::multiset<std::string> rows;
  for (const WrapperCase& c : kCases) rows.insert(c.wrapper);
  EXPECT_EQ(rows, wrappers);
  EXPECT_EQ(wrappers.size(), 53u);
}

// A reply whose values do not fit the out-list is a failed call: the line, FALSE, and the
// caller's variables as they were.
TEST_F(OnPrivateBus, ReplyOfTheWrongShapeIsAFailure) {
  struct Case {
    int module;
    const char* method;
    const char* outSig;
    const char* reply;
    Invoke invoke;
    const char* outs;
  } cases[] = {
      {4, "getTags", "b", "(true,)", stringOut(rfidGetTags), "out=untouched"},
      {7, "get_status", "ii", "(1, 2)",
       getStatus,
       "a=untouched b=untouched c=untouched"},
      {8, "GetProperties", "s", "('online',)",
       getState,
       "state=untouched"},
  };
  std::vector<std::string> args;
  for (const Case& c : cases) {
    std::vector<std::string> service = serviceArgs(c.module);
    args.insert(args.end(), service.begin(), service.end());
    args.insert(args.end(), {"--reply", c.method, "", "()", c.outSig, c.reply});
  }
  ASSERT_TRUE(startStandin(args));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    const std::string printed = failingCall(c.module, c.invoke, c.outs);
    EXPECT_EQ(printed.rfind(std::string(kCommon) + ": ", 0), 0u) << printed;
    EXPECT_EQ(printed.find('\n'), printed.size() - 1) << printed;
  }
}

TEST_F(OnPrivateBus, ServiceNotOnTheBusIsAFailure) {
  DBusGProxy* p = proxy(0);
  ASSERT_NE(p, nullptr);
  gboolean result = -1;
  std::string printed = capturedStdout([&] { result = ledLight(p, "led-1", "red"); });
  EXPECT_FALSE(result);
  EXPECT_EQ(printed.rfind(std::string(kCommon) + ": ", 0), 0u) << printed;
}

// The stand-in is what makes the table catch a wrong argument order: a swapped call fails.
TEST_F(OnPrivateBus, StandinRefusesValuesOtherThanExpected) {
  std::vector<std::string> args = serviceArgs(0);
  args.insert(args.end(), {"--reply", "light", "ss", "('red', 'led-1')", "b", "(true,)"});
  ASSERT_TRUE(startStandin(args));
  gboolean result = -1;
  std::string printed = capturedStdout([&] { result = ledLight(proxy(0), "led-1", "red"); });
  EXPECT_FALSE(result);
  EXPECT_NE(printed.find("unexpected call"), std::string::npos) << printed;
}

// A caller's NULL text must not crash the call: it travels as the empty string.
TEST_F(OnPrivateBus, NullTextTravelsAsEmptyString) {
  std::vector<std::string> args = serviceArgs(0);
  args.insert(args.end(), {"--reply", "light", "ss", "('', 'red')", "b", "(true,)"});
  ASSERT_TRUE(startStandin(args));
  gboolean result = -1;
  std::string printed = capturedStdout([&] { result = ledLight(proxy(0), nullptr, "red"); });
  EXPECT_TRUE(result);
  EXPECT_EQ(printed, "");
}

// libdbus ends the calling program on a string that is not valid UTF-8. Every wrapper refuses
// such an argument, wherever it stands, with its own failure line, and sends nothing.
TEST_F(OnPrivateBus, TextThatIsNotUtf8IsRefusedBeforeTheCall) {
  struct Case {
    const char* what;
    int module;
    const char* failure;  // NULL: the wrapper prints nothing on failure
    Invoke invoke;
    const char* outs;
  };
  const Case cases[] = {
      {"Latin-1 text", 3, kCommon,
       [](DBusGProxy* p, std::string&) { return ttsSpeak(p, "i", "caf\xe9", "fr", 0); }, ""},
      {"first argument", 0, kCommon, [](DBusGProxy* p, std::string&) { return ledLight(p, "\xff", "red"); },
       ""},
      {"sequence cut short at the end", 0, kCommon,
       [](DBusGProxy* p, std::string&) { return ledPulse(p, "led", "red", "gr\xc3", 1, 2); }, ""},
      {"overlong form", 1, kPing,
       [](DBusGProxy* p, std::string&) { return earsMove(p, "\xc0\xaf", 1, 2, 3, 4); }, ""},
      {"surrogate", 3, kCommon,
       [](DBusGProxy* p, std::string&) { return asrStartString(p, "u", "\xed\xa0\x80", "fr", 0); }, ""},
      {"before an out-string", 9, kCommon,
       [](DBusGProxy* p, std::string& outs) {
         char* answer = kUntouched;
         gboolean r = choreographyLaunchScript(p, "\xfe", &answer, 1);
         outs = show("out", answer);
         return r;
       },
       "out=untouched"},
      {"no result of its own", 7, kCommon,
       [](DBusGProxy* p, std::string&) { return controllerReleaseControl(p, "\x80"); }, ""},
      {"own failure text", 11, "Call to dbus_g_proxy_call delete_entry failed",
       [](DBusGProxy* p, std::string&) { return schedulerDeleteEntry(p, "sch\x81"); }, ""},
      {"last of four", 12, kCommon,
       [](DBusGProxy* p, std::string&) { return t2tUseAccount(p, "s", "u", "p", "dom\xe9"); }, ""},
      {"silent wrapper", 1, nullptr, [](DBusGProxy* p, std::string&) { return earsReset(p, "\xe9", "both"); },
       ""},
  };
  const char valid[] = "caf\xc3\xa9 \xef\xbf\xbe";  // U+FFFE: a noncharacter, but valid UTF-8
  std::vector<std::string> args;
  for (int module : {0, 1, 3, 7, 9, 11, 12}) {
    std::vector<std::string> service = serviceArgs(module);
    args.insert(args.end(), service.begin(), service.end());
    if (module == 0) args.insert(args.end(), {"--reply", "light", "ss", std::string("('") + valid + "', 'red')", "b", "(true,)"});
  }
  ASSERT_TRUE(startStandin(args));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(failingCall(c.module, c.invoke, c.outs), c.failure != nullptr ? std::string(c.failure) + ": invalid UTF-8 argument\n" : "");
  }
  // Valid text outside ASCII still goes through; the stand-in saw only that call.
  gboolean result = -1;
  std::string printed = capturedStdout([&] { result = ledLight(proxy(0), valid, "red"); });
  EXPECT_TRUE(result);
  EXPECT_EQ(printed, "");
  standin_->stop();
  EXPECT_EQ(tobrel_test::countOf(standin_->output(), ".TobrelInterface."), 1) << standin_->output();
}

}  // namespace
