// Speech recognition through the real daemon on a private bus: a GDBus client starts and stops
// sessions, asrd stands in for the recognition servers, and a file of mu-law bytes stands in
// for the microphone.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "asrd_process.h"
#include "voice_fixture.h"

using tobrel_test::Process;
using tobrel_test::RunOptions;
using voice_test::Reply;
using voice_test::VoiceDaemonTest;

namespace {

class AsrDaemonTest : public VoiceDaemonTest {
 protected:
  void SetUp() override {
    VoiceDaemonTest::SetUp();
    // A capture pattern where every byte tells its position, odd and even bytes apart.
    capture.resize(2048 * 60);
    for (size_t i = 0; i < capture.size(); ++i)
      capture[i] = static_cast<char>(i % 2 == 0 ? (i / 2) % 200 : 0xee);
    writeCapture(capture);
  }

  void writeCapture(const std::string &bytes) {
    tobrel_test::writeFile(capturePath(), bytes);
  }
  std::string capturePath() const { return dir.path() + "/capture.ul"; }

  // voice.conf with the given recognition hosts, all on one port.
  void writeAsrConf(int port, const std::vector<std::string> &hosts) {
    std::string text = "[tts]\n\n[asr]\nport=" + std::to_string(port) +
                       "\nnbserver=" + std::to_string(hosts.size()) + "\n";
    for (size_t i = 0; i < hosts.size(); ++i)
      text += "server" + std::to_string(i) + "=" + hosts[i] + "\n";
    writeConf(text);
  }

  RunOptions asrOptions() const {
    RunOptions options = daemonOptions();
    options.env.push_back("TOBREL_AUDIO_CAPTURE_FILE=" + capturePath());
    return options;
  }

  // Bus, conf for one server on 127.0.0.1 and the daemon.
  void startWith(int port) {
    startBus();
    writeAsrConf(port, {"127.0.0.1"});
    ASSERT_TRUE(startDaemon(daemon, asrOptions()));
  }

  Reply startString(const char *uid, const char *grammar, const char *lang = "fr") {
    return call("asr_start_string", g_variant_new("(sssi)", uid, grammar, lang, 0));
  }
  Reply startFile(const char *uid, const std::string &file) {
    return call("asr_start_file", g_variant_new("(ssi)", uid, file.c_str(), 0));
  }
  Reply stop() { return call("asr_stop", g_variant_new("(si)", "any", 0)); }

  std::vector<std::string> asrEvents() const {
    std::vector<std::string> out;
    for (const auto &s : signalsNamed("asr_event")) out.push_back(s.args);
    return out;
  }
  std::string waitForEvent(int timeoutMs = 8000) {
    if (!waitForSignals("asr_event", 1, timeoutMs)) return "";
    return asrEvents().front();
  }
  size_t count(const std::string &needle) const {
    const std::string out = daemon->output();
    size_t n = 0;
    for (size_t at = out.find(needle); at != std::string::npos; at = out.find(needle, at + 1)) ++n;
    return n;
  }

  std::string capture;
};

std::string abnf(const std::string &lang, const std::string &rule) {
  return "#ABNF 1.0 UTF-8;\r\nlanguage " + lang +
         ";\r\nmode voice;\r\ntag-format <semantics/1.0>;\r\nroot $App;\r\npublic $App = " + rule +
         ";\r\n";
}

}  // namespace

TEST_F(AsrDaemonTest, AnswersReachAsrEventWithTheirFields) {
  struct Case {
    std::vector<std::string> server;
    const char *event;
  };
  const Case cases[] = {
      {{"--words=allume la lumiere", "--semantic=<action>on</action>", "--score=73"},
       "('u-ok', 'allume la lumiere', '<action>on</action>', 73)"},
      {{"--answer=nomatch", "--words=peut-etre"}, "('u-ok', '<nomatch>', 'peut-etre', 2)"},
      {{"--answer=nomatch"}, "('u-ok', '<nomatch>', '', 2)"},
      // The answer in pieces, as the README's example writes it.
      {{"--answer=nomatch", "--words=peut-etre", "--split"}, "('u-ok', '<nomatch>', 'peut-etre', 2)"},
      // No code reads as OK; absent fields are empty and the score 0.
      {{"--answer=nocode", "--words=sans code"}, "('u-ok', 'sans code', '', 0)"},
      {{}, "('u-ok', '', '', 0)"},
      {{"--answer=close"}, "('u-ok', '<nomatch>', 'connection lost', 2)"},
      {{"--answer=oversize"}, "('u-ok', '<nomatch>', 'connection lost', 2)"},
  };
  startBus();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.event);
    std::vector<std::string> options = c.server;
    options.push_back("--after=2");
    AsrdProcess server(options);
    writeAsrConf(server.port(), {"127.0.0.1"});
    std::unique_ptr<Process> run;
    ASSERT_TRUE(startDaemon(run, asrOptions()));
    signals.clear();
    const Reply reply = startString("u-ok", "oui | non");
    EXPECT_TRUE(reply.ok && reply.result) << reply.error;
    EXPECT_EQ(c.event, waitForEvent()) << run->output();
    const std::string session = server.nextSession();
    EXPECT_EQ(abnf("fr", "oui | non"), sessionBytes(session, "grammar")) << session;
    EXPECT_EQ("1", sessionField(session, "grammars")) << session;
    pump(100);
    EXPECT_EQ(1u, asrEvents().size());
    run->stop();
  }
}

