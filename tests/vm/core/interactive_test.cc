// tobrel.start and tobrel.stop in an app context, with the test playing the daemon on a
// socket pair: what is sent, what each kind of answer does, and the arguments refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "callback_registry.h"
#include "nusk-message.pb.h"
#include "script_env.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::InteractiveMode;
using net::zolvek::nusk::message::NuskMsg;
using tobrel_test::readFrame;
using tobrel_test::replyTo;
using tobrel_test::ScriptEnv;
using tobrel_test::writeFrame;

namespace {

class Interactive : public ::testing::Test {
 protected:
  void SetUp() override { daemon = env.attachPeer(); }
  void answer(const NuskMsg& msg) {
    writeFrame(daemon, msg);
    env.pollOnce();
  }
  // Runs `call` and returns the START it sent.
  NuskMsg start(const std::string& call) {
    EXPECT_EQ(env.run(call), "undefined");
    NuskMsg sent = readFrame(daemon);
    EXPECT_EQ(sent.interactivemode().action(), InteractiveMode::START);
    EXPECT_FALSE(sent.has_interactiveid()) << "a START carries its id only in interactiveMode";
    return sent;
  }
  ScriptEnv env;
  int daemon = -1;
};

}  // namespace

TEST_F(Interactive, AGrantedStartSetsTheIdAndCallsTheFunctionWithNoArgument) {
  NuskMsg sent = start("tobrel.start(function() { log('granted ' + arguments.length); })");
  const std::string id = sent.interactivemode().interactiveid();
  EXPECT_THAT(id, ::testing::MatchesRegex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"));
  EXPECT_NE(id, sent.id());
  EXPECT_EQ(env.app().interactiveId, nullptr);
  answer(replyTo(sent.id(), net::zolvek::nusk::message::OK));
  ASSERT_NE(env.app().interactiveId, nullptr);
  EXPECT_EQ(env.app().interactiveId, id);
  EXPECT_TRUE(env.logged("JSLOG: granted 0"));
  EXPECT_TRUE(env.logged("clean InteractiveData"));
}

TEST_F(Interactive, TheOptionsObjectIsHandedBackItself) {
  env.run("var opts = {a: 1}; var got;");
  NuskMsg sent = start("tobrel.start(function(o) { got = o; }, opts)");
  answer(replyTo(sent.id(), net::zolvek::nusk::message::OK));
  EXPECT_EQ(env.run("got === opts"), "true");
}

TEST_F(Interactive, TheDeprecatedFormSendsTheGivenId) {
  NuskMsg sent = start("tobrel.start(function() {}, {}, 'abc')");
  EXPECT_TRUE(env.logged("DEPRECATED Use SetInteractive"));
  EXPECT_EQ(sent.interactivemode().interactiveid(), "abc");
  answer(replyTo(sent.id(), net::zolvek::nusk::message::OK));
  EXPECT_STREQ(env.app().interactiveId, "abc");
}

TEST_F(Interactive, ARefusedStartEndsTheAppWithStatusOne) {
  NuskMsg sent = start("tobrel.start(function() { log('called'); })");
  answer(replyTo(sent.id(), net::zolvek::nusk::message::BAD_INTERACTIVEID));
  EXPECT_TRUE(env.logged("Interactive mode is not valid: EXIT !"));
  EXPECT_TRUE(env.app().quitRequested);
  EXPECT_EQ(env.app().exitStatus, 1);
  EXPECT_EQ(env.app().interactiveId, nullptr);
  EXPECT_FALSE(env.logged("JSLOG: called"));
}

// The refusal ends the app before the poller's listener step: no listener hears the message
// that refused, whatever else it carries.
TEST_F(Interactive, ARefusedStartReachesNoListener) {
  struct Counter : NuskMsgListener {
    explicit Counter(int* calls) : calls(calls) {}
    bool onMessage(const NuskMsg&) override {
      ++*calls;
      return true;
    }
    int* calls;
  };
  int calls = 0;
  env.app().addListener(new Counter(&calls));
  NuskMsg sent = start("tobrel.start(function() {})");
  NuskMsg refusal = replyTo(sent.id(), net::zolvek::nusk::message::ERROR);
  refusal.mutable_buttoncallback()->set_type(net::zolvek::nusk::message::ButtonCallback::SIMPLE);
  answer(refusal);
  EXPECT_EQ(env.app().exitStatus, 1);
  EXPECT_EQ(calls, 0);
}

TEST_F(Interactive, AnAnswerWithoutACodeGrantsNothingAndReleasesTheRequest) {
  for (int code : {0, -1}) {  // a response without a code; no response at all
    SCOPED_TRACE(code);
    env.clearLogs();
    NuskMsg sent = start("tobrel.start(function() { log('called'); })");
    answer(replyTo(sent.id(), code));
    EXPECT_EQ(env.app().interactiveId, nullptr);
    EXPECT_FALSE(env.app().quitRequested);
    EXPECT_FALSE(env.logged("JSLOG: called"));
    EXPECT_TRUE(env.logged("clean InteractiveData"));
    EXPECT_EQ(callbackCount(), 0u);
  }
}

// The START's record is gone after its first answer: a second answer must find nothing
// instead of reaching freed data.
TEST_F(Interactive, ASecondAnswerToAStartFindsNoCorrelation) {
  NuskMsg sent = start("tobrel.start(function() { log('called'); })");
  answer(replyTo(sent.id(), net::zolvek::nusk::message::OK));
  env.clearLogs();
  answer(replyTo(sent.id(), net::zolvek::nusk::message::OK));
  EXPECT_TRUE(env.logged("NO CORRELATION FOUND"));
  EXPECT_FALSE(env.logged("JSLOG: called"));
}

TEST_F(Interactive, EachGrantedStartReplacesTheIdAndCallsItsOwnFunction) {
  NuskMsg first = start("tobrel.start(function() { log('first'); })");
  NuskMsg second = start("tobrel.start(function() { log('second'); })");
  answer(replyTo(second.id(), net::zolvek::nusk::message::OK));
  EXPECT_EQ(env.app().interactiveId, second.interactivemode().interactiveid());
  answer(replyTo(first.id(), net::zolvek::nusk::message::OK));
  EXPECT_EQ(env.app().interactiveId, first.interactivemode().interactiveid());
  EXPECT_EQ(env.countLogged("JSLOG: first"), 1);
  EXPECT_EQ(env.countLogged("JSLOG: second"), 1);
}

TEST_F(Interactive, StopSendsAStopUnderTheIdAndKeepsIt) {
  NuskMsg sent = start("tobrel.start(function() {})");
  answer(replyTo(sent.id(), net::zolvek::nusk::message::OK));
  const std::string id = env.app().interactiveId;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(env.run("tobrel.stop()"), "undefined");
    NuskMsg stop = readFrame(daemon);
    EXPECT_EQ(stop.interactiveid(), id);
    EXPECT_EQ(stop.interactivemode().action(), InteractiveMode::STOP);
    EXPECT_EQ(stop.id().size(), 36u);
    EXPECT_EQ(env.app().interactiveId, id);
  }
  EXPECT_EQ(env.run("tobrel.stop(1)"), "threw: Wrong arguments");
}

TEST(InteractiveArguments, BadCallsAreRefusedBeforeTheConnectionIsLookedAt) {
  ScriptEnv env;  // not connected
  struct Case {
    const char* call;
    const char* result;
  };
  const std::vector<Case> cases = {
      {"tobrel.start()", "threw: Wrong arguments"},
      {"tobrel.start(1)", "threw: Wrong arguments"},
      {"tobrel.start(function() {}, 2)", "threw: Wrong arguments"},
      {"tobrel.start(function() {}, 'x', 'id')", "threw: Wrong arguments"},
      {"tobrel.start(function() {}, {}, 'id', 4)", "threw: Wrong arguments"},
      {"tobrel.start(function() {})", "threw: Connect first"},
      {"tobrel.start(function() {}, {})", "threw: Connect first"},
      {"tobrel.stop()", "threw: Must be in interactive mode"},
      {"tobrel.stop('x')", "threw: Wrong arguments"},
  };
  for (const Case& c : cases) EXPECT_EQ(env.run(c.call), c.result) << c.call;
  EXPECT_EQ(callbackCount(), 0u);
}
