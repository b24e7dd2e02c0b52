// The device link in the test process: frames on a socket pair (exact bytes, split reads,
// empty and malformed frames, the fatal ends), connect over loopback, and the poller's
// dispatch to reply handlers, listeners and the STOP rule.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "callback_registry.h"
#include "frame_codec.h"
#include "link.h"
#include "log_capture.h"
#include "nusk-message.pb.h"
#include "process.h"
#include "script_env.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::InteractiveMode;
using net::zolvek::nusk::message::NuskMsg;
using tobrel_test::readFrame;
using tobrel_test::ScriptEnv;
using tobrel_test::writeBytes;
using tobrel_test::writeFrame;

namespace {

const char* const kId = "0123456789abcdef0123456789abcdef0123";
const char* const kInteractive = "fedcba9876543210fedcba9876543210fedc";

struct Pair {
  Pair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
  ~Pair() {
    for (int f : fd) if (f >= 0) close(f);
  }
  int fd[2] = {-1, -1};
  int ours() const { return fd[0]; }
  int peer() const { return fd[1]; }
};

std::string frameOf(const NuskMsg& msg) {
  std::string frame;
  EXPECT_TRUE(tobrel::frame::appendFrame(msg, &frame));
  return frame;
}

NuskMsg message(const std::string& id) {
  NuskMsg msg;
  msg.set_id(id);
  return msg;
}

// A listener that records every message it is offered.
class Recorder : public NuskMsgListener {
 public:
  explicit Recorder(std::vector<std::string>* seen) : seen_(seen) {}
  bool onMessage(const NuskMsg& msg) override {
    seen_->push_back("listener:" + msg.id());
    return true;
  }

 private:
  std::vector<std::string>* seen_;
};

bool recordingHandler(void* data, const NuskMsg& msg) {
  static_cast<std::vector<std::string>*>(data)->push_back("handler:" + msg.id());
  return true;
}

// A loopback listener on a port of the system's choosing.
struct Listener {
  Listener() : fd(tobrel_test::listenOnLoopback(&port)) {}
  ~Listener() { close(fd); }
  int port = 0;
  int fd;
};

// Waits (up to 5 s) until the reader has taken every byte written to `fd`'s peer so far.
bool allTaken(int fd) {
  return tobrel_test::eventually([fd] { return tobrel_test::unreadBytes(fd) == 0; });
}

// Waits (up to 5 s) until thread `tid` of this process is blocked in recv().
bool waitsInRecv(pid_t tid) {
  return tobrel_test::eventually([tid] { return tobrel_test::blockedInRecv(tid); });
}

// The threadsafe style runs the test program again, which the kernel alone cannot do for a
// program an emulator runs; there the fork of the fast style runs the same statement.
void useThreadsafeDeathTests() {
  GTEST_FLAG_SET(death_test_style, tobrel_test::underEmulator() ? "fast" : "threadsafe");
}

int openDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return count;
}

int pollersOf(TobrelData* app) {
  int count = 0;
  while (g_idle_remove_by_data(app)) ++count;
  return count;
}

}  // namespace

TEST(LinkFrames, APingInInteractiveModeTravelsAsItsEightyThreeBytes) {
  Pair pair;
  NuskMsg ping = message(kId);
  ping.set_interactiveid(kInteractive);
  ping.mutable_ping();
  EXPECT_EQ(sendMessage(pair.ours(), ping), 0);
  std::string bytes(83, '\0');
  ASSERT_EQ(read(pair.peer(), &bytes[0], bytes.size()), 83);
  const std::string expected = std::string("\x00\x00\x00\x4f\x0a\x24", 6) + kId + "\x1a\x24" + kInteractive + "\xc2\x3e\x00";
  EXPECT_EQ(bytes, std::string(expected.data(), 83));
}

