// Text-to-speech through the daemon: a stand-in web service records what is posted, stand-in
// player and killall programs (first on PATH) record what the daemon runs.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <syslog.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "voice_fixture.h"

using tobrel_test::Process;
using tobrel_test::readFile;
using tobrel_test::RunOptions;
using tobrel_test::writeFile;
using voice_test::confWithServers;
using voice_test::Reply;
using voice_test::VoiceDaemonTest;

namespace {

// Generous: sanitizer builds on a loaded machine start and fork slowly.
const int kSlow = 30000;

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string fragment(const std::string &text) {
  return "<s><break time=\"200ms\" />" + text + "<break time=\"150ms\" /></s>";
}

class TtsTest : public VoiceDaemonTest {
 protected:
  void SetUp() override {
    VoiceDaemonTest::SetUp();
    stubs = dir.path() + "/stubs";
    records = dir.path() + "/web";
    mkdir(stubs.c_str(), 0755);
    mkdir(records.c_str(), 0755);
    startBus();
  }

  // Starts the web stand-in; its answers carry `status` and `reply`.
  void startWeb(int status = 200, const std::string &reply = "ID3-stand-in-audio") {
    writeFile(dir.path() + "/reply", reply);
    RunOptions options;
    options.outputToFile = true;
    web = Process::start({TTS_WEB_BINARY, "--record", records, "--status", std::to_string(status),
                          "--reply", dir.path() + "/reply"},
                         options);
    ASSERT_TRUE(web->waitForOutput("PORT ", kSlow)) << web->output();
    port = std::stoi(web->output().substr(web->output().find("PORT ") + 5));
  }

  std::string url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }

  // The daemon's options with the player and killall stand-ins first on PATH.
  RunOptions speakingOptions() const {
    RunOptions options = daemonOptions();
    options.env.push_back("PATH=" + std::string(TTS_STUB_BIN) + ":" + getenv("PATH"));
    options.env.push_back("TTS_STUB_DIR=" + stubs);
    return options;
  }

  void startSpeakingDaemon(const std::string &tts_group,
                           const tobrel_test::RunOptions &options) {
    writeConf(confWithServers(tts_group));
    ASSERT_TRUE(startDaemon(daemon, options));
  }
  void startSpeakingDaemon(const std::string &tts_group) {
    startSpeakingDaemon(tts_group, speakingOptions());
  }

  Reply speak(const std::string &id, const std::string &text, const std::string &lang) {
    return call("tts_speak", g_variant_new("(sssi)", id.c_str(), text.c_str(), lang.c_str(), 0));
  }

  // Pids of the players that the stand-in recorded, in start order.
  std::vector<std::string> players() const {
    std::vector<std::string> pids;
    std::string all = readFile(stubs + "/madplay.pids");
    for (size_t pos = 0, nl; (nl = all.find('\n', pos)) != std::string::npos; pos = nl + 1)
      pids.push_back(all.substr(pos, nl - pos));
    return pids;
  }

  bool waitForPlayer(size_t count) {
    for (int i = 0; i < kSlow / 10; ++i) {
      if (players().size() >= count && exists(stubs + "/madplay.args." + players()[count - 1]))
        return true;
      usleep(10000);
    }
    return false;
  }

  // Starts an utterance whose player keeps playing until the hold file goes.
  void speakHeld(const std::string &id, const std::string &text) {
    writeFile(stubs + "/hold", "");
    ASSERT_TRUE(speak(id, text, "fr").result);
    ASSERT_TRUE(waitForPlayer(1));
  }

  // The text-to-speech children that the daemon reported forking.
  std::vector<pid_t> forkedChildren() const {
    std::vector<pid_t> pids;
    static const std::string kLine = "TTS FORK ##### id:";
    const std::string out = daemon->output();
    for (size_t pos = 0; (pos = out.find(kLine, pos)) != std::string::npos; pos += kLine.size()) {
      pid_t pid = atoi(out.c_str() + pos + kLine.size());
      if (pid > 0 && (pids.empty() || pids.back() != pid)) pids.push_back(pid);
    }
    return pids;
  }

