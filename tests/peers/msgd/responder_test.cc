// The stand-in's answers, without sockets: kinds of messages, START answers, per-kind rules
// and their precedence, follow-up events and attached query results.
#include <gtest/gtest.h>

#include <google/protobuf/text_format.h>

#include "responder.h"

using namespace msgd;

namespace {

pb::NuskMsg parse(const std::string& text) {
  pb::NuskMsg m;
  google::protobuf::TextFormat::Parser parser;
  parser.AllowPartialMessage(true);
  EXPECT_TRUE(parser.ParseFromString(text, &m)) << text;
  return m;
}

const char kStart[] = R"(id: "s1" interactiveMode { action: START interactiveId: "I" })";

}  // namespace

TEST(MsgdKind, NamesTheFirstSubMessageAndItsFirstMessageField) {
  struct Case {
    const char* text;
    const char* kind;
  } cases[] = {
      {R"(id: "a" interactiveId: "I" led { light { color: "red" } })", "led.light"},
      {R"(id: "a" multimedia { play { url: "u" } })", "multimedia.play"},
      {R"(id: "a" multimedia { songlist: "s" getsong { } })", "multimedia.getsong"},
      {R"(id: "a" ears { left: 1 right: 2 })", "ears"},
      {R"(id: "a" ping { })", "ping"},
      {R"(id: "a" tobrelinfo_query { })", "tobrelinfo_query"},
      {R"(id: "a" dock { move { cmd: UP } })", "dock.move"},
      {R"(id: "a" pendingmessage: true)", "pendingmessage"},
      {kStart, "interactiveMode.START"},
      {R"(id: "a" tobrelMessageQuery { action: NEW message { header { to { uuid: "u" } } } })",
       "tobrelMessageQuery.NEW"},
      {R"(id: "a" tobrelMessageQuery { action: DELETE id: "m1" })", "tobrelMessageQuery.DELETE"},
      {R"(id: "a" tobrelMessageQuery { id: "m1" })", "tobrelMessageQuery"},
      {R"(id: "a" interactiveMode { interactiveId: "I" })", "interactiveMode"},
      {R"(id: "a" correlationId: "b" interactiveId: "I")", "-"},
  };
  for (const Case& c : cases) EXPECT_EQ(kindOf(parse(c.text)), c.kind) << c.text;
}

TEST(MsgdKind, ChecksRuleKinds) {
  for (const char* ok : {"*", "led", "led.light", "multimedia.play", "tobrelinfo_query", "ping",
                         "tobrelMessageQuery", "tobrelMessageQuery.LIST", "tobrelMessageQuery.READ"})
    EXPECT_EQ(checkKind(ok), "") << ok;
  for (const char* bad : {"", "foo", "id", "correlationId", "led.colour", "ears.left",
                          "interactiveMode", "led.light.color", "tobrelMessageQuery.message",
                          "tobrelMessageQuery.list", "tobrelMessageQuery.ARCHIVE"})
    EXPECT_NE(checkKind(bad), "") << bad;
}

TEST(MsgdKind, ParsesResultCodes) {
  EXPECT_EQ(parseCode("OK"), pb::OK);
  EXPECT_EQ(parseCode("terminated"), pb::TERMINATED);
  EXPECT_EQ(parseCode("7"), pb::BAD_INTERACTIVEID);
  for (const char* bad : {"", "0", "10", "OKAY", "-1", "99999999999", "\xc3\xa9"})
    EXPECT_FALSE(parseCode(bad).has_value()) << bad;
}

TEST(MsgdStart, AnswersByTheStartRule) {
  struct Case {
    Answer answer;
    bool replies;
    bool hasResponse;
    bool hasCode;
    pb::VReturnCode code;
    bool granted;
  } cases[] = {
      {{Answer::Kind::kCode, pb::OK}, true, true, true, pb::OK, true},
      {{Answer::Kind::kCode, pb::BUSY}, true, true, true, pb::BUSY, false},
      {{Answer::Kind::kNoCode, pb::OK}, true, true, false, pb::OK, false},
      {{Answer::Kind::kBare, pb::OK}, true, false, false, pb::OK, false},
      {{Answer::Kind::kSilent, pb::OK}, false, false, false, pb::OK, false},
  };
  for (const Case& c : cases) {
    Responder r;
    r.setStartAnswer(c.answer);
    LinkState link;
    const auto out = r.answer(parse(kStart), &link);
    SCOPED_TRACE(static_cast<int>(c.answer.kind));
    ASSERT_EQ(out.size(), c.replies ? 1u : 0u);
    EXPECT_EQ(link.grantedId, c.granted ? "I" : "");
    EXPECT_EQ(link.pendingStartId, c.replies ? "" : "s1");
    if (!c.replies) continue;
    const pb::NuskMsg& reply = out[0];
    EXPECT_EQ(reply.correlationid(), "s1");
    EXPECT_EQ(reply.id().size(), 36u);
    EXPECT_FALSE(reply.has_interactiveid());
    EXPECT_FALSE(reply.has_interactivemode());
    EXPECT_EQ(reply.has_response(), c.hasResponse);
    EXPECT_EQ(reply.response().has_code(), c.hasCode);
    if (c.hasCode) {
      EXPECT_EQ(reply.response().code(), c.code);
    }
  }
}

