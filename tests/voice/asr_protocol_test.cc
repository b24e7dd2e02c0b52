// The recognition server link below the daemon: the frame codec, sendAsrMsg and getNuskMsg on
// real sockets and against the asrd stand-in, the capture device table, the OSS set-up and the
// grammar text.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <linux/tcp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/soundcard.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <atomic>
#include <memory>
#include <string>
#include <iostream>
#include <thread>
#include <vector>

#include "asr-message.pb.h"
#include "asr_frame.h"
#include "asr_internal.h"
#include "asr_link.h"
#include "asrd_process.h"
#include "audio_device.h"
#include "platform.h"
#include "process.h"

using net::zolvek::asr::message::AsrMsg;
using net::zolvek::asr::message::NOMATCH;
using net::zolvek::asr::message::OK;

namespace {

// Collects what the code under test logs in the default domain.
class LogCapture {
 public:
  LogCapture() { previous_ = g_log_set_default_handler(&LogCapture::handle, this); }
  ~LogCapture() { g_log_set_default_handler(previous_, nullptr); }
  bool contains(const std::string &text) const {
    for (const auto &line : lines_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> startingWith(const std::string &prefix) const {
    std::vector<std::string> found;
    for (const auto &line : lines_)
      if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
  }

 private:
  static void handle(const gchar *, GLogLevelFlags, const gchar *message, gpointer self) {
    static_cast<LogCapture *>(self)->lines_.push_back(message);
  }
  GLogFunc previous_;
  std::vector<std::string> lines_;
};

struct SocketPair {
  int ours = -1, theirs = -1;
  SocketPair() {
    int fds[2];
    EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    ours = fds[0];
    theirs = fds[1];
  }
  ~SocketPair() {
    if (ours >= 0) close(ours);
    closeTheirs();
  }
  void closeTheirs() {
    if (theirs >= 0) close(theirs);
    theirs = -1;
  }
  void write(const std::string &bytes) const {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(theirs, bytes.data(), bytes.size()));
  }
};

using tobrel_test::eventually;
using tobrel_test::unreadBytes;

// The link's deadlines for one test.
class LinkDeadlines {
 public:
  LinkDeadlines(int frameMs, int sendMs) : deadlines_{frameMs, sendMs} {
    setAsrLinkDeadlines(&deadlines_);
  }
  ~LinkDeadlines() { setAsrLinkDeadlines(nullptr); }