TEST(LinkFrames, NewMessagesCarryAFreshLowercaseUuidAndTheGivenInteractiveId) {
  std::unique_ptr<NuskMsg> a(newMessage(nullptr)), b(newMessage(kInteractive));
  EXPECT_THAT(a->id(), ::testing::MatchesRegex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"));
  EXPECT_NE(a->id(), b->id());
  EXPECT_FALSE(a->has_interactiveid());
  EXPECT_EQ(b->interactiveid(), kInteractive);
}

TEST(LinkFrames, NothingReadyReturnsOneWithinAboutAMillisecond) {
  Pair pair;
  NuskMsg msg;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(receiveMessage(pair.ours(), &msg), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(200));
}

// However the peer splits a frame, the frame is put back together in order; the frames before
// and after it are untouched. Each piece is written only once the reader has taken every byte
// before it, so each one really arrives in a read of its own.
TEST(LinkFrames, AFrameSplitOverSeveralReadsIsReassembled) {
  NuskMsg middle = message(kId);
  middle.set_correlationid("c");
  const std::string frame = frameOf(middle);
  const std::vector<std::vector<size_t>> splits = {{1, 3}, {2, 2}, {3, 1}, {4}, {1, 1, 1, 1, 5}, {6, 10, 2}};
  for (const auto& split : splits) {
    SCOPED_TRACE(::testing::PrintToString(split));
    Pair pair;
    writeBytes(pair.peer(), frameOf(message("before")) + frame.substr(0, split[0]));
    int piecesTaken = 0;
    std::thread writer([&] {
      size_t at = split[0];
      for (size_t i = 1; i < split.size(); ++i) {
        if (!allTaken(pair.ours())) return;
        ++piecesTaken;
        writeBytes(pair.peer(), frame.substr(at, split[i]));
        at += split[i];
      }
      if (!allTaken(pair.ours())) return;
      ++piecesTaken;
      writeBytes(pair.peer(), frame.substr(at) + frameOf(message("after")));
    });
    NuskMsg got;
    EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
    EXPECT_EQ(got.id(), "before");
    EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
    EXPECT_EQ(got.id(), kId);
    EXPECT_EQ(got.correlationid(), "c");
    writer.join();
    EXPECT_EQ(piecesTaken, static_cast<int>(split.size())) << "a piece was not read before the next came";
    EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
    EXPECT_EQ(got.id(), "after");
  }
}

TEST(LinkFrames, AZeroLengthFrameEndsAfterItsLengthAndTheNextFrameFollows) {
  Pair pair;
  writeBytes(pair.peer(), std::string(4, '\0') + frameOf(message(kId)));
  NuskMsg got = message("stale");
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
  EXPECT_FALSE(got.has_id()) << "an empty payload is an empty message";
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
  EXPECT_EQ(got.id(), kId);
}

// The cap is inclusive: a payload of exactly 16 MiB is a frame like any other.
TEST(LinkFrames, APayloadOfExactlySixteenMebibytesIsRead) {
  NuskMsg big = message(kId);
  big.mutable_led()->mutable_light()->set_color(std::string(tobrel::frame::kMaxPayload - 64, 'x'));
  // Grow the colour until the encoded message is exactly at the cap.
  while (big.ByteSizeLong() < tobrel::frame::kMaxPayload) big.mutable_led()->mutable_light()->mutable_color()->push_back('x');
  ASSERT_EQ(big.ByteSizeLong(), tobrel::frame::kMaxPayload);
  const std::string bytes = frameOf(big) + frameOf(message("after"));
  Pair pair;
  std::thread writer([&] { writeBytes(pair.peer(), bytes); });
  pollfd ready = {pair.ours(), POLLIN, 0};
  ASSERT_EQ(poll(&ready, 1, 10000), 1);
  NuskMsg got;
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
  EXPECT_EQ(got.led().light().color().size(), big.led().light().color().size());
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
  writer.join();
  EXPECT_EQ(got.id(), "after");
}

TEST(LinkFrames, AFrameThatIsNotWireFormatIsDroppedAndTheLinkGoesOn) {
  Pair pair;
  // Field 1 announced as 100 bytes long in a 3-byte payload.
  writeBytes(pair.peer(), std::string("\x00\x00\x00\x03\x0a\x64\x41", 7) + frameOf(message(kId)));
  tobrel_test::LogCapture logs;
  NuskMsg got;
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 1);
  EXPECT_TRUE(logs.has(G_LOG_LEVEL_WARNING, "dropping a frame of 3 bytes that holds no device message"));
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
  EXPECT_EQ(got.id(), kId);
}