  // A web service that takes connections and never answers: the child's request waits for ever.
  std::string stallingUrl() {
    if (stalling_ < 0) {
      stalling_ = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof address;
      if (bind(stalling_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
          listen(stalling_, 16) != 0 ||
          getsockname(stalling_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        ADD_FAILURE() << "no stalling listener: " << strerror(errno);
      stallingPort_ = ntohs(address.sin_port);
    }
    return "http://127.0.0.1:" + std::to_string(stallingPort_) + "/fr";
  }

  // Starts the daemon as `prepare` leaves a process (its signal handling), then execs it, and
  // waits until it owns its name.
  bool startDaemonAfter(const std::function<void()> &prepare) {
    const std::vector<std::string> words = tobrel_test::commandFor(VOICE_BINARY);
    daemon = Process::start(
        [&]() {
          prepare();
          std::vector<char *> argv;
          for (const std::string &word : words) argv.push_back(const_cast<char *>(word.c_str()));
          argv.push_back(nullptr);
          tobrel_test::execProgram(argv.data());
          return 127;
        },
        speakingOptions());
    return tobrel_test::eventually([&] { return !daemon->running() || !nameOwner().empty(); }, kSlow) &&
           daemon->running();
  }

  void TearDown() override {
    VoiceDaemonTest::TearDown();
    if (stalling_ >= 0) close(stalling_);
  }

  std::string stubs, records;
  std::unique_ptr<Process> web;
  int port = 0;

 private:
  int stalling_ = -1;
  int stallingPort_ = 0;
};

// A signal mask of /proc/<pid>/status (SigIgn, SigBlk) as the player stand-in recorded it.
unsigned long long maskOf(const std::string &recorded) {
  return recorded.empty() ? ~0ull : std::stoull(recorded, nullptr, 16);
}
unsigned long long bit(int signal) { return 1ull << (signal - 1); }

}  // namespace

TEST_F(TtsTest, UtterancePlaysToItsEnd) {
  startWeb();
  startSpeakingDaemon("fr=" + url("/speak/fr"));
  const std::string text = "Il est 10h & <b>demi</b>, 100% s\xc3\xbbr";
  Reply r = speak("utt-1", text, "fr");
  ASSERT_TRUE(r.ok && r.result) << r.error;
  ASSERT_TRUE(waitForSignals("tts_event", 1, kSlow));
  EXPECT_EQ(signalsNamed("tts_event")[0].args, "('utt-1', 4)");
  EXPECT_EQ(signalsNamed("tts_event")[0].sender, nameOwner());

  // The fragment is posted byte for byte, markup unescaped, as a plain form post.
  EXPECT_EQ(readFile(records + "/request-1.body"), fragment(text));
  const std::string head = readFile(records + "/request-1.head");
  EXPECT_EQ(head.rfind("POST /speak/fr HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);
  EXPECT_FALSE(exists(records + "/request-2.head"));

  // One player, fed the service's answer, finished before the event.
  ASSERT_EQ(players().size(), 1u);
  const std::string player = players()[0];
  EXPECT_EQ(readFile(stubs + "/madplay.args." + player), "-a 1.5 -\n");
  EXPECT_EQ(readFile(stubs + "/madplay.in." + player), "ID3-stand-in-audio");
  EXPECT_EQ(readFile(stubs + "/madplay.done"), player + "\n");
  EXPECT_FALSE(exists(stubs + "/killall.calls"));
  // The player is not started with SIGPIPE ignored: what the child ignores stays its own.
  const std::string ignored = readFile(stubs + "/madplay.sigign." + player);
  ASSERT_FALSE(ignored.empty());
  EXPECT_EQ(std::stoull(ignored, nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << ignored;

  pump(300);
  EXPECT_EQ(signalsNamed("tts_event").size(), 1u);
  ASSERT_EQ(forkedChildren().size(), 1u);
  EXPECT_TRUE(daemon->waitForOutput("TTS TUE FILS Gpid : " + std::to_string(forkedChildren()[0]), kSlow));
}

TEST_F(TtsTest, LanguageKeyIsTheFirstTwoLettersLowerCased) {
  startWeb();
  startSpeakingDaemon("fr=" + url("/fr") + "\nen=" + url("/en"));
  struct Case {
    const char *lang;
    const char *path;  // nullptr: refused
  };
  const Case cases[] = {
      {"FR", "/fr"}, {"fR-ca", "/fr"}, {"En_US.UTF-8", "/en"}, {"de", nullptr},
      {"e", nullptr}, {"", nullptr},    {"EN", "/en"},
  };
  size_t played = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("lang '") + c.lang + "'");
    const std::string id = std::string("id-") + c.lang;
    Reply r = speak(id, "hello", c.lang);
    if (!c.path) {
      EXPECT_FALSE(r.ok);
      EXPECT_TRUE(daemon->waitForOutput(std::string("wrong lang (") + c.lang + ")", kSlow));
      continue;
    }
    ASSERT_TRUE(r.ok && r.result) << r.error;
    ++played;
    ASSERT_TRUE(waitForSignals("tts_event", played, kSlow));
    EXPECT_EQ(signalsNamed("tts_event").back().args, "('" + id + "', 4)");
    const std::string head = readFile(records + "/request-" + std::to_string(played) + ".head");
    EXPECT_EQ(head.rfind(std::string("POST ") + c.path + " ", 0), 0u) << head;
  }
  pump(200);
  EXPECT_EQ(signalsNamed("tts_event").size(), played);
}

TEST_F(TtsTest, SpeakWhileSpeakingIsRefusedAndTheUtteranceGoesOn) {
  startWeb();
  startSpeakingDaemon("fr=" + url("/fr"));
  ASSERT_NO_FATAL_FAILURE(speakHeld("first", "un"));

  Reply busy = speak("second", "deux", "fr");
  EXPECT_FALSE(busy.ok);
  EXPECT_FALSE(speak("third", "trois", "de").ok);
  pump(100);
  EXPECT_TRUE(signalsNamed("tts_event").empty());

  unlink((stubs + "/hold").c_str());
  ASSERT_TRUE(waitForSignals("tts_event", 1, kSlow));
  EXPECT_EQ(signalsNamed("tts_event")[0].args, "('first', 4)");
  EXPECT_EQ(readFile(records + "/request-1.body"), fragment("un"));
  EXPECT_FALSE(exists(records + "/request-2.head"));
  EXPECT_EQ(players().size(), 1u);
  pump(200);
  EXPECT_EQ(signalsNamed("tts_event").size(), 1u);
}

TEST_F(TtsTest, StopEndsThePlayerAndTheChildOnce) {
  startWeb();
  startSpeakingDaemon("fr=" + url("/fr"));
  ASSERT_NO_FATAL_FAILURE(speakHeld("stopped", "longue phrase"));
  ASSERT_EQ(forkedChildren().size(), 1u);
  const pid_t child = forkedChildren()[0];

  Reply r = call("tts_stop", g_variant_new("(si)", "not the utterance id", 3));
  EXPECT_TRUE(r.ok && r.result) << r.error;
  ASSERT_TRUE(waitForSignals("tts_event", 1, kSlow));
  EXPECT_EQ(signalsNamed("tts_event")[0].args, "('stopped', 4)");
  EXPECT_EQ(readFile(stubs + "/killall.calls"), "madplay\n");
  // The daemon has reaped its child, and the player never finished.
  EXPECT_EQ(kill(child, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_FALSE(exists(stubs + "/madplay.done"));
  EXPECT_TRUE(daemon->waitForOutput("TTS CANCEL pid wait: " + std::to_string(child), kSlow));

  // Nothing is playing any more: a second stop does nothing, a new utterance is accepted.
  EXPECT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).result);
  pump(300);
  EXPECT_EQ(signalsNamed("tts_event").size(), 1u);
  EXPECT_EQ(readFile(stubs + "/killall.calls"), "madplay\n");
  unlink((stubs + "/hold").c_str());
  ASSERT_TRUE(speak("next", "encore", "fr").result);
  ASSERT_TRUE(waitForSignals("tts_event", 2, kSlow));
  EXPECT_EQ(signalsNamed("tts_event")[1].args, "('next', 4)");
}

TEST_F(TtsTest, FailedRequestsStillEndTheUtterance) {
  struct Case {
    const char *what;
    int status;      // 0: nothing listens on the configured port
    const char *answer;
    const char *player_gets;
  };
  const Case cases[] = {
      {"error page", 500, "<html>service down</html>", "<html>service down</html>"},
      {"nothing listening", 0, "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::string conf_url;
    if (c.status) {
      startWeb(c.status, c.answer);
      conf_url = url("/fr");
    } else {
      // A port that was just free: bound by the stand-in, which is then stopped.
      startWeb();
      conf_url = url("/fr");
      web->stop();
    }
    startSpeakingDaemon("fr=" + conf_url);
    ASSERT_TRUE(speak(c.what, "bonjour", "fr").result);
    ASSERT_TRUE(waitForSignals("tts_event", 1, kSlow));
    EXPECT_EQ(signalsNamed("tts_event")[0].args, std::string("('") + c.what + "', 4)");
    ASSERT_EQ(players().size(), 1u);
    EXPECT_EQ(readFile(stubs + "/madplay.in." + players()[0]), c.player_gets);
    // The daemon goes on serving.
    EXPECT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).result);

    daemon->stop();
    web->stop();
    signals.clear();
    unlink((stubs + "/madplay.pids").c_str());
  }
}

// A daemon that cannot fork must not believe a child is playing: later speaks are refused for
// the same reason again (not as busy), and a stop signals nobody.
TEST_F(TtsTest, FailedForkLeavesTheDaemonIdle) {
  if (access("/usr/bin/setpriv", X_OK) != 0 || access("/usr/bin/prlimit", X_OK) != 0)
    GTEST_SKIP() << "setpriv or prlimit missing";
  if (tobrel_test::underEmulator())
    GTEST_SKIP() << "under the emulator, its own thread already takes the one process allowed";
  // An account that runs nothing else here, so that one process is its whole allowance (root
  // ignores the limit); the bus only accepts users it can look up.
  const passwd *account = getpwnam("games");
  if (!account) GTEST_SKIP() << "no games account";
  std::string why;
  const std::string staged = daemonForOtherUsers(&why);
  if (staged.empty()) GTEST_SKIP() << why;
  const std::string uid = std::to_string(account->pw_uid);
  const std::string gid = std::to_string(account->pw_gid);
  const std::string policy = dir.path() + "/own-as-test-user.conf";
  writeFile(policy, "<busconfig><policy user=\"" + std::string(account->pw_name) +
                        "\"><allow own=\"com.helvorand.tobrel.Voice\"/></policy></busconfig>\n");
  bus = std::make_unique<tobrel::test::PrivateBus>(
      std::vector<std::string>{VOICE_POLICY_FILE, policy});
  ASSERT_TRUE(bus->ok()) << bus->error();
  g_object_unref(client);
  client = voice_test::connectTo(bus->address());
  ASSERT_NE(client, nullptr);
  writeConf(confWithServers("fr=http://127.0.0.1:9/fr"));
  chmod(confPath().c_str(), 0644);

  const std::vector<std::string> limited = {"/usr/bin/prlimit", "--nproc=1", "/usr/bin/setpriv",
                                            "--reuid=" + uid, "--regid=" + gid, "--clear-groups",
                                            staged};
  ASSERT_TRUE(startDaemon(daemon, daemonOptions(), limited)) << daemon->output();

  for (const char *id : {"a", "b"}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(speak(id, "bonjour", "fr").ok);
  }
  std::string out = daemon->output();
  size_t failures = 0;
  for (size_t pos = 0; (pos = out.find("TTS FORK ##### id:-1", pos)) != std::string::npos; ++pos)
    ++failures;
  EXPECT_EQ(failures, 2u) << out;
  EXPECT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).result);
  pump(200);
  EXPECT_TRUE(signalsNamed("tts_event").empty());
  EXPECT_FALSE(daemon->output().find("TTS CANCEL") != std::string::npos);
  EXPECT_TRUE(daemon->running());
}

// The utterance's child holds none of the daemon's descriptors: a daemon killed while it speaks
// leaves the bus at once, and the next one takes the name while the utterance still plays.
TEST_F(TtsTest, ADaemonKilledMidUtteranceLeavesItsNameAtOnce) {
  startWeb();
  startSpeakingDaemon("fr=" + url("/fr"));
  ASSERT_NO_FATAL_FAILURE(speakHeld("cut short", "longue phrase"));
  ASSERT_EQ(forkedChildren().size(), 1u);
  const pid_t child = forkedChildren()[0];
  const std::string first = nameOwner();
  ASSERT_FALSE(first.empty());

  ASSERT_EQ(kill(daemon->pid(), SIGKILL), 0);
  ASSERT_TRUE(tobrel_test::eventually([&] { return !daemon->running(); }, kSlow));
  std::unique_ptr<Process> next = Process::start({VOICE_BINARY}, speakingOptions());
  ASSERT_TRUE(tobrel_test::eventually(
      [&] {
        const std::string owner = nameOwner();
        return !next->running() || (!owner.empty() && owner != first);
      },
      kSlow));
  EXPECT_TRUE(next->running()) << next->output();
  EXPECT_NE(nameOwner(), first);
  EXPECT_EQ(next->output().find("Got result code"), std::string::npos) << next->output();
  // The killed daemon's child did not stay behind to play beside the new daemon's utterances.
  EXPECT_TRUE(tobrel_test::eventually([&] { return !tobrel_test::isRunning(child); }, kSlow));

  // The new daemon serves.
  EXPECT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).result);
  next->stop();
}