 private:
  AsrLinkDeadlines deadlines_;
};

// A bound on how long a call under test may block, so that a call that would block for ever
// fails (with EAGAIN) instead of hanging the test.
void limitBlocking(int fd, int option, long seconds) {
  struct timeval limit = {seconds, 0};
  ASSERT_EQ(0, setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit));
}

std::string beLength(uint32_t n) {
  const char bytes[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                         static_cast<char>(n >> 8), static_cast<char>(n)};
  return std::string(bytes, 4);
}

AsrMsg answer(const char *words, const char *semantic, int score) {
  AsrMsg message;
  auto *response = message.mutable_response();
  response->set_code(OK);
  response->set_words(words);
  response->set_semantic(semantic);
  response->set_score(score);
  return message;
}

std::string readExactly(int fd, size_t size) {
  std::string out(size, '\0');
  size_t got = 0;
  while (got < size) {
    const ssize_t r = read(fd, &out[got], size - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  out.resize(got);
  return out;
}

// ---- frame codec ----

TEST(AsrFrame, RoundTripsEveryKindOfMessage) {
  AsrMsg grammar;
  grammar.set_grammar("#ABNF 1.0 UTF-8;\r\npublic $App = yes | no;\r\n");
  AsrMsg audio;
  audio.set_audio(std::string("\x00\xff\x7f\x80\x00", 5) + std::string(1019, '\x55'));
  AsrMsg nomatch;
  nomatch.mutable_response()->set_code(NOMATCH);
  const AsrMsg cases[] = {grammar, audio, answer("oui", "<x>1</x>", 87), nomatch, AsrMsg()};
  for (const AsrMsg &message : cases) {
    const std::string frame = asrframe::encode(message);
    const std::string payload = message.SerializeAsString();
    ASSERT_EQ(frame.size(), payload.size() + 4);
    EXPECT_EQ(beLength(static_cast<uint32_t>(payload.size())), frame.substr(0, 4));
    EXPECT_EQ(payload.size(),
              asrframe::decodeLength(reinterpret_cast<const unsigned char *>(frame.data())));
    const auto decoded = asrframe::decodePayload(frame.data() + 4, frame.size() - 4);
    EXPECT_EQ(payload, decoded->SerializeAsString());
  }
}

TEST(AsrFrame, LengthIsUnsignedBigEndian) {
  const struct {
    unsigned char header[4];
    uint32_t length;
  } cases[] = {{{0, 0, 0, 0}, 0},
               {{0, 0, 0, 1}, 1},
               {{0, 0, 4, 0}, 1024},
               {{1, 2, 3, 4}, 0x01020304u},
               {{0xff, 0xff, 0xff, 0xfe}, 0xfffffffeu}};
  for (const auto &c : cases) EXPECT_EQ(c.length, asrframe::decodeLength(c.header));
}

TEST(AsrFrame, IncompletePayloadIsUsedAsFarAsDecoded) {
  // A response with words but no code counts as OK, with an empty semantic and score 0.
  AsrMsg noCode;
  noCode.mutable_response()->set_words("bonjour");
  const std::string partial = noCode.SerializePartialAsString();
  auto decoded = asrframe::decodePayload(partial.data(), partial.size());
  ASSERT_TRUE(decoded->has_response());
  EXPECT_EQ(OK, decoded->response().code());
  EXPECT_EQ("bonjour", decoded->response().words());
  EXPECT_EQ("", decoded->response().semantic());
  EXPECT_EQ(0, decoded->response().score());

  // A grammar followed by a field cut short keeps the grammar.
  AsrMsg grammar;
  grammar.set_grammar("g");
  const std::string cut = grammar.SerializeAsString() + std::string("\x12\x10" "abc", 5);
  decoded = asrframe::decodePayload(cut.data(), cut.size());
  EXPECT_EQ("g", decoded->grammar());

  decoded = asrframe::decodePayload("", 0);
  EXPECT_FALSE(decoded->has_response());
}

// ---- getNuskMsg ----

TEST(AsrReceive, AssemblesAFrameThatArrivesInPieces) {
  SocketPair pair;
  const LinkDeadlines generous(30000, 30000);
  const std::string frame = asrframe::encode(answer("oui", "<r>yes</r>", 42));
  // One byte, then three: the length arrives split, and the body in two parts. Each piece is
  // written only once the reader has taken the one before, so each lands on its own.
  const size_t cuts[] = {0, 1, 4, 9, frame.size()};
  size_t readAlone = 0;
  std::thread writer([&] {
    for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
      ASSERT_EQ(static_cast<ssize_t>(cuts[i + 1] - cuts[i]),
                write(pair.theirs, frame.data() + cuts[i], cuts[i + 1] - cuts[i]));
      if (!eventually([&] { return unreadBytes(pair.ours) == 0; })) return;
      ++readAlone;
    }
  });
  LogCapture log;
  std::unique_ptr<AsrMsg> message(getNuskMsg(pair.ours));
  writer.join();
  EXPECT_EQ(std::size(cuts) - 1, readAlone);
  ASSERT_NE(nullptr, message);
  EXPECT_EQ("oui", message->response().words());
  EXPECT_EQ("<r>yes</r>", message->response().semantic());
  EXPECT_EQ(42, message->response().score());
  EXPECT_TRUE(log.contains("getNuskMsg on sock " + std::to_string(pair.ours) + "\n"));
  EXPECT_FALSE(log.startingWith("message received:\n").empty());
}

TEST(AsrReceive, ReadsFramesBackToBackOneAtATime) {
  SocketPair pair;
  AsrMsg first;
  first.set_grammar("one");
  pair.write(asrframe::encode(first) + beLength(0) + asrframe::encode(answer("two", "", 1)));
  std::unique_ptr<AsrMsg> a(getNuskMsg(pair.ours)), b(getNuskMsg(pair.ours)),
      c(getNuskMsg(pair.ours));
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ("one", a->grammar());
  EXPECT_FALSE(b->has_response());  // a frame of length 0 is an empty message
  EXPECT_FALSE(b->has_grammar());
  EXPECT_EQ("two", c->response().words());
}

TEST(AsrReceive, RefusesShortAndOverlongFrames) {
  const struct {
    const char *name;
    std::string bytes;
    bool keepOpen;  // an over-long frame must be refused without waiting for its body
    const char *warning;
  } cases[] = {
      {"closed before a length", "", false, "Failed to receive bytes from server: "},
      {"length cut short", std::string("\0\0", 2), false, "Failed to receive bytes from server: "},
      {"body cut short", beLength(10) + "12345", false,
       "Failed to receive bytes message from server: "},
      {"one byte over 1 MiB", beLength((1u << 20) + 1) + "xx", true,
       "Failed to receive bytes message from server: Message too long"},
      {"largest length", beLength(0xffffffffu), true,
       "Failed to receive bytes message from server: Message too long"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    pair.write(c.bytes);
    if (!c.keepOpen) pair.closeTheirs();
    LogCapture log;
    std::unique_ptr<AsrMsg> message(getNuskMsg(pair.ours));
    EXPECT_EQ(nullptr, message);
    EXPECT_EQ(1u, log.startingWith(c.warning).size());
  }
}

// Once a frame has begun, a server that sends no more of it must not hold the reader: the frame
// is lost after the deadline, with the peer still connected.
TEST(AsrReceive, AFrameWhoseRestDoesNotComeInTimeIsLost) {
  const struct {
    const char *name;
    std::string bytes;
    const char *warning;
  } cases[] = {
      {"two bytes of the length", std::string("\0\0", 2),
       "Failed to receive bytes from server: Connection timed out"},
      {"a length of 100 and two bytes", beLength(100) + "ab",
       "Failed to receive bytes message from server: Connection timed out"},
  };
  const LinkDeadlines shortFrames(100, 3000);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    limitBlocking(pair.ours, SO_RCVTIMEO, 3);
    pair.write(c.bytes);
    LogCapture log;
    std::unique_ptr<AsrMsg> message(getNuskMsg(pair.ours));
    EXPECT_EQ(nullptr, message);
    EXPECT_EQ(1u, log.startingWith(c.warning).size());
  }

  // The deadline covers the whole frame: a server that trickles it byte by byte, each byte well
  // within the deadline, loses it too. The length goes in one piece, so that the deadline falls
  // in the message's bytes however late this busy machine wakes the writer.
  SocketPair pair;
  limitBlocking(pair.ours, SO_RCVTIMEO, 3);
  const std::string frame = asrframe::encode(answer("goutte", "", 1));
  ASSERT_GT(frame.size(), 4u + 10u);
  pair.write(frame.substr(0, 4));
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (size_t i = 4; i < frame.size() && !done; ++i) {
      if (write(pair.theirs, &frame[i], 1) != 1) return;
      usleep(30000);
    }
  });
  LogCapture log;
  std::unique_ptr<AsrMsg> message(getNuskMsg(pair.ours));
  done = true;
  trickle.join();
  EXPECT_EQ(nullptr, message);
  EXPECT_EQ(1u, log.startingWith("Failed to receive bytes message from server: Connection timed out")
                    .size());
}