TEST_F(AsrDaemonTest, AudioGoesOutAsTheEvenBytesOfEachCapturedBuffer) {
  const std::string audioOut = dir.path() + "/received.ul";
  AsrdProcess server({"--after=3", "--words=ok", "--audio-out=" + audioOut});
  startWith(server.port());
  ASSERT_TRUE(startString("u-audio", "a").ok);
  ASSERT_NE("", waitForEvent());
  const std::string session = server.nextSession();
  const long frames = std::stol(sessionField(session, "frames"));
  EXPECT_GE(frames, 3);
  EXPECT_EQ(std::to_string(frames * 1024), sessionField(session, "audio")) << session;
  std::string expected;
  for (size_t i = 0; i < static_cast<size_t>(frames) * 2048; i += 2) expected += capture[i];
  EXPECT_TRUE(tobrel_test::readFile(audioOut) == expected);
}

TEST_F(AsrDaemonTest, GrammarsFromStringsAndFiles) {
  AsrdProcess server({"--words=x", "--after=1"});
  startWith(server.port());
  const std::string file = dir.path() + "/menu.abnf";
  std::string content = "#ABNF 1.0;\r\n";
  for (int i = 0; i < 30; ++i) content += "word" + std::to_string(i) + " | ";  // several blocks
  content += std::string("\0tail", 5);
  tobrel_test::writeFile(file, content);
  const std::string empty = dir.path() + "/empty.abnf";
  tobrel_test::writeFile(empty, "");
  const std::string largest = dir.path() + "/largest.abnf";
  std::string oneMiB(1 << 20, 'w');
  oneMiB[0] = '#';
  oneMiB.back() = ';';
  tobrel_test::writeFile(largest, oneMiB);

  struct Case {
    const char *what;
    std::function<Reply()> start;
    std::string grammarSent;
  };
  const Case cases[] = {
      {"http at the start", [&] { return startString("u", "http://grammars/menu.grxml", "en"); },
       "http://grammars/menu.grxml"},
      {"string", [&] { return startString("u", "yes | no", "en"); }, abnf("en", "yes | no")},
      {"empty string", [&] { return startString("u", "", "en"); }, abnf("en", "")},
      {"file", [&] { return startFile("u", file); }, content},
      {"empty file", [&] { return startFile("u", empty); }, ""},
      {"file of the largest size taken", [&] { return startFile("u", largest); }, oneMiB},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    signals.clear();
    const Reply reply = c.start();
    ASSERT_TRUE(reply.ok) << reply.error;
    ASSERT_NE("", waitForEvent());
    const std::string session = server.nextSession();
    EXPECT_EQ(c.grammarSent, sessionBytes(session, "grammar")) << session;
    EXPECT_EQ("1", sessionField(session, "grammars")) << session;
  }
}

TEST_F(AsrDaemonTest, ASecondStartIsRefusedAndTheFirstSessionGoesOn) {
  AsrdProcess server({"--after=8", "--words=premier"});
  startWith(server.port());
  ASSERT_TRUE(startString("u-first", "a").ok);
  const Reply second = startString("u-second", "b");
  EXPECT_FALSE(second.ok);
  EXPECT_NE(std::string::npos, daemon->output().find("asr session already present"));
  pump(200);
  EXPECT_TRUE(asrEvents().empty());
  EXPECT_EQ("('u-first', 'premier', '', 0)", waitForEvent());
  const std::string session = server.nextSession();
  EXPECT_EQ(abnf("fr", "a"), sessionBytes(session, "grammar")) << session;
  // The second start made no connection of its own.
  EXPECT_EQ("", server.nextSession(300));
  pump(100);
  EXPECT_EQ(1u, asrEvents().size());
}