TEST(LinkFrames, AFrameLackingOnlyItsRequiredIdIsStillDelivered) {
  Pair pair;
  NuskMsg partial;
  partial.set_correlationid("c");
  writeBytes(pair.peer(), frameOf(partial));
  NuskMsg got;
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
  EXPECT_EQ(got.correlationid(), "c");
}

// The signal is sent only once the reader waits inside the frame's read, and the rest of the
// frame only once it waits there again: the interrupted read is the one that must go on.
TEST(LinkFrames, ASignalDuringAFrameDoesNotEndTheLink) {
  static std::atomic<int> handled{0};
  handled = 0;
  struct sigaction action {};
  action.sa_handler = [](int) { ++handled; };
  // No SA_RESTART: the signal interrupts recv() with EINTR.
  struct sigaction previous {};
  sigaction(SIGALRM, &action, &previous);
  Pair pair;
  const std::string frame = frameOf(message(kId));
  writeBytes(pair.peer(), frame.substr(0, 2));
  const pid_t reader = static_cast<pid_t>(syscall(SYS_gettid));
  const pthread_t readerThread = pthread_self();
  bool interruptedInRead = false, resumedRead = false;
  std::thread writer([&] {
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
    if (!allTaken(pair.ours()) || !waitsInRecv(reader)) return;
    pthread_kill(readerThread, SIGALRM);
    for (int i = 0; i < 5000 && handled == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    interruptedInRead = handled == 1;
    resumedRead = waitsInRecv(reader);
    writeBytes(pair.peer(), frame.substr(2));
  });
  NuskMsg got;
  EXPECT_EQ(receiveMessage(pair.ours(), &got), 0);
  writer.join();
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_TRUE(interruptedInRead) << "the signal did not reach the waiting read";
  EXPECT_TRUE(resumedRead) << "the read was not taken up again";
  EXPECT_EQ(got.id(), kId);
}

// The fatal ends of the link: each aborts with its own text.
TEST(LinkFramesDeathTest, ABrokenLinkEndsTheAppWithItsText) {
  useThreadsafeDeathTests();
  struct Case {
    const char* name;
    std::string bytes;  // what the peer writes
    bool closes;        // then the peer closes its side
    const char* text;
  };
  const std::vector<Case> cases = {
      {"closed before a frame", "", true, "Failed to receive bytes length from server"},
      {"closed inside the length", std::string("\x00\x00", 2), true, "Failed to receive bytes length from server"},
      {"closed inside the payload", std::string("\x00\x00\x00\x08\x0a\x02", 6), true,
       "Failed to receive bytes from server"},
      // An over-long length is refused before a single payload byte is awaited.
      {"length over 16 MiB", std::string("\x01\x00\x00\x01", 4), false, "Failed to receive bytes from server"},
      {"length of 4 GiB", std::string("\xff\xff\xff\xff", 4), false, "Failed to receive bytes from server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DEATH(
        {
          Pair pair;
          if (!c.bytes.empty()) writeBytes(pair.peer(), c.bytes);
          if (c.closes) shutdown(pair.peer(), SHUT_WR);
          NuskMsg got;
          receiveMessage(pair.ours(), &got);
        },
        c.text);
  }
}

TEST(LinkFramesDeathTest, ASendOnADeadLinkIsTheSendFailureNotASignal) {
  useThreadsafeDeathTests();
  EXPECT_EXIT(
      {
        Pair pair;
        close(pair.fd[1]);
        pair.fd[1] = -1;
        sendMessage(pair.ours(), message(kId));
      },
      ::testing::KilledBySignal(SIGTRAP), "send failed: Broken pipe");
  EXPECT_EXIT(
      { sendMessage(-1, message(kId)); },
      ::testing::KilledBySignal(SIGTRAP), "send failed: Bad file descriptor");
}

// Out of memory for a frame takes the link's fatal end with its log line, not a bare abort.
TEST(LinkFramesDeathTest, AFrameThatCannotBeAllocatedIsTheSendFailure) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves address space of its own";
#endif
  if (tobrel_test::underEmulator()) GTEST_SKIP() << "the emulator ignores RLIMIT_AS";
  useThreadsafeDeathTests();
  EXPECT_EXIT(
      {
        NuskMsg big = message(kId);
        big.mutable_led()->mutable_light()->set_color(std::string(size_t{8} << 20, 'x'));
        // The address space in use now and 4 MiB more: no room for the 8 MiB frame.
        std::ifstream statm("/proc/self/statm");
        unsigned long pages = 0;
        statm >> pages;
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + (4ul << 20);
        setrlimit(RLIMIT_AS, &limit);
        sendMessage(-1, big);
      },
      ::testing::KilledBySignal(SIGTRAP), "send failed: Cannot allocate memory");
}