TEST(AsrReceive, AcceptsAFrameOfExactly1MiB) {
  SocketPair pair;
  AsrMsg big;
  big.set_audio(std::string((1u << 20) - 4, 'a'));  // tag, 3-byte length and the bytes: 1 MiB
  const std::string frame = asrframe::encode(big);
  ASSERT_EQ((1u << 20) + 4, frame.size());
  std::thread writer([&] { pair.write(frame); });
  std::unique_ptr<AsrMsg> message(getNuskMsg(pair.ours));
  writer.join();
  ASSERT_NE(nullptr, message);
  EXPECT_EQ(big.audio(), message->audio());
}

// ---- sendAsrMsg ----

TEST(AsrSend, WritesOneWholeFrame) {
  SocketPair pair;
  AsrMsg message;
  message.set_audio(std::string(1024, '\x7f'));
  LogCapture log;
  EXPECT_EQ(0, sendAsrMsg(pair.ours, message));
  const std::string expected = asrframe::encode(message);
  EXPECT_EQ(expected, readExactly(pair.theirs, expected.size()));
  EXPECT_TRUE(log.startingWith("send retry").empty());
}

volatile sig_atomic_t alarms = 0;
void onAlarm(int) { alarms = alarms + 1; }

// SIGALRM after the given time (and then every `repeat` microseconds when not 0), with a
// handler installed without SA_RESTART, so that it interrupts whatever system call blocks.
void interruptAfter(long microseconds, long repeat = 0) {
  struct sigaction action = {};
  action.sa_handler = onAlarm;
  sigaction(SIGALRM, &action, nullptr);
  struct itimerval timer = {};
  timer.it_value.tv_usec = microseconds;
  timer.it_interval.tv_usec = repeat;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void stopInterrupting() {
  struct itimerval timer = {};
  setitimer(ITIMER_REAL, &timer, nullptr);
}

// Helper threads leave the alarm to the thread under test.
void ignoreAlarmInThisThread() {
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
}

TEST(AsrSend, CompletesASendThatTheKernelCutShort) {
  SocketPair pair;
  const int small = 4096;
  setsockopt(pair.ours, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  AsrMsg message;
  message.set_audio(std::string(512 * 1024, '\x11'));
  const std::string expected = asrframe::encode(message);

  // Signals without SA_RESTART end the blocked send early with part of the frame written; the
  // reader drains the socket only after a while.
  std::string received;
  std::thread reader([&] {
    ignoreAlarmInThisThread();
    usleep(200000);
    received = readExactly(pair.theirs, expected.size());
  });

  LogCapture log;
  interruptAfter(20000, 20000);
  EXPECT_EQ(0, sendAsrMsg(pair.ours, message));
  stopInterrupting();
  reader.join();
  EXPECT_TRUE(received == expected);
  const auto retries = log.startingWith("send retry ");
  ASSERT_FALSE(retries.empty());
  const long offset = std::stol(retries.front().substr(strlen("send retry ")));
  EXPECT_GT(offset, 0);
  EXPECT_LT(offset, static_cast<long>(expected.size()));
}

// A server that stops reading must not hold the daemon in send once the socket's buffers are
// full: the send fails at the deadline.
TEST(AsrSend, APeerThatTakesNothingFailsTheSendAtTheDeadline) {
  SocketPair pair;
  const int small = 4096;
  setsockopt(pair.ours, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  limitBlocking(pair.ours, SO_SNDTIMEO, 3);
  const LinkDeadlines shortSends(2000, 100);
  AsrMsg message;
  message.set_audio(std::string(512 * 1024, '\x22'));
  LogCapture log;
  EXPECT_EQ(-1, sendAsrMsg(pair.ours, message));
  EXPECT_EQ(ETIMEDOUT, errno);
  EXPECT_TRUE(log.contains("send failed: Connection timed out"));
  EXPECT_FALSE(log.startingWith("send retry ").empty());
}

TEST(AsrSend, AClosedPeerIsAFailureNotASignal) {
  // SIGPIPE keeps its default action: a send that raised it would end this test process.
  signal(SIGPIPE, SIG_DFL);
  SocketPair pair;
  pair.closeTheirs();
  AsrMsg message;
  message.set_audio(std::string(1024, '\0'));
  LogCapture log;
  EXPECT_EQ(-1, sendAsrMsg(pair.ours, message));
  EXPECT_TRUE(log.contains("send failed: Broken pipe"));
}

// ---- a conversation with the stand-in server ----

// Bytes that a TCP socket has received so far, read or not.
uint64_t bytesReceived(int s) {
  struct tcp_info info = {};
  socklen_t length = sizeof info;
  if (getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
  return info.tcpi_bytes_received;
}

int connectTo(int port) {
  const int s = tobrel_test::connectLoopback(port);
  EXPECT_GE(s, 0) << "connect to port " << port;
  return s;
}

enum Expect { kNone, kNoResponse, kResponse };

struct Conversation {
  std::vector<std::string> options;
  Expect expect;
  int code;
  const char *words;
  const char *semantic;
  int score;
};

// One session with the stand-in started with c.options: a grammar, three frames, the answer.
void converse(const Conversation &c) {
  SCOPED_TRACE(c.options.front());
  const LinkDeadlines generous(30000, 30000);
  std::vector<std::string> options = c.options;
  options.push_back("--after=3");
  AsrdProcess server(options);
  const int s = connectTo(server.port());
  AsrMsg grammar;
  grammar.set_grammar("yes | no");
  ASSERT_EQ(0, sendAsrMsg(s, grammar));
  AsrMsg audio;
  audio.set_audio(std::string(1024, '\x42'));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, sendAsrMsg(s, audio));
  // A split answer comes one piece per further frame: each is asked for only once the piece
  // before it has arrived and been read, so the reader has to assemble it.
  std::vector<uint64_t> readAlone;
  std::thread pacer;
  if (c.options.front() == "--split=frames") {
    pacer = std::thread([&] {
      for (int piece = 0; piece < 2; ++piece) {
        const uint64_t before = readAlone.empty() ? 0 : readAlone.back();
        uint64_t arrived = 0;
        if (!eventually([&] {
              arrived = bytesReceived(s);
              return arrived > before && unreadBytes(s) == 0;
            }))
          return;
        readAlone.push_back(arrived);
        if (sendAsrMsg(s, AsrMsg()) != 0) return;
      }
    });
  }
  std::unique_ptr<AsrMsg> reply(getNuskMsg(s));
  if (pacer.joinable()) {
    pacer.join();
    EXPECT_EQ((std::vector<uint64_t>{1, 4}), readAlone);
  }
  close(s);
  if (c.expect == kNone) {
    EXPECT_EQ(nullptr, reply);
  } else {
    ASSERT_NE(nullptr, reply);
    ASSERT_EQ(c.expect == kResponse, reply->has_response());
    if (c.expect == kResponse) {
      EXPECT_EQ(c.code, reply->response().code());
      EXPECT_EQ(c.words, reply->response().words());
      EXPECT_EQ(c.semantic, reply->response().semantic());
      EXPECT_EQ(c.score, reply->response().score());
    }
  }
  const std::string session = server.nextSession();
  EXPECT_EQ("1", sessionField(session, "grammars")) << session;
  EXPECT_EQ("3", sessionField(session, "frames")) << session;
  EXPECT_EQ("3072", sessionField(session, "audio")) << session;
  EXPECT_EQ("yes | no", sessionBytes(session, "grammar")) << session;
}

TEST(AsrConversation, EveryKindOfAnswerFromTheStandIn) {
  const Conversation cases[] = {
      {{"--words=allume", "--semantic=<a>on</a>", "--score=73"}, kResponse, OK, "allume",
       "<a>on</a>", 73},
      {{"--answer=nomatch", "--words=peut-etre"}, kResponse, NOMATCH, "peut-etre", "", 0},
      {{"--answer=nocode", "--words=sans code"}, kResponse, OK, "sans code", "", 0},
      {{"--answer=malformed", "--words=debut"}, kResponse, OK, "debut", "", 0},
      {{"--answer=empty"}, kNoResponse, 0, "", "", 0},
      {{"--answer=oversize"}, kNone, 0, "", "", 0},
      {{"--answer=close"}, kNone, 0, "", "", 0},
  };
  for (const auto &c : cases) {
    converse(c);
    if (HasFatalFailure()) return;
  }
}

// Each piece of a frame-driven split answer is asked for only once the one before it has been
// read, so the reader has to assemble it.
TEST(AsrConversation, AFrameDrivenSplitAnswerIsAssembled) {
  // The pacer counts the bytes received through TCP_INFO, of which the emulator gives 4 bytes.
  if (tobrel_test::underEmulator()) GTEST_SKIP() << "the emulator's TCP_INFO holds no byte count";
  converse({{"--split=frames", "--words=morceaux", "--score=5"}, kResponse, OK, "morceaux", "", 5});
}

TEST(AsrConversation, TheStandInNeverAnswersWhenToldNot) {
  AsrdProcess server({"--answer=never"});
  const int s = connectTo(server.port());
  AsrMsg audio;
  audio.set_audio(std::string(1024, '\x42'));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(0, sendAsrMsg(s, audio));
  struct timeval wait = {0, 300000};
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  EXPECT_EQ(0, select(s + 1, &readable, nullptr, nullptr, &wait));
  close(s);
  const std::string session = server.nextSession();
  EXPECT_EQ("5", sessionField(session, "frames")) << session;
  EXPECT_EQ("0", sessionField(session, "answered")) << session;
}

// ---- capture device ----

TEST(AudioDevice, TheDefaultIsTheOssDevice) {
  unsetenv("TOBREL_AUDIO_CAPTURE_FILE");
  unsetenv("TOBREL_VOICE_AUDIO_DEVICE");
  unsetenv("TOBREL_VOICE_CONF");
  setAudioDevice(nullptr);  // choose again from the environment
  EXPECT_STREQ("/dev/audio", voicePlatform().audio_device);
  EXPECT_STREQ("/usr/etc/conf/voice.conf", voicePlatform().conf_path);
  // Nothing of the test seam is in use: the real device is absent on this machine.
  EXPECT_EQ(-1, audioDevice().open(voicePlatform().audio_device));
}

TEST(AudioDevice, ACaptureFileIsDeliveredAtTheDevicesPace) {
  char path[] = "/tmp/asr-capture-XXXXXX";
  const int tmp = mkstemp(path);
  std::string bytes(2 * 2048 + 100, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(tmp, bytes.data(), bytes.size()));
  close(tmp);
  setenv("TOBREL_AUDIO_CAPTURE_FILE", path, 1);
  setAudioDevice(nullptr);  // choose again from the environment

  const AudioDevice &device = audioDevice();
  const gint64 start = g_get_monotonic_time();
  const int fd = device.open("/dev/audio");
  ASSERT_GE(fd, 0);
  int value = AFMT_MU_LAW;
  EXPECT_EQ(0, device.control(fd, SNDCTL_DSP_SETFMT, &value));
  EXPECT_EQ(AFMT_MU_LAW, value);
  std::string got(2048, '\0');
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(audioReadFull(fd, &got[0], got.size()));
    EXPECT_EQ(bytes.substr(2048 * i, 2048), got);
  }
  // 4096 bytes at 16000 a second take 256 ms.
  EXPECT_GE(g_get_monotonic_time() - start, 250000);
  // What is left is less than one buffer: the capture has ended.
  EXPECT_FALSE(audioReadFull(fd, &got[0], got.size()));
  device.close(fd);
  unlink(path);
}

TEST(AudioDevice, AReadGathersAWholeBufferFromPieces) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  bool firstReadAlone = false;
  std::thread writer([&] {
    const std::string a(1000, 'a'), b(1048, 'b');
    ASSERT_EQ(1000, write(fds[1], a.data(), a.size()));
    // The second piece only once the first was read: the reader must come back for it.
    firstReadAlone = eventually([&] { return unreadBytes(fds[0]) == 0; });
    ASSERT_EQ(1048, write(fds[1], b.data(), b.size()));
    close(fds[1]);
  });
  std::string got(2048, '\0');
  EXPECT_TRUE(audioReadFull(fds[0], &got[0], got.size()));
  EXPECT_EQ(std::string(1000, 'a') + std::string(1048, 'b'), got);
  writer.join();
  EXPECT_TRUE(firstReadAlone);
  EXPECT_FALSE(audioReadFull(fds[0], &got[0], 1));
  close(fds[0]);
}

TEST(AudioDevice, AnInterruptedReadIsResumed) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  // The read blocks on an empty pipe; a signal without SA_RESTART interrupts it before data come.
  // Only this thread takes the alarm, and the data wait for the third one.
  alarms = 0;
  interruptAfter(30000, 30000);
  std::thread writer([&] {
    ignoreAlarmInThisThread();
    ASSERT_TRUE(eventually([] { return alarms >= 3; }));
    const std::string data(2048, 'z');
    ASSERT_EQ(2048, write(fds[1], data.data(), data.size()));
  });
  std::string got(2048, '\0');
  EXPECT_TRUE(audioReadFull(fds[0], &got[0], got.size()));
  stopInterrupting();
  EXPECT_EQ(std::string(2048, 'z'), got);
  writer.join();
  close(fds[0]);
  close(fds[1]);
}