// The child's own log lines still reach syslog under the daemon's identity, with its own pid,
// and the player still gets the whole answer: giving up the daemon's log connection must not
// cost the child its identity, nor a descriptor that it uses.
TEST_F(TtsTest, TheChildLogsUnderTheDaemonsIdentity) {
  if (!tobrel_test::SyslogCapture::available()) GTEST_SKIP() << "no private mount namespace";
  const std::string audio = tobrel_test::repeat("MPEG-stand-in ", 20000);
  startWeb(200, audio);
  daemonSyslog = std::make_unique<tobrel_test::SyslogCapture>();
  RunOptions options = speakingOptions();
  options.env.push_back("TOBREL_DEBUG=");
  options.syslog = daemonSyslog.get();
  startSpeakingDaemon("fr=" + url("/fr"), options);
  for (size_t played = 1; played <= 2; ++played) {
    SCOPED_TRACE(played);
    ASSERT_TRUE(speak("id-" + std::to_string(played), "bonjour", "fr").result);
    // Drained while waiting: a full log socket would block the daemon in syslog.
    ASSERT_TRUE(daemon->waitUntil(
        [&] {
          pump(0);
          return signalsNamed("tts_event").size() >= played;
        },
        kSlow));
  }
  ASSERT_EQ(players().size(), 2u);
  const std::vector<pid_t> children = forkedChildren();
  ASSERT_EQ(children.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(readFile(stubs + "/madplay.in." + players()[i]) == audio);
    ASSERT_TRUE(daemon->waitForOutput("TTS TUE FILS Gpid : " + std::to_string(children[i]), kSlow));
    std::vector<std::string> fromChild;
    for (const tobrel_test::SyslogRecord &r : daemonSyslog->records()) {
      if (r.pid != children[i]) continue;
      EXPECT_EQ(r.ident, "Voice") << r.raw;
      EXPECT_EQ(r.facility, LOG_LOCAL1) << r.raw;
      fromChild.push_back(r.message);
    }
    EXPECT_EQ(fromChild,
              (std::vector<std::string>{"TTS FORK ##### id:0", "tts url : " + url("/fr")}));
  }
}

