// Real app children on the device link over loopback: against the message-daemon stand-in
// for connect, interactive mode and STOP in both directions, and against a raw socket of the
// test's own for frames the stand-in never sends (split, empty, over-long) and a closed link.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "app_child.h"
#include "device_app.h"
#include "frame_codec.h"
#include "msgd_process.h"
#include "nusk-message.pb.h"
#include "script_env.h"

using ::testing::HasSubstr;
using ::testing::Not;
using net::zolvek::nusk::message::NuskMsg;
using tobrel::test::MsgdProcess;
using tobrel_test::AppChildOptions;
using tobrel_test::Process;
using tobrel_test::RunResult;
using tobrel_test::Stream;
using tobrel_test::TempDir;

namespace {

using Millis = std::chrono::milliseconds;

// 10000 ms to be granted becomes 1 s.
const char* const kGrantTimers = "TOBRELVM_TIME_DIVISOR=10";
// 250 ms to be granted (shorter windows lose the race on a loaded machine); 7.5 s after a STOP.
const char* const kStopTimers = "TOBRELVM_TIME_DIVISOR=40";

AppChildOptions withTimers(const char* timers) {
  AppChildOptions options;
  options.run.env.push_back(timers);
  options.run.timeoutMs = 20000;
  return options;
}

// Starts main.js (with PORT replaced by `port`) as the app "app" of `apps`.
std::unique_ptr<Process> startApp(TempDir& apps, const std::string& mainJs, int port, const char* timers) {
  std::string js = mainJs;
  for (size_t at; (at = js.find("PORT")) != std::string::npos;) js.replace(at, 4, std::to_string(port));
  tobrel_test::writeApp(apps, "app", js);
  return tobrel_test::startAppChild(apps.path(), "app PLAIN inst", withTimers(timers));
}

// The same, run until it ends.
RunResult runApp(const std::string& mainJs, int port, const char* timers = kGrantTimers) {
  TempDir apps;
  auto app = startApp(apps, mainJs, port, timers);
  app->closeStdin();
  return app->wait(20000);
}

const char* const kConnectAndStart =
    "tobrel.connect('127.0.0.1', PORT);\n"
    "tobrel.start(function() { log('granted'); });\n";

bool hasStart(const MsgdProcess::Received& r) { return r.kind == "interactiveMode.START"; }

// The daemon's side played by the test: one loopback listener, one accepted app.
class RawDaemon {
 public:
  RawDaemon() : listener_(tobrel_test::listenOnLoopback(&port_)) {}
  ~RawDaemon() {
    if (app_ != -1) close(app_);
    close(listener_);
  }
  int port() const { return port_; }
  // Accepts the app and reads its START; returns the START's message id ("" on timeout).
  // Waits through `app`, which reads the app's output and log meanwhile: an app whose log is
  // not read stops at its next log line.
  std::string acceptStart(Process* app, int timeoutMs = 10000) {
    const bool started = app->waitUntil(
        [this] {
          if (app_ == -1) {
            pollfd entry = {listener_, POLLIN, 0};
            if (poll(&entry, 1, 0) != 1) return false;
            app_ = accept(listener_, nullptr, nullptr);
          }
          pollfd entry = {app_, POLLIN, 0};
          return poll(&entry, 1, 0) == 1;
        },
        timeoutMs);
    return started ? tobrel_test::readFrame(app_).id() : "";
  }
  void write(const std::string& bytes) { tobrel_test::writeBytes(app_, bytes); }
  void closeLink() {
    close(app_);
    app_ = -1;
  }

 private:
  int port_ = 0;  // before listener_, which sets it
  int listener_;
  int app_ = -1;
};

std::string frameOf(const NuskMsg& msg) {
  std::string frame;
  EXPECT_TRUE(tobrel::frame::appendFrame(msg, &frame));
  return frame;
}

std::string grantFrame(const std::string& start) {
  return frameOf(tobrel_test::replyTo(start, net::zolvek::nusk::message::OK));
}

}  // namespace

TEST(AppLink, ConnectsStartsAndIsGranted) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  RunResult r = runApp(std::string(kConnectAndStart) + "setTimeout(1300, function() { exit(); });\n", msgd.port());
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("DEBUG: connecting to: 127.0.0.1:" + std::to_string(msgd.port())));
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: JSLOG: granted\n"));
  EXPECT_THAT(r.err, HasSubstr("DEBUG: Sending MSG\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("AUTOKILL"))) << "granted within the limit, the app runs on";
  auto start = msgd.waitForReceived(hasStart);
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->msg.interactivemode().interactiveid().size(), 36u);
}

