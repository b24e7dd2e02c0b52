// The msgd program on loopback, driven through the test-support process wrapper and reached by
// plain socket clients: START answers, reply rules, unsolicited events, bad frames, options.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "frame_codec.h"
#include "msgd_process.h"
#include "nusk-message.pb.h"
#include "process.h"

namespace pb = net::zolvek::nusk::message;
using tobrel::test::MsgdProcess;
using Millis = std::chrono::milliseconds;

namespace {

// An app's side of the link, reduced to frames over a blocking socket.
class Client {
 public:
  explicit Client(int port) {
    fd_ = tobrel_test::connectLoopback(port);
  }
  ~Client() { close(); }
  bool connected() const { return fd_ >= 0; }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  void sendRaw(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void send(const pb::NuskMsg& msg) {
    std::string frame;
    ASSERT_TRUE(tobrel::frame::appendFrame(msg, &frame));
    sendRaw(frame);
  }

  // The next frame, or nothing within `timeout` (or at end of stream).
  std::optional<pb::NuskMsg> read(Millis timeout = Millis(3000)) {
    std::string payload;
    while (reader_.next(&payload) != tobrel::frame::Reader::Result::kFrame) {
      if (!fill(timeout)) return std::nullopt;
    }
    pb::NuskMsg m;
    EXPECT_EQ(tobrel::frame::parsePayload(payload.data(), payload.size(), &m),
              tobrel::frame::ParseResult::kOk);
    return m;
  }

  // True once the peer has closed the connection (within `timeout`).
  bool closedByPeer(Millis timeout = Millis(3000)) {
    while (!eof_)
      if (!fill(timeout) && !eof_) return false;
    return true;
  }

 private:
  bool fill(Millis timeout) {
    pollfd p{fd_, POLLIN, 0};
    if (eof_ || ::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      eof_ = true;
      return false;
    }
    reader_.feed(buf, static_cast<size_t>(n));
    return true;
  }

  int fd_ = -1;
  bool eof_ = false;
  tobrel::frame::Reader reader_;
};

pb::NuskMsg startRequest(const std::string& id, const std::string& interactiveId) {
  pb::NuskMsg m;
  m.set_id(id);
  m.mutable_interactivemode()->set_action(pb::InteractiveMode_Action_START);
  m.mutable_interactivemode()->set_interactiveid(interactiveId);
  return m;
}

pb::NuskMsg command(const std::string& id, const std::string& interactiveId) {
  pb::NuskMsg m;
  m.set_id(id);
  m.set_interactiveid(interactiveId);
  return m;
}

class MsgdTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(msgd.port(), 0) << msgd.startError(); }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& l : msgd.lines()) std::fprintf(stderr, "msgd| %s\n", l.c_str());
  }
  void ctl(const std::string& line) {
    std::string error;
    ASSERT_TRUE(msgd.control(line, &error)) << line << ": " << error;
  }
  // Connects and waits until msgd has taken the connection, so "last" names it.
  std::unique_ptr<Client> connect() {
    const size_t from = msgd.mark();
    auto c = std::make_unique<Client>(msgd.port());
    EXPECT_TRUE(c->connected());
    EXPECT_TRUE(msgd.waitForText(" open 127.0.0.1:", Millis(3000), from).has_value());
    return c;
  }

  MsgdProcess msgd;
};

}  // namespace