TEST_F(AsrDaemonTest, StopEndsTheSessionSilentlyAndANewStartIsAccepted) {
  AsrdProcess server({"--answer=never"});
  startWith(server.port());
  ASSERT_TRUE(startString("u-1", "a").ok);
  pump(400);
  const Reply stopped = stop();
  EXPECT_TRUE(stopped.ok && stopped.result);
  // Closing the connection is how the server learns of it.
  const std::string session = server.nextSession();
  EXPECT_NE("", session);
  EXPECT_EQ("0", sessionField(session, "answered")) << session;
  const long frames = std::stol(sessionField(session, "frames"));
  EXPECT_GE(frames, 1);
  pump(400);
  EXPECT_TRUE(asrEvents().empty());
  // No audio goes out after the stop.
  EXPECT_EQ("", server.nextSession(200));

  const Reply again = startString("u-2", "b");
  EXPECT_TRUE(again.ok && again.result) << again.error;
  EXPECT_TRUE(stop().result);
  EXPECT_NE("", server.nextSession());
  // A stop with no session is harmless as well.
  EXPECT_TRUE(stop().result);
  pump(200);
  EXPECT_TRUE(asrEvents().empty());
}

TEST_F(AsrDaemonTest, AnswerWithoutResponseEndsTheSessionWithoutASignal) {
  AsrdProcess server({"--answer=empty", "--after=1"});
  startWith(server.port());
  ASSERT_TRUE(startString("u-empty", "a").ok);
  ASSERT_NE("", server.nextSession());
  ASSERT_TRUE(daemon->waitForOutput("emit done", 3000)) << daemon->output();
  pump(200);
  EXPECT_TRUE(asrEvents().empty());
  // The session is over: the next start is accepted.
  const Reply again = startString("u-next", "a");
  EXPECT_TRUE(again.ok) << again.error;
}

TEST_F(AsrDaemonTest, FailedStartsAnswerAnErrorAndSignalCancel) {
  struct Case {
    const char *what;
    bool serverUp;
    const char *device;  // TOBREL_VOICE_AUDIO_DEVICE when the capture file is not used
    const char *file;    // grammar file for asr_start_file, else a string start
    const char *logged;
    bool connected;      // whether the server saw (and lost) a connection
  };
  const std::string regular = dir.path() + "/not-a-device";
  tobrel_test::writeFile(regular, "x");
  const std::string missingDevice = dir.path() + "/no-device";
  const std::string missingGrammar = dir.path() + "/no-grammar.abnf";
  // Any client may name any path: only a regular file of at most 1 MiB is read, and nothing
  // may block or exhaust the daemon on the way.
  const std::string fifo = dir.path() + "/grammar.fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  const std::string tooLong = dir.path() + "/long.abnf";
  tobrel_test::writeFile(tooLong, std::string((1 << 20) + 1, 'w'));
  const Case cases[] = {
      {"no server", false, nullptr, nullptr, "asr server connection FAIL", false},
      {"no device", true, missingDevice.c_str(), nullptr, "asr server cant open /dev/audio", true},
      {"not a sound device", true, regular.c_str(), nullptr,
       "asr server cant set /dev/audio parameters", true},
      {"no grammar file", true, nullptr, missingGrammar.c_str(), "asr server can't open", true},
      {"grammar from a device", true, nullptr, "/dev/zero", "asr server can't open /dev/zero", true},
      {"grammar from a FIFO", true, nullptr, fifo.c_str(), "asr server can't open", true},
      {"grammar from a folder", true, nullptr, "/", "asr server can't open /\n", true},
      {"grammar file over 1 MiB", true, nullptr, tooLong.c_str(), "asr server can't open", true},
  };
  startBus();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    AsrdProcess server({"--words=never sent"});
    writeAsrConf(c.serverUp ? server.port() : unusedPort(), {"127.0.0.1"});
    RunOptions options = asrOptions();
    if (c.device != nullptr) {
      options.env.push_back("TOBREL_AUDIO_CAPTURE_FILE");
      options.env.push_back(std::string("TOBREL_VOICE_AUDIO_DEVICE=") + c.device);
    }
    std::unique_ptr<Process> run;
    ASSERT_TRUE(startDaemon(run, options));
    signals.clear();
    const Reply reply =
        c.file != nullptr ? startFile("u-fail", c.file) : startString("u-fail", "a");
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ("('u-fail', '<error_server_timeout>', 'cancel', 2)", waitForEvent(3000))
        << run->output();
    EXPECT_NE(std::string::npos, run->output().find(c.logged)) << run->output();
    const std::string session = server.nextSession(c.connected ? 3000 : 300);
    EXPECT_EQ(c.connected, !session.empty()) << session;
    if (c.connected) {
      EXPECT_EQ("0", sessionField(session, "grammars")) << session;
    }
    pump(100);
    EXPECT_EQ(1u, asrEvents().size());
    run->stop();
  }
}