TEST(LinkConnect, ConnectsOverLoopbackAndASecondConnectReplacesTheFirst) {
  ScriptEnv env;
  Listener daemon;
  TobrelData& app = env.app();
  ASSERT_EQ(connectToServer("127.0.0.1", daemon.port, &app), 0);
  const int first = app.sock;
  EXPECT_NE(first, -1);
  EXPECT_TRUE(env.logged("connecting to: 127.0.0.1:" + std::to_string(daemon.port)));
  // 65536 + p reaches p.
  ASSERT_EQ(connectToServer("localhost", 65536 + daemon.port, &app), 0);
  EXPECT_NE(app.sock, first);
  EXPECT_EQ(fcntl(first, F_GETFD), -1) << "the first socket is closed";
  EXPECT_EQ(pollersOf(&app), 1) << "one poller serves the current socket";
}

TEST(LinkConnect, AFailedConnectLeavesTheLinkAsItWasAndLeaksNoSocket) {
  ScriptEnv env;
  const int closedPort = tobrel_test::unusedLoopbackPort();
  struct Case {
    std::string host;
    int port;
    std::string log;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", closedPort, "connect failed on '127.0.0.1:" + std::to_string(closedPort) + "' : Connection refused"},
      {"", 1, "nslookup failed on ''"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    const int before = openDescriptors();
    EXPECT_EQ(connectToServer(c.host.c_str(), c.port, &env.app()), -1);
    EXPECT_EQ(env.app().sock, -1);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(env.logged(c.log));
  }
  EXPECT_EQ(pollersOf(&env.app()), 0);
}

TEST(LinkConnect, TheScriptMethodChecksItsArguments) {
  ScriptEnv env;
  Listener daemon;
  const std::string port = std::to_string(daemon.port);
  struct Case {
    std::string call;
    std::string result;
  };
  const std::vector<Case> cases = {
      {"tobrel.connect()", "threw: Wrong arguments"},
      {"tobrel.connect('127.0.0.1')", "threw: Wrong arguments"},
      {"tobrel.connect(1, " + port + ")", "threw: Wrong arguments"},
      {"tobrel.connect('127.0.0.1', '" + port + "')", "threw: Wrong arguments"},
      {"tobrel.connect('127.0.0.1', 1.5)", "threw: Wrong arguments"},
      {"tobrel.connect('127.0.0.1', " + port + ", 3)", "threw: Wrong arguments"},
      {"tobrel.connect('127.0.0.1', " + port + ", {}, {})", "threw: Wrong arguments"},
      {"tobrel.connect('127.0.0.1', " + port + ", {ignored: true})", "undefined"},
      {"tobrel.connect('127.0.0.1', " + port + ")", "undefined"},
  };
  for (const Case& c : cases) EXPECT_EQ(env.run(c.call), c.result) << c.call;
}

TEST(LinkConnect, ARefusedConnectThrowsConnectionRefused) {
  ScriptEnv env;
  const int closedPort = tobrel_test::unusedLoopbackPort();
  EXPECT_EQ(env.run("tobrel.connect('127.0.0.1', " + std::to_string(closedPort) + ")"), "threw: connection refused");
  EXPECT_TRUE(env.logged("connection refused"));
  EXPECT_EQ(env.app().sock, -1);
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = env.attachPeer();
    env.app().addListener(new Recorder(&seen));
  }
  // Writes `msg` as the daemon and runs one pass of the poller.
  void deliver(const NuskMsg& msg) {
    writeFrame(daemon, msg);
    env.pollOnce();
  }
  ScriptEnv env;
  int daemon = -1;
  std::vector<std::string> seen;
};

