// Control lines of the stand-in against a fake set of connections: rejected lines, the event
// commands, connection targets, STOP, late grants and rule changes.
#include <gtest/gtest.h>

#include <map>

#include "control.h"

using namespace msgd;

namespace {

class FakeLinks : public Links {
 public:
  std::vector<int> open() const override {
    std::vector<int> v;
    for (const auto& [n, s] : states) v.push_back(n);
    return v;
  }
  LinkState* state(int conn) override {
    auto it = states.find(conn);
    return it == states.end() ? nullptr : &it->second;
  }
  void send(int conn, const pb::NuskMsg& msg) override { sent.push_back({conn, msg}); }
  void close(int conn, const std::string&) override { states.erase(conn); }
  std::string describe(int conn) const override { return "conn " + std::to_string(conn); }
  void quit() override { quitCalled = true; }

  std::map<int, LinkState> states;
  std::vector<std::pair<int, pb::NuskMsg>> sent;
  bool quitCalled = false;
};

class ControlTest : public testing::Test {
 protected:
  ControlTest() : control(responder, links) {
    links.states[2].grantedId = "G2";
    links.states[5];
  }
  Control::Result run(const std::string& line) { return control.run(line); }

  Responder responder;
  FakeLinks links;
  Control control;
};

}  // namespace

TEST_F(ControlTest, RejectsMalformedLinesWithAReason) {
  struct Case {
    const char* line;
    const char* errorPart;
  } cases[] = {
      {"frobnicate 1", "unknown command 'frobnicate'"},
      {"start", "usage: start"},
      {"start maybe", "usage: start"},
      {"start refuse OK", "other than OK"},
      {"start refuse NOPE", "unknown result code 'NOPE'"},
      {"start grant now", "usage: start"},
      {"reply led", "usage: reply"},
      {"reply led OK extra", "usage: reply"},
      {"reply lamp OK", "unknown kind 'lamp'"},
      {"reply interactiveMode OK", "start command"},
      {"reply led MAYBE", "unknown result code"},
      {"follow tts", "usage: follow"},
      {"follow tts SOON", "unknown result code"},
      {"attach tobrelinfo_query", "usage: attach"},
      {"attach tobrelinfo_query tobrelinfo_response {", "cannot read the message text"},
      {"attach tobrelinfo_query nosuchfield: 1", "cannot read the message text"},
      {"later asr", "usage: later"},
      {"later asr asrCallback {", "cannot read the message text"},
      {"later tobrelMessageQuery.ARCHIVE data", "has no action 'ARCHIVE'"},
      {"button 2", "missing type"},
      {"button 2 SQUEEZE", "unknown type 'SQUEEZE'"},
      {"button 2 SIMPLE DOUBLE", "too many arguments"},
      {"button 9 SIMPLE", "connection 9 is not open"},
      {"button first SIMPLE", "bad connection 'first'"},
      {"button -1 SIMPLE", "bad connection"},
      {"ears 2 START_LEFT many", "step must be a 32-bit integer"},
      {"ears 2 START_LEFT 99999999999", "step must be a 32-bit integer"},
      {"t2t 2 INCOMING", "missing correspondant"},
      {"serial 2 ttyS0", "missing data"},
      {"send 2 led { light { colour: \"x\" } }", "cannot read the message text"},
      {"send", "usage: send"},
      {"stop", "usage: stop"},
      {"grant 5 silent", "unknown result code"},
      {"grant 2", "no unanswered START"},
      {"close", "usage: close"},
      {"reset now", "no argument"},
  };
  for (const Case& c : cases) {
    const Control::Result r = run(c.line);
    EXPECT_FALSE(r.ok) << c.line;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.line << " -> " << r.error;
  }
  EXPECT_TRUE(links.sent.empty());
  EXPECT_EQ(links.states.size(), 2u);
}

TEST_F(ControlTest, IgnoresBlankAndCommentLines) {
  for (const char* line : {"", "   ", "# a note", "\r"}) EXPECT_TRUE(run(line).ok) << line;
  EXPECT_TRUE(links.sent.empty());
}

TEST_F(ControlTest, EventCommandsBuildUnsolicitedEvents) {
  struct Case {
    const char* line;
    const char* expected;  // the sent message without its id
  } cases[] = {
      {"button 2 long_start", "buttonCallback { type: LONG_START }"},
      {"ears 2 BLOCKED_RIGHT 3 -4", "earsCallback { type: BLOCKED_RIGHT step: 3 length: -4 }"},
      {"rfid 2 d0021a03", "rfidCallback { id: \"d0021a03\" }"},
      {"rfid 2 d0021a03 OUT LAMINA BROWN",
       "rfidCallback { id: \"d0021a03\" direction: OUT type: LAMINA color: BROWN }"},
      {"multimedia 2 MUSIC_UPDATE", "multimediaCallback { action: MUSIC_UPDATE }"},
      {"t2t 2 INCOMING sip:bob@example.org",
       "t2tCallback { type: INCOMING correspondant: \"sip:bob@example.org\" }"},
      {"serial 2 ttyS0 hello  serial world",
       "serialCallback { readline { port: \"ttyS0\" data: \"hello  serial world\" } }"},
  };
  for (const Case& c : cases) {
    links.sent.clear();
    ASSERT_TRUE(run(c.line).ok) << c.line << ": " << run(c.line).error;
    ASSERT_EQ(links.sent.size(), 1u) << c.line;
    pb::NuskMsg m = links.sent[0].second;
    EXPECT_EQ(links.sent[0].first, 2);
    EXPECT_EQ(m.id().size(), 36u);
    EXPECT_FALSE(m.has_correlationid());
    EXPECT_FALSE(m.has_interactivemode());
    m.clear_id();
    EXPECT_EQ(oneLine(m), c.expected) << c.line;
  }
}