// ---- OSS set-up ----

struct ControlCall {
  unsigned long request;
  int value;
};
std::vector<ControlCall> controlCalls;
unsigned long failingRequest = 0;

int fakeControl(int, unsigned long request, int *value) {
  controlCalls.push_back({request, *value});
  if (request == failingRequest) {
    errno = EINVAL;
    return -1;
  }
  return 0;
}

TEST(AsrSetupDsp, SetsMuLawMono16kAndStopsAtTheFirstRefusal) {
  const AudioDevice fake = {nullptr, fakeControl, nullptr, nullptr};
  setAudioDevice(&fake);
  const struct {
    unsigned long failing;
    int result;
    size_t calls;
    const char *warning;
  } cases[] = {
      {0, 0, 4, nullptr},
      {SNDCTL_DSP_RESET, -1, 1, "Unable to reset OSS driver."},
      {SNDCTL_DSP_SETFMT, -2, 2, "Unable to set format"},
      {SNDCTL_DSP_STEREO, -3, 3, nullptr},
      {SNDCTL_DSP_SPEED, -4, 4, nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.result);
    controlCalls.clear();
    failingRequest = c.failing;
    LogCapture log;
    EXPECT_EQ(c.result, asrSetupDsp(7));
    ASSERT_EQ(c.calls, controlCalls.size());
    const ControlCall expected[] = {{SNDCTL_DSP_RESET, 0},
                                    {SNDCTL_DSP_SETFMT, AFMT_MU_LAW},
                                    {SNDCTL_DSP_STEREO, 0},
                                    {SNDCTL_DSP_SPEED, 16000}};
    for (size_t i = 0; i < c.calls; ++i) {
      EXPECT_EQ(expected[i].request, controlCalls[i].request);
      EXPECT_EQ(expected[i].value, controlCalls[i].value);
    }
    if (c.warning != nullptr) {
      EXPECT_TRUE(log.contains(c.warning));
    }
    if (c.result == 0) {
      EXPECT_TRUE(log.contains("speed=16000\n"));
    }
  }
  setAudioDevice(nullptr);
}