TEST_F(Dispatch, AReplyReachesItsHandlerFirstThenEveryListener) {
  registerCallback("req", new CallbackHandler(recordingHandler, &seen));
  NuskMsg reply = tobrel_test::replyTo("req", 1);
  deliver(reply);
  EXPECT_EQ(seen, std::vector<std::string>({"handler:reply-to-req", "listener:reply-to-req"}));
}

// A burst takes one pass per frame, so timers run between them.
TEST_F(Dispatch, EachPassDispatchesOneFrameEvenWhenMoreAreWaiting) {
  writeBytes(daemon, frameOf(message("first")) + frameOf(message("second")));
  env.pollOnce();
  EXPECT_EQ(seen, std::vector<std::string>({"listener:first"}));
  env.pollOnce();
  EXPECT_EQ(seen, std::vector<std::string>({"listener:first", "listener:second"}));
  env.pollOnce();
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(Dispatch, AnUnknownCorrelationIsLoggedAndStillReachesTheListeners) {
  deliver(tobrel_test::replyTo("nobody", 1));
  EXPECT_TRUE(env.logged("NO CORRELATION FOUND"));
  EXPECT_EQ(seen, std::vector<std::string>({"listener:reply-to-nobody"}));
}

TEST_F(Dispatch, InteractiveModeMessagesNeverReachListenersAndOnlyStopArmsTheEnd) {
  registerCallback("req", new CallbackHandler(recordingHandler, &seen));
  struct Case {
    const char* name;
    int action;  // 0: no action
    bool correlated;
    std::vector<std::string> seen;
    bool armed;
  };
  const std::vector<Case> cases = {
      {"stop with a correlation", InteractiveMode::STOP, true, {"handler:m"}, true},
      {"stop", InteractiveMode::STOP, false, {}, true},
      {"start", InteractiveMode::START, false, {}, false},
      {"no action", 0, false, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    seen.clear();
    env.clearLogs();
    NuskMsg msg = message("m");
    if (c.correlated) msg.set_correlationid("req");
    InteractiveMode* mode = msg.mutable_interactivemode();
    if (c.action != 0) mode->set_action(static_cast<InteractiveMode::Action>(c.action));
    deliver(msg);
    EXPECT_EQ(seen, c.seen);
    EXPECT_EQ(env.logged("interactive mode stopped, autokill in 300000ms"), c.armed);
  }
}

TEST_F(Dispatch, ReceivedMessagesAreLoggedUnlessTheyHoldServiceTokens) {
  NuskMsg plain = message("plain");
  deliver(plain);
  NuskMsg social = message("secret");
  social.mutable_social()->set_facebooktoken("token-value");
  deliver(social);
  int received = 0;
  for (const auto& line : env.logs()) {
    if (line.message.rfind("Received MSG\n", 0) == 0) {
      ++received;
      EXPECT_THAT(line.message, ::testing::Not(::testing::HasSubstr("token-value")));
    }
  }
  EXPECT_EQ(received, 1);
  EXPECT_EQ(seen, std::vector<std::string>({"listener:plain", "listener:secret"}));
}

TEST_F(Dispatch, EverySentMessageIsLogged) {
  NuskMsg msg = message(kId);
  msg.mutable_ping();
  sendMessage(env.app().sock, msg);
  EXPECT_TRUE(env.logged("Sending MSG\n" + msg.DebugString()));
  EXPECT_EQ(readFrame(daemon).id(), kId);
}

// Passwords, tokens, secrets, keys and credentials are masked in both traces; the frames
// themselves keep them.
TEST_F(Dispatch, TracesMaskPasswordsTokensAndSecrets) {
  NuskMsg account = message(kId);
  auto* sip = account.mutable_t2t()->mutable_account();
  sip->set_sipid("alice");
  sip->set_sipdomain("sip.example");
  sip->set_sippassword("hunter2");
  sip->set_stunserver("stun.example");
  sendMessage(env.app().sock, account);
  EXPECT_EQ(readFrame(daemon).t2t().account().sippassword(), "hunter2");

  NuskMsg config = message("config");
  config.mutable_config()->mutable_sipinfo()->set_id("alice");
  config.mutable_config()->mutable_sipinfo()->set_password("swordfish");
  auto* configApp = config.mutable_config()->add_configapp();
  configApp->set_apikey("key-789");
  auto* instance = configApp->add_configinstance();
  instance->set_name("inst");
  instance->set_accesstoken("tok-123");
  config.mutable_config()->mutable_social()->set_twitterconsumersecret("consumer-secret-1");
  config.mutable_authenticationtoken()->set_token("auth-456");
  deliver(config);

  NuskMsg login = message("login");
  login.mutable_authenticationresponse()->set_login("bob");
  login.mutable_authenticationresponse()->set_authentication("credential-321");
  login.mutable_runapplication()->set_apikey("run-key-654");
  sendMessage(env.app().sock, login);
  EXPECT_EQ(readFrame(daemon).authenticationresponse().authentication(), "credential-321");

  std::string traces;
  for (const auto& line : env.logs()) traces += line.message + "\n";
  for (const char* secret : {"hunter2", "swordfish", "tok-123", "auth-456", "key-789", "consumer-secret-1",
                             "credential-321", "run-key-654"})
    EXPECT_THAT(traces, ::testing::Not(::testing::HasSubstr(secret))) << secret;
  for (const char* kept : {"sipPassword: \"***\"", "sipId: \"alice\"", "password: \"***\"",
                           "accessToken: \"***\"", "token: \"***\"", "name: \"inst\"", "apiKey: \"***\"",
                           "twitterConsumerSecret: \"***\"", "authentication: \"***\"", "login: \"bob\""})
    EXPECT_THAT(traces, ::testing::HasSubstr(kept));
  EXPECT_EQ(seen, std::vector<std::string>({"listener:config"})) << "the message itself is untouched";
}

// A message whose only secret lies deep inside it (in a list of lists too) is still masked.
TEST_F(Dispatch, ALoneSecretIsMaskedWhereverItLies) {
  NuskMsg deep = message("deep");
  deep.mutable_config()->add_configapp()->set_name("first");
  deep.mutable_config()->add_configapp()->add_configinstance()->set_name("a");
  deep.mutable_config()->mutable_configapp(1)->add_configinstance()->set_accesstoken("tok-only");
  NuskMsg sip = message("sip");
  auto* account = sip.mutable_t2t()->mutable_account();
  account->set_sipid("alice");
  account->set_sipdomain("sip.example");
  account->set_sippassword("pass-only");
  account->set_stunserver("stun.example");
  NuskMsg top = message("top");
  top.mutable_authenticationtoken()->set_token("auth-only");
  const struct {
    const NuskMsg& msg;
    const char* secret;
  } cases[] = {{deep, "tok-only"}, {sip, "pass-only"}, {top, "auth-only"}};
  for (const auto& c : cases) {
    env.clearLogs();
    deliver(c.msg);
    std::string traces;
    for (const auto& line : env.logs()) traces += line.message + "\n";
    EXPECT_THAT(traces, ::testing::HasSubstr("\"***\"")) << c.secret;
    EXPECT_THAT(traces, ::testing::Not(::testing::HasSubstr(c.secret)));
  }
}