TEST(AppLink, ConnectArgumentsAndRefusals) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  struct Case {
    std::string call;
    std::string logged;
  };
  const std::vector<Case> cases = {
      {"tobrel.connect('127.0.0.1', " + std::to_string(tobrel_test::unusedLoopbackPort()) + ")", "JSLOG: connection refused"},
      {"tobrel.connect('127.0.0.1', '" + std::to_string(msgd.port()) + "')", "JSLOG: Wrong arguments"},
      {"tobrel.connect('127.0.0.1', PORT, 7)", "JSLOG: Wrong arguments"},
      {"tobrel.connect('127.0.0.1', 65536 + PORT, {}); log('connected')", "JSLOG: connected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    RunResult r = runApp("try { " + c.call + "; } catch (e) { log(e); }\nexit();\n", msgd.port());
    EXPECT_THAT(r.err, HasSubstr(c.logged)) << r.err;
    EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  }
  EXPECT_TRUE(msgd.waitForText(" open 127.0.0.1:").has_value()) << "65536 + p reached p";
}

// How the daemon answers START decides the app's fate.
TEST(AppLink, TheAnswerToStartDecidesTheOutcome) {
  struct Case {
    const char* rule;
    int status;
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"start refuse ERROR", 1, "DEBUG: Interactive mode is not valid: EXIT !"},
      {"start nocode", 255, "WARNING: /!\\ AUTOKILL, application still not interactive after 10000ms"},
      {"start bare", 255, "WARNING: /!\\ AUTOKILL, application still not interactive after 10000ms"},
      {"start silent", 255, "WARNING: /!\\ AUTOKILL, application still not interactive after 10000ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    MsgdProcess msgd;
    ASSERT_NE(msgd.port(), 0) << msgd.startError();
    std::string error;
    ASSERT_TRUE(msgd.control(c.rule, &error)) << error;
    RunResult r = runApp(kConnectAndStart, msgd.port());
    EXPECT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.logged));
    EXPECT_THAT(r.err, Not(HasSubstr("JSLOG: granted")));
  }
}

TEST(AppLink, AStopFromTheDaemonEndsTheAppWithStatusZeroLater) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  TempDir apps;
  auto app = startApp(apps, kConnectAndStart, msgd.port(), kStopTimers);
  ASSERT_TRUE(app->waitFor(Stream::kErr, "JSLOG: granted", 10000)) << app->err();
  const auto stopped = std::chrono::steady_clock::now();
  std::string error;
  ASSERT_TRUE(msgd.control("stop last", &error)) << error;
  ASSERT_TRUE(app->waitFor(Stream::kErr, "WARNING: interactive mode stopped, autokill in 300000ms", 5000)) << app->err();
  RunResult r = app->wait(15000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("WARNING: interactive mode stopped, autokill\n"));
  EXPECT_GE(std::chrono::steady_clock::now() - stopped, Millis(7000)) << "300000 ms scaled by 40";
}

TEST(AppLink, AStopFromTheAppCarriesItsInteractiveId) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  RunResult r = runApp(
      "tobrel.connect('127.0.0.1', PORT);\n"
      "tobrel.start(function() { tobrel.stop(); setTimeout(100, function() { exit(); }); });\n",
      msgd.port());
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  auto start = msgd.waitForReceived(hasStart);
  auto stop = msgd.waitForReceived([](const MsgdProcess::Received& m) { return m.kind == "interactiveMode.STOP"; });
  ASSERT_TRUE(start.has_value() && stop.has_value());
  EXPECT_EQ(stop->msg.interactiveid(), start->msg.interactivemode().interactiveid());
}

TEST(AppLink, ASecondAnswerToTheStartIsNoCorrelationAndNoCrash) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  TempDir apps;
  auto app = startApp(apps, std::string(kConnectAndStart) + "setTimeout(1500, function() { exit(); });\n",
                      msgd.port(), kGrantTimers);
  ASSERT_TRUE(app->waitFor(Stream::kErr, "JSLOG: granted", 10000)) << app->err();
  auto start = msgd.waitForReceived(hasStart);
  ASSERT_TRUE(start.has_value());
  std::string error;
  ASSERT_TRUE(msgd.control("send last correlationId: \"" + start->msg.id() + "\" response { code: OK }", &error))
      << error;
  ASSERT_TRUE(app->waitFor(Stream::kErr, "WARNING: NO CORRELATION FOUND", 5000)) << app->err();
  RunResult r = app->wait(10000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_EQ(tobrel_test::countOf(r.err, "JSLOG: granted"), 1);
}

// One message that answers a request and also carries a press: the request's function hears
// it first, then the listeners do, in the same pass.
TEST(AppLink, AReplyReachesItsHandlerThenTheListeners) {
  tobrel_test::DeviceApp device;
  ASSERT_TRUE(device.control("attach led.light buttonCallback { type: DOUBLE }"));
  ASSERT_TRUE(device.start(
      "tobrel.connect('127.0.0.1', PORT);\n"
      "tobrel.start(function() {\n"
      "  tobrel.button.addListener(function(type) {\n"
      "    log('listener ' + type);\n"
      "    setTimeout(50, function() { exit(); });\n"
      "    return true;\n"
      "  });\n"
      "  tobrel.led.light('red', function(code) { log('handler ' + code); });\n"
      "});\n",
      {"led", "button"}));
  RunResult r = device.app().wait(15000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{"handler OK", "listener DOUBLE"}));
}