// With the reader of its standard output gone (as `voice | head -n 1` leaves it), every echoed
// line fails; the daemon goes on serving, and the player still starts with SIGPIPE's default.
TEST_F(TtsTest, AnOutputWhoseReaderHasGoneLeavesTheDaemonServing) {
  startWeb();
  writeConf(confWithServers("fr=" + url("/fr")));
  ASSERT_TRUE(startDaemonAfter([] {
    int fds[2];
    if (pipe(fds) != 0) _exit(126);
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
  })) << daemon->output();
  size_t events = 0;
  for (const char *id : {"first", "second"}) {
    SCOPED_TRACE(id);
    Reply r = speak(id, "bonjour", "fr");
    ASSERT_TRUE(r.ok && r.result) << r.error << daemon->output();
    ASSERT_TRUE(waitForSignals("tts_event", ++events, kSlow));
  }
  ASSERT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).ok);
  EXPECT_TRUE(daemon->running()) << daemon->output();
  EXPECT_FALSE(nameOwner().empty());
  ASSERT_FALSE(players().empty());
  EXPECT_EQ(maskOf(readFile(stubs + "/madplay.sigign." + players()[0])) & bit(SIGPIPE), 0u);
}

// A stop ends the child within its grace whatever the child does with SIGTERM: stopped by a
// signal, or started by a daemon that itself had SIGTERM ignored or blocked. The player gets
// SIGTERM's default and no blocked signal either way.
TEST_F(TtsTest, StopEndsAChildThatIsStoppedOrInheritedSigtermIgnoredOrBlocked) {
  struct Case {
    const char *what;
    std::function<void()> prepare;  // in the daemon's process, before it starts
    bool stopChild;
  };
  const Case cases[] = {
      {"child stopped", [] {}, true},
      {"SIGTERM ignored", [] { signal(SIGTERM, SIG_IGN); }, false},
      {"SIGTERM blocked",
       [] {
         sigset_t term;
         sigemptyset(&term);
         sigaddset(&term, SIGTERM);
         sigprocmask(SIG_BLOCK, &term, nullptr);
       },
       false},
  };
  writeConf(confWithServers("fr=" + stallingUrl()));
  size_t events = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(startDaemonAfter(c.prepare)) << daemon->output();
    const size_t before = players().size();
    ASSERT_TRUE(speak(c.what, "longue phrase", "fr").result);
    ASSERT_TRUE(waitForPlayer(before + 1));
    ASSERT_TRUE(tobrel_test::eventually([&] { return forkedChildren().size() == 1; }, kSlow));
    const pid_t child = forkedChildren()[0];
    const std::string player = players()[before];
    EXPECT_EQ(maskOf(readFile(stubs + "/madplay.sigign." + player)) & bit(SIGTERM), 0u);
    EXPECT_EQ(maskOf(readFile(stubs + "/madplay.sigblk." + player)), 0u);
    if (c.stopChild) {
      ASSERT_EQ(kill(child, SIGSTOP), 0);
      ASSERT_TRUE(tobrel_test::eventually([&] { return tobrel_test::processState(child) == 'T'; }, kSlow));
    }
    Reply r = call("tts_stop", g_variant_new("(si)", "", 0));
    ASSERT_TRUE(r.ok && r.result) << r.error;
    ASSERT_TRUE(waitForSignals("tts_event", ++events, kSlow));
    EXPECT_EQ(kill(child, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    daemon->killGroup(SIGKILL);  // SIGTERM may be what this daemon ignores
    ASSERT_TRUE(tobrel_test::eventually([&] { return nameOwner().empty(); }, kSlow));
  }
}

// A child still there when the grace is over (a tracer holds its SIGTERM here) is killed and
// reaped, and the daemon answers again.
TEST_F(TtsTest, StopKillsAChildThatOutlastsTheGrace) {
  if (tobrel_test::underEmulator()) GTEST_SKIP() << "the emulator cannot trace a process";
  const int graceMs = 300;
  writeConf(confWithServers("fr=" + stallingUrl()));
  RunOptions options = speakingOptions();
  options.env.push_back("TOBREL_VOICE_STOP_GRACE_MS=" + std::to_string(graceMs));
  ASSERT_TRUE(startDaemon(daemon, options));
  ASSERT_TRUE(speak("held", "longue phrase", "fr").result);
  ASSERT_TRUE(waitForPlayer(1));
  ASSERT_TRUE(tobrel_test::eventually([&] { return forkedChildren().size() == 1; }, kSlow));
  const pid_t child = forkedChildren()[0];

  // The tracer passes every signal on but SIGTERM, on which it leaves the child stopped.
  std::atomic<int> seizeError{-1};
  std::atomic<bool> held{false};
  int endStatus = 0;
  std::thread tracer([&] {
    if (ptrace(PTRACE_SEIZE, child, nullptr, nullptr) != 0) {
      seizeError = errno;
      return;
    }
    seizeError = 0;
    for (int status; waitpid(child, &status, __WALL) == child;) {
      if (!WIFSTOPPED(status)) {
        endStatus = status;
        return;
      }
      if (WSTOPSIG(status) == SIGTERM) {
        held = true;
        continue;
      }
      ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void *>(static_cast<long>(WSTOPSIG(status))));
    }
  });
  ASSERT_TRUE(tobrel_test::eventually([&] { return seizeError >= 0; }, kSlow));
  if (seizeError != 0) {
    tracer.join();
    GTEST_SKIP() << "cannot trace the child: " << strerror(seizeError);
  }
  const auto start = std::chrono::steady_clock::now();
  Reply r = call("tts_stop", g_variant_new("(si)", "", 0));
  const auto took = std::chrono::steady_clock::now() - start;
  // A daemon that never killed it would leave the tracer waiting for ever.
  const bool leftHeld = tobrel_test::processState(child) == 't';
  if (leftHeld) kill(child, SIGKILL);
  tracer.join();
  EXPECT_FALSE(leftHeld);
  EXPECT_TRUE(r.ok && r.result) << r.error;
  EXPECT_TRUE(held);
  EXPECT_TRUE(WIFSIGNALED(endStatus) && WTERMSIG(endStatus) == SIGKILL) << endStatus;
  EXPECT_GE(took, std::chrono::milliseconds(graceMs));
  EXPECT_TRUE(daemon->waitForOutput("speech child " + std::to_string(child) + " still there " +
                                        std::to_string(graceMs) + " ms after SIGTERM: killed",
                                    kSlow))
      << daemon->output();
  ASSERT_TRUE(waitForSignals("tts_event", 1, kSlow));
  EXPECT_EQ(kill(child, 0), -1);
  EXPECT_TRUE(call("tts_stop", g_variant_new("(si)", "", 0)).ok);
}

// A daemon killed while its child waits for a web service that never answers: the child ends
// with it instead of waiting for ever beside the next daemon.
TEST_F(TtsTest, TheChildOfAKilledDaemonEndsWithIt) {
  writeConf(confWithServers("fr=" + stallingUrl()));
  ASSERT_TRUE(startDaemon(daemon, speakingOptions()));
  ASSERT_TRUE(speak("stalled", "longue phrase", "fr").result);
  ASSERT_TRUE(waitForPlayer(1));
  ASSERT_TRUE(tobrel_test::eventually([&] { return forkedChildren().size() == 1; }, kSlow));
  const pid_t child = forkedChildren()[0];
  ASSERT_TRUE(tobrel_test::isRunning(child));
  ASSERT_EQ(kill(daemon->pid(), SIGKILL), 0);
  EXPECT_TRUE(tobrel_test::eventually([&] { return !tobrel_test::isRunning(child); }, kSlow));
}