TEST(MsgdStart, ASilentStartCanBeGrantedLater) {
  Responder r;
  r.setStartAnswer({Answer::Kind::kSilent, pb::OK});
  LinkState link;
  EXPECT_TRUE(r.answer(parse(kStart), &link).empty());
  auto reply = r.answerPendingStart({Answer::Kind::kCode, pb::OK}, &link);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->correlationid(), "s1");
  EXPECT_EQ(reply->response().code(), pb::OK);
  EXPECT_EQ(link.grantedId, "I");
  EXPECT_FALSE(r.answerPendingStart({Answer::Kind::kCode, pb::OK}, &link).has_value());
}

TEST(MsgdStart, TwoStartsGrantTheLatest) {
  Responder r;
  LinkState link;
  r.answer(parse(kStart), &link);
  r.answer(parse(R"(id: "s2" interactiveMode { action: START interactiveId: "J" })"), &link);
  EXPECT_EQ(link.grantedId, "J");
}

TEST(MsgdReply, DefaultsAnswerCommandsOnlyWhenTheyCarryAnInteractiveId) {
  Responder r;
  LinkState link;
  const auto out = r.answer(parse(R"(id: "c1" interactiveId: "I" ping { })"), &link);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].correlationid(), "c1");
  EXPECT_EQ(out[0].response().code(), pb::OK);
  EXPECT_FALSE(out[0].has_event());

  EXPECT_TRUE(r.answer(parse(R"(id: "q" socialQuery { })"), &link).empty());
  EXPECT_TRUE(r.answer(parse(R"(interactiveId: "I" ping { })"), &link).empty()) << "no id";
  EXPECT_TRUE(
      r.answer(parse(R"(id: "x" interactiveId: "I" interactiveMode { action: STOP })"), &link)
          .empty());
}

TEST(MsgdReply, MostSpecificRuleWins) {
  Responder r;
  r.rule("*").answer = Answer{Answer::Kind::kCode, pb::TIMEOUT};
  r.rule("multimedia").answer = Answer{Answer::Kind::kCode, pb::BUSY};
  r.rule("multimedia.play").answer = Answer{Answer::Kind::kSilent, pb::OK};
  r.rule("socialQuery").answer = Answer{Answer::Kind::kBare, pb::OK};
  LinkState link;
  struct Case {
    const char* text;
    int replies;
    bool hasResponse;
    pb::VReturnCode code;
  } cases[] = {
      {R"(id: "a" interactiveId: "I" multimedia { play { url: "u" } })", 0, false, pb::OK},
      {R"(id: "a" interactiveId: "I" multimedia { pause { } })", 1, true, pb::BUSY},
      {R"(id: "a" interactiveId: "I" led { fade { color: "c" period: 1 } })", 1, true, pb::TIMEOUT},
      {R"(id: "a" socialQuery { })", 1, false, pb::OK},
  };
  for (const Case& c : cases) {
    const auto out = r.answer(parse(c.text), &link);
    ASSERT_EQ(out.size(), static_cast<size_t>(c.replies)) << c.text;
    if (!c.replies) continue;
    EXPECT_EQ(out[0].has_response(), c.hasResponse) << c.text;
    if (c.hasResponse) {
      EXPECT_EQ(out[0].response().code(), c.code) << c.text;
    }
  }
}