TEST_F(MsgdTest, GrantsStartAndAnswersCommandsByRule) {
  ctl("reply tts ERROR");
  ctl("follow tts TERMINATED spoken");
  ctl("reply ping silent");
  auto app = connect();

  app->send(startRequest("start-1", "I-1"));
  auto granted = app->read();
  ASSERT_TRUE(granted);
  EXPECT_EQ(granted->correlationid(), "start-1");
  EXPECT_EQ(granted->response().code(), pb::OK);

  pb::NuskMsg led = command("led-1", "I-1");
  led.mutable_led()->mutable_light()->set_color("#ff0000");
  app->send(led);
  auto ledReply = app->read();
  ASSERT_TRUE(ledReply);
  EXPECT_EQ(ledReply->correlationid(), "led-1");
  EXPECT_EQ(ledReply->response().code(), pb::OK);

  pb::NuskMsg ping = command("ping-1", "I-1");
  ping.mutable_ping();
  app->send(ping);
  pb::NuskMsg tts = command("tts-1", "I-1");
  tts.mutable_tts()->set_action(pb::Tts_Type_START);
  tts.mutable_tts()->set_text("bonjour à tous");
  app->send(tts);
  // The silent ping leaves the tts answers as the next frames.
  auto ttsReply = app->read();
  auto ttsEvent = app->read();
  ASSERT_TRUE(ttsReply && ttsEvent);
  EXPECT_EQ(ttsReply->correlationid(), "tts-1");
  EXPECT_EQ(ttsReply->response().code(), pb::ERROR);
  EXPECT_EQ(ttsEvent->correlationid(), "tts-1");
  EXPECT_EQ(ttsEvent->event().code(), pb::TERMINATED);
  EXPECT_EQ(ttsEvent->event().description(), "spoken");
  EXPECT_FALSE(app->read(Millis(200))) << "nothing more, in particular no ping reply";

  // The transcript holds every received frame, parseable back into the message.
  auto seen = msgd.waitForReceived([](const MsgdProcess::Received& r) { return r.msg.has_tts(); });
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->kind, "tts");
  EXPECT_EQ(seen->msg.tts().text(), "bonjour à tous");
  const auto all = msgd.received();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].kind, "interactiveMode.START");
  EXPECT_EQ(all[1].kind, "led.light");
  EXPECT_EQ(all[1].msg.led().light().color(), "#ff0000");
  EXPECT_EQ(all[2].kind, "ping");
  EXPECT_TRUE(msgd.waitForText("conn 1 sent event "));
}

TEST_F(MsgdTest, StartCanBeRefusedAnsweredWithoutCodeOrLeftUnanswered) {
  struct Case {
    const char* rule;
    bool hasResponse;
    bool hasCode;
    pb::VReturnCode code;
  } cases[] = {
      {"start refuse BUSY", true, true, pb::BUSY},
      {"start refuse", true, true, pb::ERROR},
      {"start nocode", true, false, pb::OK},
      {"start bare", false, false, pb::OK},
  };
  for (const Case& c : cases) {
    ctl(c.rule);
    auto app = connect();
    app->send(startRequest("s", "I"));
    auto reply = app->read();
    ASSERT_TRUE(reply) << c.rule;
    EXPECT_EQ(reply->correlationid(), "s") << c.rule;
    EXPECT_EQ(reply->has_response(), c.hasResponse) << c.rule;
    EXPECT_EQ(reply->response().has_code(), c.hasCode) << c.rule;
    if (c.hasCode) {
      EXPECT_EQ(reply->response().code(), c.code) << c.rule;
    }
  }

  ctl("start silent");
  auto app = connect();
  app->send(startRequest("late", "I-late"));
  EXPECT_FALSE(app->read(Millis(300)));
  ctl("grant last");
  auto reply = app->read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->correlationid(), "late");
  EXPECT_EQ(reply->response().code(), pb::OK);
}

TEST_F(MsgdTest, SendsUnsolicitedEventsAndStopToTheChosenConnection) {
  auto first = connect();
  auto second = connect();
  second->send(startRequest("s2", "I-2"));
  ASSERT_TRUE(second->read());

  ctl("button 1 LONG_START");
  ctl("serial all ttyS0 temperature 21.5");
  ctl("stop 2");

  auto button = first->read();
  ASSERT_TRUE(button);
  EXPECT_EQ(button->buttoncallback().type(), pb::ButtonCallback_Type_LONG_START);
  EXPECT_FALSE(button->has_correlationid());
  EXPECT_FALSE(button->has_interactivemode());
  for (Client* c : {first.get(), second.get()}) {
    auto line = c->read();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->serialcallback().readline().port(), "ttyS0");
    EXPECT_EQ(line->serialcallback().readline().data(), "temperature 21.5");
  }
  auto stop = second->read();
  ASSERT_TRUE(stop);
  EXPECT_EQ(stop->interactivemode().action(), pb::InteractiveMode_Action_STOP);
  EXPECT_EQ(stop->interactivemode().interactiveid(), "I-2");
  EXPECT_FALSE(first->read(Millis(200))) << "the button and STOP went to one connection only";
}