// ---- grammar text ----

TEST(AsrGrammarText, WrapsStringsUnlessHttpStartsThem) {
  const std::string abnfHead =
      "#ABNF 1.0 UTF-8;\r\nlanguage fr;\r\nmode voice;\r\ntag-format <semantics/1.0>;\r\n"
      "root $App;\r\npublic $App = ";
  const struct {
    const char *grammar;
    bool unchanged;
  } cases[] = {
      {"http://grammars/menu.grxml", true},
      {"123456http://x", true},  // "http" at positions 6 to 9: within the first 10 bytes
      {"1234567http://x", false},  // positions 7 to 10: not wholly within them
      {"builtin:http", false},
      {"htt", false},
      {"oui | non", false},
      {"", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.grammar);
    const std::string text = asrGrammarText(c.grammar, "fr");
    EXPECT_EQ(c.unchanged ? std::string(c.grammar) : abnfHead + c.grammar + ";\r\n", text);
  }
}

// ---- servers, connecting and waiting (the object's fields only; no signal involved) ----

// The recognition fields of a daemon object over a voice.conf text.
struct Servers {
  VoiceObject voice = {};
  explicit Servers(const std::string &conf) {
    voice.conf_file = g_key_file_new();
    EXPECT_TRUE(g_key_file_load_from_data(voice.conf_file, conf.data(), conf.size(),
                                          G_KEY_FILE_NONE, nullptr));
  }
  ~Servers() {
    if (voice.asr_socket != 0) close(voice.asr_socket);
    if (voice.asr_uid != nullptr) g_string_free(voice.asr_uid, TRUE);
    g_free(voice.asr_server);
    g_key_file_free(voice.conf_file);
  }
};