TEST(MsgdReply, FollowsWithAnEventAndAttachesQueryResults) {
  Responder r;
  pb::Event ev;
  ev.set_code(pb::TERMINATED);
  ev.set_description("spoken");
  r.rule("tts").follow = ev;
  r.rule("tobrelinfo_query").attach =
      parse(R"(tobrelinfo_response { infos { key: "serial" value: "0042" } })");
  LinkState link;

  auto out = r.answer(parse(R"(id: "t" interactiveId: "I" tts { action: START text: "hi" })"), &link);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].response().code(), pb::OK);
  EXPECT_EQ(out[1].correlationid(), "t");
  EXPECT_FALSE(out[1].has_response());
  EXPECT_EQ(out[1].event().code(), pb::TERMINATED);
  EXPECT_EQ(out[1].event().description(), "spoken");
  EXPECT_NE(out[0].id(), out[1].id());

  out = r.answer(parse(R"(id: "q" interactiveId: "I" tobrelinfo_query { })"), &link);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].correlationid(), "q");
  EXPECT_EQ(out[0].response().code(), pb::OK);
  ASSERT_EQ(out[0].tobrelinfo_response().infos_size(), 1);
  EXPECT_EQ(out[0].tobrelinfo_response().infos(0).value(), "0042");

  // The social set-up carries no interactive id: it is answered once it has a result.
  EXPECT_TRUE(r.answer(parse(R"(id: "so" socialQuery { })"), &link).empty());
  r.rule("socialQuery").attach = parse(R"(social { facebookToken: "fb" })");
  out = r.answer(parse(R"(id: "so" socialQuery { })"), &link);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].correlationid(), "so");
  EXPECT_EQ(out[0].social().facebooktoken(), "fb");

  r.reset();
  out = r.answer(parse(R"(id: "t" interactiveId: "I" tts { action: STOP })"), &link);
  EXPECT_EQ(out.size(), 1u);
}

// "later" messages go out on their own after the reply and its event, one per line, in order,
// each naming the request; a silent reply leaves only them.
TEST(MsgdReply, SendsLaterResultsAfterTheReply) {
  Responder r;
  pb::Event ev;
  ev.set_code(pb::TERMINATED);
  r.rule("asr").follow = ev;
  r.rule("asr").later.push_back({false, parse(R"(asrCallback { recognition { text: "one" confident: 1 } })")});
  r.rule("asr").later.push_back({false, parse(R"(asrCallback { recognition { text: "two" confident: 2 } })")});
  LinkState link;
  const pb::NuskMsg request = parse(R"(id: "r" interactiveId: "I" asr { dictionary: "oui" })");

  auto out = r.answer(request, &link);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].response().code(), pb::OK);
  EXPECT_FALSE(out[0].has_asrcallback());
  EXPECT_TRUE(out[1].has_event());
  EXPECT_EQ(out[2].asrcallback().recognition(0).text(), "one");
  EXPECT_EQ(out[3].asrcallback().recognition(0).text(), "two");
  for (const pb::NuskMsg& m : out) {
    EXPECT_EQ(m.correlationid(), "r");
    EXPECT_EQ(m.id().size(), 36u);
  }
  EXPECT_FALSE(out[2].has_response());

  r.rule("asr").answer = Answer{Answer::Kind::kSilent, pb::OK};
  out = r.answer(request, &link);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].asrcallback().recognition(0).text(), "one");

  r.rule("asr").later.clear();
  EXPECT_TRUE(r.answer(request, &link).empty());
}

// The data file answers in the OK reply, unless an attach rule takes the kind or "later data"
// moves the result into a message of its own.
TEST(MsgdReply, AnswersQueriesFromTheData) {
  Responder r;
  DataStore data;
  std::string error;
  ASSERT_TRUE(data.loadText(R"(tobrelinfo_response { infos { key: "serial" value: "7" } })", &error)) << error;
  r.setData(data);
  LinkState link;
  const pb::NuskMsg info = parse(R"(id: "q" interactiveId: "I" tobrelinfo_query { })");

  auto out = r.answer(info, &link);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].response().code(), pb::OK);
  EXPECT_EQ(out[0].tobrelinfo_response().infos(0).value(), "7");

  // Nothing in the data for contacts: a plain OK.
  out = r.answer(parse(R"(id: "c" interactiveId: "I" getcontactList { })"), &link);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FALSE(out[0].has_contactlist());

  r.rule("tobrelinfo_query").later.push_back({true, {}});
  r.rule("tobrelinfo_query").later.push_back({true, {}});
  out = r.answer(info, &link);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_FALSE(out[0].has_tobrelinfo_response()) << "response first";
  EXPECT_EQ(out[1].tobrelinfo_response().infos(0).value(), "7");
  EXPECT_EQ(out[2].tobrelinfo_response().infos(0).value(), "7") << "and a second result";
  EXPECT_FALSE(out[1].has_response());

  r.rule("tobrelinfo_query").attach = parse(R"(tobrelinfo_response { infos { key: "k" value: "attached" } })");
  r.rule("tobrelinfo_query").later.clear();
  out = r.answer(info, &link);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].tobrelinfo_response().infos_size(), 1);
  EXPECT_EQ(out[0].tobrelinfo_response().infos(0).value(), "attached");
}