TEST_F(MsgdTest, BadInputClosesOnlyItsConnection) {
  struct Case {
    const char* name;
    std::string bytes;
    bool clientCloses;  // the client hangs up itself after sending
    const char* reason;
  } cases[] = {
      {"absurd length", std::string("\xff\xff\xff\xff", 4), false, "over the 16777216-byte limit"},
      {"just over the limit", std::string("\x01\x00\x00\x01", 4), false, "over the"},
      {"garbage payload", std::string("\x00\x00\x00\x03\xff\xff\xff", 7), false,
       "undecodable frame of 3 bytes"},
      {"cut in the length", std::string("\x00\x00", 2), true, "inside a frame (2 of 4 length"},
      {"cut in the payload", std::string("\x00\x00\x00\x10" "abc", 7), true,
       "inside a frame (3 of 16 payload"},
      {"clean hang-up", "", true, "closed by peer"},
  };
  auto good = connect();
  good->send(startRequest("g", "I-g"));
  ASSERT_TRUE(good->read());
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t from = msgd.mark();
    auto bad = connect();
    if (!c.bytes.empty()) bad->sendRaw(c.bytes);
    if (c.clientCloses) {
      bad->close();
    } else {
      EXPECT_TRUE(bad->closedByPeer());
    }
    EXPECT_TRUE(msgd.waitForLine(
        [&](const std::string& l) {
          return l.find(" closed ") != std::string::npos && l.find(c.reason) != std::string::npos;
        },
        Millis(3000), from));

    pb::NuskMsg ping = command("p" + std::to_string(++n), "I-g");
    ping.mutable_ping();
    good->send(ping);
    auto reply = good->read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->correlationid(), ping.id());
  }
}

TEST_F(MsgdTest, KeepsServingWhileNobodyWatchesItsTranscript) {
  // Far more output than a pipe holds: msgd must not stall on it while the test is busy.
  constexpr int kFrames = 3000;
  auto app = connect();
  for (int i = 0; i < kFrames; ++i) {
    pb::NuskMsg ping = command("ping-" + std::to_string(i), "I");
    ping.mutable_ping();
    app->send(ping);
  }
  for (int i = 0; i < kFrames; ++i) {
    auto reply = app->read();
    ASSERT_TRUE(reply) << "reply " << i;
    ASSERT_EQ(reply->correlationid(), "ping-" + std::to_string(i));
  }
  EXPECT_TRUE(msgd.waitForText("conn 1 sent response id: ")) << "transcript still read";
  EXPECT_TRUE(msgd.waitForText("correlationId: \"ping-" + std::to_string(kFrames - 1) + "\""));
}

TEST_F(MsgdTest, FrameWithoutRequiredIdIsRecordedWithAWarningAndNotAnswered) {
  auto app = connect();
  pb::NuskMsg noId;
  noId.set_interactiveid("I");
  noId.mutable_ping();
  std::string frame;
  ASSERT_TRUE(tobrel::frame::appendFrame(noId, &frame));
  app->sendRaw(frame);
  EXPECT_TRUE(msgd.waitForText("conn 1 warn frame lacks required fields: id"));
  EXPECT_TRUE(msgd.waitForText("conn 1 recv ping interactiveId: \"I\" ping {"));
  EXPECT_FALSE(app->read(Millis(200)));
}