TEST(AsrServers, SetUpNeedsAServerUnderThePickedKey) {
  const struct {
    const char *conf;
    int result;
  } cases[] = {
      {"[asr]\nport=4000\nnbserver=2\nserver0=a\nserver1=b\n", 0},
      {"[asr]\nport=4000\nnbserver=1\nserver0=a\n", 0},
      {"[asr]\nport=4000\n", 3},
      {"[asr]\nport=4000\nnbserver=zwei\nserver0=a\n", 3},
      {"[asr]\nport=4000\nnbserver=0\nserver0=a\n", 3},
      // A negative count could never be connected to: refused like none.
      {"[asr]\nport=4000\nnbserver=-2\nserver0=a\nserver1=b\n", 3},
      {"[asr]\nport=4000\nnbserver=1\nserver1=a\n", 3},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.conf);
    Servers servers(c.conf);
    LogCapture log;
    EXPECT_EQ(c.result, asrInit(&servers.voice));
    EXPECT_EQ(0, servers.voice.asr_socket);
    ASSERT_NE(nullptr, servers.voice.asr_uid);
    EXPECT_EQ(c.result == 3, log.contains("no server in voice.conf found"));
    if (c.result == 0) {
      EXPECT_EQ(4000, servers.voice.asr_port);
      EXPECT_GE(servers.voice.asr_server_index, 0);
      EXPECT_LT(servers.voice.asr_server_index, servers.voice.nbserver);
    }
  }
}