// A stalled server must not freeze the daemon, which serves every client of the device: a frame
// whose rest does not come, or a server that takes nothing, loses the session after the
// deadline (shortened here) while the server still holds the connection.
TEST_F(AsrDaemonTest, AStalledServerLosesTheSessionAndTheDaemonGoesOn) {
  struct Case {
    const char *server;
    bool reads;  // the server reads, and so sees the daemon close the connection
    const char *logged;
  };
  const Case cases[] = {
      {"--answer=cutlength", true, "Failed to receive bytes from server: Connection timed out"},
      {"--answer=cutbody", true,
       "Failed to receive bytes message from server: Connection timed out"},
      {"--no-read", false, "send failed: Connection timed out"},
  };
  // More than the connection's buffers hold, so that a server that takes nothing stalls the
  // grammar's send at once.
  const std::string big(8 << 20, 'g');
  startBus();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.server);
    AsrdProcess server({c.server});
    writeAsrConf(server.port(), {"127.0.0.1"});
    RunOptions options = asrOptions();
    options.env.push_back("TOBREL_VOICE_FRAME_DEADLINE_MS=200");
    options.env.push_back("TOBREL_VOICE_SEND_DEADLINE_MS=200");
    std::unique_ptr<Process> run;
    ASSERT_TRUE(startDaemon(run, options));
    signals.clear();
    const Reply reply = startString("u-stall", c.reads ? "a" : big.c_str());
    EXPECT_TRUE(reply.ok && reply.result) << reply.error;
    EXPECT_EQ("('u-stall', '<nomatch>', 'connection lost', 2)", waitForEvent()) << run->output();
    EXPECT_NE(std::string::npos, run->output().find(c.logged)) << run->output();
    // The daemon ended the connection; the server never did.
    if (c.reads) {
      const std::string session = server.nextSession();
      EXPECT_EQ("1", sessionField(session, "answered")) << session;
    }
    const Reply stopped = stop();
    EXPECT_TRUE(stopped.ok && stopped.result);
    run->stop();
  }
}

TEST_F(AsrDaemonTest, OneUnreachableServerIsTriedOnce) {
  startWith(unusedPort());
  EXPECT_FALSE(startString("u-down", "a").ok);
  EXPECT_EQ("('u-down', '<error_server_timeout>', 'cancel', 2)", waitForEvent(3000));
  const std::string out = daemon->output();
  EXPECT_NE(std::string::npos, out.find("try connection 1/1")) << out;
  EXPECT_NE(std::string::npos, out.find("try connection 2/1")) << out;
  EXPECT_NE(std::string::npos, out.find("connect failed on '127.0.0.1:")) << out;
  // The daemon is still there for the next client.
  EXPECT_TRUE(stop().result);
}

TEST_F(AsrDaemonTest, StartsRotateToAReachableServerAndStayThere) {
  // Only 127.0.0.1 listens; the rest of the loopback network refuses the port.
  AsrdProcess server({"--after=1", "--words=trouve"});
  startBus();
  writeAsrConf(server.port(), {"127.0.0.2", "127.0.0.1", "127.0.0.3"});
  ASSERT_TRUE(startDaemon(daemon, asrOptions()));
  ASSERT_TRUE(startString("u-a", "a").ok);
  EXPECT_EQ("('u-a', 'trouve', '', 0)", waitForEvent());
  EXPECT_NE("", server.nextSession());
  EXPECT_EQ(0u, count("try connection 4/3"));
  const size_t firstTries = count("try connection ");
  const size_t firstFailures = count("connect failed on");

  signals.clear();
  ASSERT_TRUE(startString("u-b", "b").ok);
  EXPECT_EQ("('u-b', 'trouve', '', 0)", waitForEvent());
  // The second start begins with the server that accepted the first.
  EXPECT_EQ(firstTries + 1, count("try connection "));
  EXPECT_EQ(firstFailures, count("connect failed on"));
  EXPECT_NE("", server.nextSession());
}