TEST_F(MsgdTest, RejectsMalformedControlLinesAndGoesOn) {
  std::string error;
  EXPECT_FALSE(msgd.control("reply lamp OK", &error));
  EXPECT_NE(error.find("unknown kind 'lamp'"), std::string::npos) << error;
  EXPECT_FALSE(msgd.control("launch rockets", &error));
  EXPECT_NE(error.find("unknown command 'launch'"), std::string::npos) << error;
  ctl("attach tobrelinfo_query tobrelinfo_response { infos { key: \"serial\" value: \"0042\" } }");
  auto app = connect();
  pb::NuskMsg info = command("info-1", "I");
  info.mutable_tobrelinfo_query();
  app->send(info);
  auto reply = app->read();
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->tobrelinfo_response().infos_size(), 1);
  EXPECT_EQ(reply->tobrelinfo_response().infos(0).value(), "0042");
  ctl("list");
  EXPECT_TRUE(msgd.waitForText("conn 1 peer 127.0.0.1:"));
  EXPECT_EQ(msgd.stop(), 0);
}

namespace {
// Runs msgd with `args` and `input` as its standard input to its end; returns the exit status
// and its standard output and error.
int runMsgd(const std::string& args, std::string* output, const std::string& input = "") {
  char inputPath[] = "/tmp/msgdinputXXXXXX";
  const int fd = mkstemp(inputPath);
  if (fd < 0) return -1;
  const bool written = ::write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
  ::close(fd);
  const std::string cmd = tobrel_test::shellCommandFor(MsgdProcess::programPath()) + " " + args + " 2>&1 <'" +
                          inputPath + "'";
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  output->clear();
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
  const int status = pclose(p);
  std::remove(inputPath);
  return written && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST(MsgdCommandLine, HelpAndBadArguments) {
  struct Case {
    const char* args;
    int status;
    const char* outputPart;
  } cases[] = {
      {"--help", 0, "Usage: msgd"},
      {"-h", 0, "start refuse [CODE]"},
      {"--bogus", 2, "unknown argument '--bogus'"},
      {"--port", 2, "--port needs a value"},
      {"--port 70000", 2, "bad port '70000'"},
      {"--port=abc", 2, "bad port 'abc'"},
      {"--host 10.1.2.3", 1, "only loopback addresses"},
      {"--host nowhere", 1, "not an IPv4 address"},
      {"-e 'reply lamp OK'", 2, "error: unknown kind 'lamp'"},
      {"--transcript /nonexistent/dir/t.log", 2, "cannot open transcript"},
      {"--help", 0, "later KIND data"},
      {"--data /nonexistent/data.txt", 2, "cannot read the data file /nonexistent/data.txt"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(runMsgd(c.args, &out), c.status) << c.args << "\n" << out;
    EXPECT_NE(out.find(c.outputPart), std::string::npos) << c.args << "\n" << out;
  }
}

TEST(MsgdCommandLine, ALastControlLineWithoutNewlineIsStillRun) {
  std::string out;
  EXPECT_EQ(runMsgd("--port 0", &out, "reply ping BUSY\nreply lamp OK"), 0);
  EXPECT_NE(out.find("ok: reply ping BUSY\n"), std::string::npos) << out;
  EXPECT_NE(out.find("error: unknown kind 'lamp'"), std::string::npos) << out;
}

TEST(MsgdCommandLine, ExecLinesApplyAndTheTranscriptFileGetsEveryLine) {
  char dir[] = "/tmp/msgdtestXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/transcript.log";
  {
    MsgdProcess msgd({"--exec", "reply ping BUSY", "--transcript", path});
    ASSERT_NE(msgd.port(), 0) << msgd.startError();
    Client app(msgd.port());
    pb::NuskMsg ping = command("p", "I");
    ping.mutable_ping();
    app.send(ping);
    auto reply = app.read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->response().code(), pb::BUSY);
    EXPECT_EQ(msgd.stop(), 0);
    std::ifstream in(path);
    std::vector<std::string> fileLines;
    for (std::string l; std::getline(in, l);) fileLines.push_back(l);
    EXPECT_EQ(fileLines, msgd.lines());
    ASSERT_GE(fileLines.size(), 4u);
    EXPECT_EQ(fileLines[0], "ok: reply ping BUSY");
  }
  std::remove(path.c_str());
  rmdir(dir);
}