TEST(AsrServers, ConnectTriesEachServerOnceInTurnAndSkipsAMissingKey) {
  AsrdProcess server({"--answer=never"});
  // server1 has no key: it counts as a failed look-up, and the turn goes on to server2.
  Servers servers("[asr]\nport=" + std::to_string(server.port()) +
                  "\nnbserver=4\nserver0=127.0.0.2\nserver2=127.0.0.1\nserver3=127.0.0.3\n");
  servers.voice.nbserver = 4;
  servers.voice.asr_port = server.port();
  servers.voice.asr_server_index = 3;
  servers.voice.asr_server = g_strdup("127.0.0.3");
  LogCapture log;
  ASSERT_EQ(0, asrConnect(&servers.voice));
  EXPECT_NE(0, servers.voice.asr_socket);
  EXPECT_EQ(2, servers.voice.asr_server_index);
  EXPECT_STREQ("127.0.0.1", servers.voice.asr_server);
  EXPECT_TRUE(log.contains("try connection 4/4"));
  EXPECT_FALSE(log.contains("try connection 5/4"));
  EXPECT_TRUE(log.contains("nslookup failed on ''"));
  EXPECT_EQ(2u, log.startingWith("connect failed on '127.0.0.").size());
  close(servers.voice.asr_socket);
  servers.voice.asr_socket = 0;

  // Every server down: each tried once, and the turn ends where it began.
  Servers down("[asr]\nnbserver=2\nserver0=127.0.0.2\nserver1=127.0.0.3\n");
  down.voice.nbserver = 2;
  down.voice.asr_port = server.port();
  down.voice.asr_server_index = 1;
  down.voice.asr_server = g_strdup("127.0.0.3");
  LogCapture downLog;
  EXPECT_EQ(-1, asrConnect(&down.voice));
  EXPECT_EQ(0, down.voice.asr_socket);
  EXPECT_EQ(1, down.voice.asr_server_index);
  EXPECT_TRUE(downLog.contains("try connection 3/2"));
}

TEST(AsrServers, AWaitInterruptedByASignalIsNotALostConnection) {
  if (tobrel_test::underEmulator())
    GTEST_SKIP() << "the emulator's select does not give back the time left when a signal interrupts it";
  SocketPair pair;
  Servers servers("[asr]\n");
  servers.voice.asr_socket = pair.ours;
  interruptAfter(500, 500);  // several times inside the 2 ms wait
  EXPECT_EQ(1, asrWaitSocket(&servers.voice));
  stopInterrupting();
  pair.write("x");
  EXPECT_EQ(0, asrWaitSocket(&servers.voice));
  servers.voice.asr_socket = 0;
}

}  // namespace