TEST_F(AsrDaemonTest, TheEndOfTheCaptureLosesTheSession) {
  writeCapture(capture.substr(0, 2048 * 2 + 1000));
  AsrdProcess server({"--answer=never"});
  startWith(server.port());
  ASSERT_TRUE(startString("u-eof", "a").ok);
  EXPECT_EQ("('u-eof', '<nomatch>', 'connection lost', 2)", waitForEvent());
  const std::string session = server.nextSession();
  // Only whole buffers went out.
  EXPECT_EQ("2", sessionField(session, "frames")) << session;
  EXPECT_EQ("2048", sessionField(session, "audio")) << session;
}

namespace {

// An utterance that keeps playing until the test lets it end: the speech web stand-in, and the
// player stand-in first on PATH, which holds while dir/hold exists.
class AsrWithSpeechTest : public AsrDaemonTest {
 protected:
  void startAll(int asrPort) {
    // Sessions here must outlast the slowest utterance: minutes of capture, not seconds.
    writeCapture(tobrel_test::repeat(capture, 40));
    RunOptions webOptions;
    webOptions.outputToFile = true;
    web = Process::start({TTS_WEB_BINARY, "--record", dir.path()}, webOptions);
    ASSERT_TRUE(web->waitForOutput("PORT ", 5000)) << web->output();
    const std::string out = web->output();
    const int webPort = std::stoi(out.substr(out.find("PORT ") + 5));
    startBus();
    writeConf("[tts]\nfr=http://127.0.0.1:" + std::to_string(webPort) + "/fr\n[asr]\nport=" +
              std::to_string(asrPort) + "\nnbserver=1\nserver0=127.0.0.1\n");
    RunOptions options = asrOptions();
    options.env.push_back("PATH=" + std::string(TTS_STUB_BIN) + ":" + getenv("PATH"));
    options.env.push_back("TTS_STUB_DIR=" + dir.path());
    ASSERT_TRUE(startDaemon(daemon, options));
  }
  void hold() { tobrel_test::writeFile(holdPath(), ""); }
  void release() { unlink(holdPath().c_str()); }
  std::string holdPath() const { return dir.path() + "/hold"; }
  // The utterance has reached the player.
  bool playing(int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
      if (access((dir.path() + "/madplay.pids").c_str(), F_OK) == 0) return true;
      pump(20);
    }
    return false;
  }
  Reply speak(const char *id) {
    return call("tts_speak", g_variant_new("(sssi)", id, "Bonjour", "fr", 0));
  }
  // A session open, then an utterance that holds in its player: its child is forked while the
  // session's connection is open.
  void speakDuringASession(int asrPort, const char *uid, const char *id) {
    startAll(asrPort);
    const Reply started = startString(uid, "a");
    ASSERT_TRUE(started.ok) << started.error;
    hold();
    ASSERT_TRUE(speak(id).ok);
    ASSERT_TRUE(playing());
  }
  void TearDown() override {
    release();
    AsrDaemonTest::TearDown();
    if (web) web->stop();
  }

  std::unique_ptr<Process> web;
};

}  // namespace

TEST_F(AsrWithSpeechTest, AnUtteranceEndsWhileARecognitionGoesOn) {
  AsrdProcess server({"--after=12", "--words=pendant", "--score=9"});
  startAll(server.port());
  hold();
  ASSERT_TRUE(speak("id-t").ok);
  ASSERT_TRUE(playing());
  const Reply started = startString("u-c", "oui | non");
  ASSERT_TRUE(started.ok && started.result) << started.error;
  pump(400);
  release();  // the utterance ends in the middle of the session
  ASSERT_TRUE(waitForSignals("tts_event", 1, 5000)) << daemon->output();
  EXPECT_TRUE(asrEvents().empty());
  EXPECT_EQ("('u-c', 'pendant', '', 9)", waitForEvent());
  EXPECT_EQ("('id-t', 4)", signalsNamed("tts_event").front().args);
  const std::string session = server.nextSession();
  EXPECT_EQ("1", sessionField(session, "grammars")) << session;
  EXPECT_GE(std::stol(sessionField(session, "frames")), 12) << session;
}