TEST_F(ControlTest, TargetsOneTheNewestOrEveryConnection) {
  ASSERT_TRUE(run("button last SIMPLE").ok);
  ASSERT_TRUE(run("button all DOUBLE").ok);
  ASSERT_TRUE(run("button 2 TRIPLE").ok);
  ASSERT_EQ(links.sent.size(), 4u);
  EXPECT_EQ(links.sent[0].first, 5);
  EXPECT_EQ(links.sent[1].first, 2);
  EXPECT_EQ(links.sent[2].first, 5);
  EXPECT_NE(links.sent[1].second.id(), links.sent[2].second.id()) << "each copy its own id";
  EXPECT_EQ(links.sent[3].first, 2);

  links.states.clear();
  EXPECT_EQ(run("button all SIMPLE").error, "no connection is open");
  EXPECT_EQ(run("stop last").error, "no connection is open");
}

TEST_F(ControlTest, StopCarriesTheGrantedInteractiveId) {
  ASSERT_TRUE(run("stop all").ok);
  ASSERT_EQ(links.sent.size(), 2u);
  const pb::NuskMsg& to2 = links.sent[0].second;
  EXPECT_EQ(to2.interactivemode().action(), pb::InteractiveMode_Action_STOP);
  EXPECT_EQ(to2.interactivemode().interactiveid(), "G2");
  EXPECT_FALSE(links.sent[1].second.interactivemode().has_interactiveid()) << "never granted";
}

TEST_F(ControlTest, SendAddsAnIdOnlyWhenMissing) {
  ASSERT_TRUE(run(R"(send 2 correlationId: "req" event { code: TERMINATED })").ok);
  ASSERT_TRUE(run(R"(send 2 id: "mine" buttonCallback { })").ok) << "partial messages allowed";
  ASSERT_EQ(links.sent.size(), 2u);
  EXPECT_EQ(links.sent[0].second.id().size(), 36u);
  EXPECT_EQ(links.sent[0].second.correlationid(), "req");
  EXPECT_EQ(links.sent[1].second.id(), "mine");
}

TEST_F(ControlTest, GrantAnswersAPendingStart) {
  ASSERT_TRUE(run("start silent").ok);
  LinkState* s = links.state(5);
  pb::NuskMsg start;
  start.set_id("s5");
  start.mutable_interactivemode()->set_action(pb::InteractiveMode_Action_START);
  start.mutable_interactivemode()->set_interactiveid("I5");
  EXPECT_TRUE(responder.answer(start, s).empty());
  ASSERT_TRUE(run("grant 5").ok);
  ASSERT_EQ(links.sent.size(), 1u);
  EXPECT_EQ(links.sent[0].second.correlationid(), "s5");
  EXPECT_EQ(links.sent[0].second.response().code(), pb::OK);
  EXPECT_EQ(s->grantedId, "I5");
}

TEST_F(ControlTest, RuleCommandsChangeAnswersAndResetRestoresDefaults) {
  pb::NuskMsg led;
  led.set_id("l");
  led.set_interactiveid("I");
  led.mutable_led()->mutable_light()->set_color("red");
  LinkState s;

  ASSERT_TRUE(run("reply led.light error").ok);
  ASSERT_TRUE(run("follow led TERMINATED the light went out").ok);
  auto out = responder.answer(led, &s);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].response().code(), pb::ERROR);
  EXPECT_EQ(out[1].event().description(), "the light went out");

  ASSERT_TRUE(run("reply led.light default").ok);
  ASSERT_TRUE(run("follow led none").ok);
  out = responder.answer(led, &s);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].response().code(), pb::OK);

  ASSERT_TRUE(run(R"(attach led id: "x" correlationId: "y" pendingmessage: true)").ok);
  out = responder.answer(led, &s);
  EXPECT_EQ(out[0].correlationid(), "l") << "attached header fields are dropped";
  EXPECT_TRUE(out[0].pendingmessage());

  ASSERT_TRUE(run("start refuse BUSY").ok);
  ASSERT_TRUE(run("reply * silent").ok);
  ASSERT_TRUE(run("reset").ok);
  EXPECT_EQ(responder.startAnswer().code, pb::OK);
  out = responder.answer(led, &s);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FALSE(out[0].pendingmessage());
}

TEST_F(ControlTest, ListHelpAndQuit) {
  Control::Result r = run("list");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"conn 2", "conn 5"}));
  r = run("help");
  ASSERT_TRUE(r.ok);
  EXPECT_GT(r.lines.size(), 10u);
  EXPECT_TRUE(run("quit").ok);
  EXPECT_TRUE(links.quitCalled);
}

TEST_F(ControlTest, LaterLinesAddMessagesInOrderAndNoneClearsThem) {
  pb::NuskMsg query;
  query.set_id("q");
  query.set_interactiveid("I");
  query.mutable_tobrelmessagequery()->set_action(pb::TobrelMessageQuery::LIST);
  LinkState s;
  ASSERT_TRUE(run(R"(later tobrelMessageQuery.LIST id: "x" correlationId: "y" pendingmessage: true)").ok);
  ASSERT_TRUE(run("later tobrelMessageQuery response { code: BUSY }").ok);
  auto out = responder.answer(query, &s);
  ASSERT_EQ(out.size(), 2u) << "the most specific kind's later messages only";
  EXPECT_TRUE(out[1].pendingmessage());
  EXPECT_EQ(out[1].correlationid(), "q") << "the later message's header is the stand-in's";

  ASSERT_TRUE(run("later tobrelMessageQuery.LIST none").ok);
  out = responder.answer(query, &s);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].response().code(), pb::BUSY);
}