// A repeating timer that takes longer than its period is due again as soon as it returns. The
// link is still read beside it: presses reach the listener and the daemon's STOP arrives.
TEST(AppLink, ATimerThatOverrunsItsPeriodStillLetsTheLinkBeRead) {
  tobrel_test::DeviceApp device;
  ASSERT_TRUE(device.start(
      "tobrel.button.addListener(function(type) { log('button ' + type); return true; });\n"
      "tobrel.connect('127.0.0.1', PORT);\n"
      "tobrel.start(function() {\n"
      "  log('granted');\n"
      "  setTimeout(1, function() { var end = Date.now() + 5; while (Date.now() < end) {} return true; });\n"
      "});\n",
      {"button"}));
  ASSERT_TRUE(device.waitGranted());
  for (const char* type : {"SIMPLE", "DOUBLE", "LONG_START"}) ASSERT_TRUE(device.control(std::string("button last ") + type));
  ASSERT_TRUE(device.waitLog("JSLOG: button LONG_START"));
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{"granted", "button SIMPLE", "button DOUBLE", "button LONG_START"}));
  ASSERT_TRUE(device.control("stop last"));
  EXPECT_TRUE(device.waitLog("WARNING: interactive mode stopped, autokill in 300000ms")) << device.log();
}

TEST(AppLink, TheDaemonClosingTheLinkEndsTheApp) {
  MsgdProcess msgd;
  ASSERT_NE(msgd.port(), 0) << msgd.startError();
  TempDir apps;
  auto app = startApp(apps, kConnectAndStart, msgd.port(), kGrantTimers);
  ASSERT_TRUE(app->waitFor(Stream::kErr, "JSLOG: granted", 10000)) << app->err();
  std::string error;
  ASSERT_TRUE(msgd.control("close last", &error)) << error;
  RunResult r = app->wait(10000);
  EXPECT_FALSE(r.exited) << r.describe();
  EXPECT_THAT(r.err, HasSubstr("Failed to receive bytes length from server"));
}

// Byte streams the stand-in never produces, written by the test as the daemon.
TEST(AppLinkRaw, SplitAndEmptyFramesAreReadAndAnOverLongLengthIsFatal) {
  struct Case {
    const char* name;
    std::vector<std::string> (*pieces)(const std::string& grant);
    bool granted;
    const char* fatal;
  };
  const std::vector<Case> cases = {
      {"grant split 1+3 then payload in two",
       [](const std::string& g) { return std::vector<std::string>{g.substr(0, 1), g.substr(1, 3), g.substr(4, 5), g.substr(9)}; },
       true, nullptr},
      {"grant split 2+2",
       [](const std::string& g) { return std::vector<std::string>{g.substr(0, 2), g.substr(2)}; }, true, nullptr},
      {"empty frame then grant",
       [](const std::string& g) { return std::vector<std::string>{std::string(4, '\0') + g}; }, true, nullptr},
      {"length over 16 MiB",
       [](const std::string&) { return std::vector<std::string>{std::string("\x7f\x00\x00\x00", 4)}; }, false,
       "Failed to receive bytes from server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawDaemon daemon;
    TempDir apps;
    auto app = startApp(apps,
                        "tobrel.connect('127.0.0.1', PORT);\n"
                        "tobrel.start(function() { log('granted'); setTimeout(50, function() { exit(); }); });\n",
                        daemon.port(), kGrantTimers);
    const std::string start = daemon.acceptStart(app.get());
    ASSERT_FALSE(start.empty()) << app->err();
    const std::vector<std::string> pieces = c.pieces(grantFrame(start));
    for (size_t i = 0; i < pieces.size(); ++i) {
      daemon.write(pieces[i]);
      // A piece that leaves the frame unfinished must have been read on its own: the app then
      // waits in the frame's read for the next one.
      if (i + 1 < pieces.size()) {
        ASSERT_TRUE(app->waitUntil([&] { return tobrel_test::blockedInRecv(app->pid()); }, 5000)) << "piece " << i << "\n" << app->err();
      }
    }
    RunResult r = app->wait(10000);
    if (c.granted) {
      EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
      EXPECT_THAT(r.err, HasSubstr("JSLOG: granted"));
    } else {
      EXPECT_FALSE(r.exited) << r.describe();
      EXPECT_THAT(r.err, HasSubstr(c.fatal));
    }
  }
}