TEST_F(AsrWithSpeechTest, StoppingARecognitionDuringAnUtteranceClosesItsConnectionAtOnce) {
  AsrdProcess server({"--answer=never"});
  ASSERT_NO_FATAL_FAILURE(speakDuringASession(server.port(), "u-s", "id-s"));
  pump(300);
  EXPECT_TRUE(stop().result);
  // The server sees the end of the session while the utterance still plays.
  const std::string session = server.nextSession(1500);
  EXPECT_NE("", session);
  EXPECT_TRUE(signalsNamed("tts_event").empty());
  release();
  ASSERT_TRUE(waitForSignals("tts_event", 1, 5000));
  pump(200);
  EXPECT_TRUE(asrEvents().empty());
}

namespace {

// The inode of the established TCP connection to `port` on 127.0.0.1, from /proc/net/tcp; 0
// when none is listed. An earlier connection to another listener that had the same port may
// still be listed, closed (TIME_WAIT, no inode); and the file is read in pieces while other
// connections of the machine come and go, so that one reading can miss a line: callers wait.
unsigned long connectionTo(int port) {
  char wanted[16];
  snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  for (const std::string &line : tobrel_test::lines(tobrel_test::readFile("/proc/net/tcp"))) {
    char local[64], remote[64], state[8];
    unsigned long inode = 0;
    if (sscanf(line.c_str(), "%*s %63s %63s %7s %*s %*s %*s %*s %*s %lu", local, remote, state,
               &inode) == 4 &&
        std::string(remote) == wanted && std::string(state) == "01" && inode != 0)
      return inode;
  }
  return 0;
}

// What the open descriptors of a process point at.
std::vector<std::string> openFiles(pid_t pid) {
  std::vector<std::string> targets;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const std::string &fd : tobrel_test::lines(tobrel_test::runShell("ls " + fds))) {
    char target[512] = {};
    if (readlink((fds + "/" + fd).c_str(), target, sizeof target - 1) > 0) targets.push_back(target);
  }
  return targets;
}

}  // namespace

TEST_F(AsrWithSpeechTest, TheUtterancesChildHoldsNeitherTheConnectionNorTheDevice) {
  AsrdProcess server({"--answer=never"});
  ASSERT_NO_FATAL_FAILURE(speakDuringASession(server.port(), "u-fd", "id-fd"));
  unsigned long connection = 0;
  ASSERT_TRUE(tobrel_test::eventually([&] { return (connection = connectionTo(server.port())) != 0; }))
      << tobrel_test::readFile("/proc/net/tcp");
  const std::string socket = "socket:[" + std::to_string(connection) + "]";
  // The daemon holds both; its child, which only speaks, must hold neither.
  const std::vector<std::string> daemonFiles = openFiles(daemon->pid());
  EXPECT_NE(std::count(daemonFiles.begin(), daemonFiles.end(), socket), 0);
  EXPECT_NE(std::count(daemonFiles.begin(), daemonFiles.end(), capturePath()), 0);
  const std::vector<pid_t> children = tobrel_test::childrenOf(daemon->pid());
  ASSERT_EQ(1u, children.size());
  const std::vector<std::string> childFiles = openFiles(children.front());
  EXPECT_EQ(std::count(childFiles.begin(), childFiles.end(), socket), 0);
  EXPECT_EQ(std::count(childFiles.begin(), childFiles.end(), capturePath()), 0);
  EXPECT_TRUE(stop().result);
  release();
  ASSERT_TRUE(waitForSignals("tts_event", 1, 5000));
}

TEST_F(AsrDaemonTest, TextThatIsNotUtf8IsMadeValidBeforeItGoesOnTheBus) {
  // Latin-1 "cafe" with an accent, and two bytes that start no UTF-8 sequence.
  AsrdProcess server({"--after=1", "--words=caf\xe9 cr\xc3\xa8me", "--semantic=\xff\xfe"});
  startWith(server.port());
  ASSERT_TRUE(startString("u-8", "a").ok);
  EXPECT_EQ("('u-8', 'caf\xef\xbf\xbd cr\xc3\xa8me', '\xef\xbf\xbd\xef\xbf\xbd', 0)",
            waitForEvent());
  EXPECT_TRUE(daemon->running());
  EXPECT_TRUE(startString("u-9", "a").ok);
}
