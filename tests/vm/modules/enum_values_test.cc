// What scripts hear for an enum value that the peer leaves out or gives as a number the schema
// does not name: the listeners and reply handlers in an app context of the test process, with
// the daemon's side written by hand so that a frame can carry any number.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "button.h"
#include "ears.h"
#include "message.h"
#include "multimedia.h"
#include "nusk-message.pb.h"
#include "rfid.h"
#include "script_env.h"
#include "t2t.h"

using ::testing::Contains;
using ::testing::HasSubstr;
using net::zolvek::nusk::message::ButtonCallback;
using net::zolvek::nusk::message::EarsCallback;
using net::zolvek::nusk::message::Event;
using net::zolvek::nusk::message::MultimediaCallback;
using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::Response;
using net::zolvek::nusk::message::RfidCallback;
using net::zolvek::nusk::message::T2tCallback;
using net::zolvek::nusk::message::TobrelMessageContent;
using tobrel_test::ScriptEnv;

namespace {

const char* const kGranted = "01234567-89ab-cdef-0123-456789abcdef";

// A number for `field` as a peer would send it: the parser sets it aside among the unknown
// fields, since the enum does not name it.
void addUnknown(google::protobuf::Message* m, int field, int64_t number) {
  m->GetReflection()->MutableUnknownFields(m)->AddVarint(field, static_cast<uint64_t>(number));
}

// Every function logs "<name>:<its arguments as JSON>" into `heard`.
const char* const kHear =
    "var heard = [];\n"
    "function hear(name) {\n"
    "  return function () {\n"
    "    heard.push(name + ':' + JSON.stringify(Array.prototype.slice.call(arguments)));\n"
    "    return true;\n"
    "  };\n"
    "}\n";

struct Case {
  const char* name;
  std::function<void(NuskMsg*)> fill;  // the peer's message
  const char* heard;                   // what the functions heard
  const char* debug;                   // part of the DEBUG line that says why ("": none expected)
};

class EnumValues : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon = env.attachPeer();
    env.app().interactiveId = g_strdup(kGranted);
    env.setNative("button", ButtonFunctionAddListener);
    env.setNative("ears", EarsFunctionAddListener);
    env.setNative("multimedia", MultimediaFunctionAddListener);
    env.setNative("t2t", T2tFunctionAddListener);
    env.setNative("rfid", RfidFunctionAddListener);
    env.setNative("reset", EarsFunctionReset);
    env.setNative("list", MessageFunctionList);
    ASSERT_EQ(env.run(kHear), "undefined");
  }

  // Each case's message, under `correlation` when given, is heard as the case says.
  void expectHeard(const std::vector<Case>& cases, const std::string& correlation = "") {
    int n = 0;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      env.run("heard = []");
      env.clearLogs();
      NuskMsg msg;
      msg.set_id("m" + std::to_string(n++));
      if (!correlation.empty()) msg.set_correlationid(correlation);
      c.fill(&msg);
      tobrel_test::writeFrame(daemon, msg);
      env.pollOnce();
      EXPECT_EQ(env.run("heard.join('|')"), c.heard);
      if (*c.debug != '\0') {
        EXPECT_THAT(env.messages(G_LOG_LEVEL_DEBUG), Contains(HasSubstr(c.debug)));
      }
    }
  }

  ScriptEnv env;
  int daemon = -1;
};

// The first name of the type (INCOMING, START_LEFT, PLAY ...) is never heard in place of a
// value that is not there: the script hears "" (an RFID tag leaves the property out).
TEST_F(EnumValues, ListenersHearNoNameForAMissingOrUnknownValue) {
  ASSERT_EQ(env.run("button(hear('button')); ears(hear('ears')); multimedia(hear('multimedia'));"
                    "t2t(hear('t2t')); rfid(hear('rfid'))"),
            "undefined");
  const std::vector<Case> cases = {
      {"button without type", [](NuskMsg* m) { m->mutable_buttoncallback(); }, R"(button:[""])",
       "ButtonCallback.type: absent"},
      {"button 42",
       [](NuskMsg* m) { addUnknown(m->mutable_buttoncallback(), ButtonCallback::kTypeFieldNumber, 42); },
       R"(button:[""])", "ButtonCallback.type: unknown value 42"},
      {"button 0, below the first name",
       [](NuskMsg* m) { addUnknown(m->mutable_buttoncallback(), ButtonCallback::kTypeFieldNumber, 0); },
       R"(button:[""])", "unknown value 0"},
      {"ears without type", [](NuskMsg* m) { m->mutable_earscallback()->set_step(3); }, R"(ears:["",3,0])",
       "EarsCallback.type: absent"},
      {"ears 7",
       [](NuskMsg* m) { addUnknown(m->mutable_earscallback(), EarsCallback::kTypeFieldNumber, 7); },
       R"(ears:["",0,0])", "EarsCallback.type: unknown value 7"},
      {"multimedia without action", [](NuskMsg* m) { m->mutable_multimediacallback(); }, R"(multimedia:[""])",
       "MultimediaCallback.action: absent"},
      {"multimedia 6",
       [](NuskMsg* m) { addUnknown(m->mutable_multimediacallback(), MultimediaCallback::kActionFieldNumber, 6); },
       R"(multimedia:[""])", "MultimediaCallback.action: unknown value 6"},
      {"t2t without type", [](NuskMsg* m) { m->mutable_t2tcallback()->set_correspondant("bob"); },
       R"(t2t:[{"type":"","correspondant":"bob"}])", "T2tCallback.type: absent"},
      {"t2t -1",
       [](NuskMsg* m) {
         m->mutable_t2tcallback()->set_correspondant("eve");
         addUnknown(m->mutable_t2tcallback(), T2tCallback::kTypeFieldNumber, -1);
       },
       R"(t2t:[{"type":"","correspondant":"eve"}])", "T2tCallback.type: unknown value -1"},
      {"rfid with three unknown values",
       [](NuskMsg* m) {
         RfidCallback* tag = m->mutable_rfidcallback();
         tag->set_id("x");
         addUnknown(tag, RfidCallback::kDirectionFieldNumber, 3);
         addUnknown(tag, RfidCallback::kTypeFieldNumber, 6);
         addUnknown(tag, RfidCallback::kColorFieldNumber, 15);
       },
       R"(rfid:[{"id":"x"}])", "RfidCallback.color: unknown value 15"},
  };
  expectHeard(cases);
}

// A reset's replies: a response without a code is the schema's default, OK; any other missing
// or unknown code is "".
TEST_F(EnumValues, EarResetRepliesNameOnlyTheCodesThatAreThere) {
  ASSERT_EQ(env.run("reset(hear('reset'))"), "undefined");
  const std::string request = tobrel_test::readFrame(daemon).id();
  const std::vector<Case> cases = {
      {"response 42",
       [](NuskMsg* m) { addUnknown(m->mutable_response(), Response::kCodeFieldNumber, 42); },
       R"(reset:["",0,0])", "Response.code: unknown value 42"},
      {"event without code", [](NuskMsg* m) { m->mutable_event()->set_description("moved"); },
       R"(reset:["",0,0])", "Event.code: absent"},
      {"event 0 beside a response OK",
       [](NuskMsg* m) {
         m->mutable_response()->set_code(net::zolvek::nusk::message::OK);
         addUnknown(m->mutable_event(), Event::kCodeFieldNumber, 0);
         m->mutable_ears()->set_left(1);
       },
       R"(reset:["",1,0])", "Event.code: unknown value 0"},
      {"response without code",
       [](NuskMsg* m) {
         m->mutable_response();
         m->mutable_ears()->set_right(1);
       },
       R"(reset:["OK",0,1])", ""},
  };
  expectHeard(cases, request);
}

// A listed message whose content type is missing or unknown has the type "".
TEST_F(EnumValues, ListedMessagesNameOnlyTheContentTypesThatAreThere) {
  ASSERT_EQ(env.run("list(function (entries) {"
                    "  heard.push(JSON.stringify(entries.map(function (e) { return e.content.type; })));"
                    "})"),
            "undefined");
  const std::string request = tobrel_test::readFrame(daemon).id();
  const std::vector<Case> cases = {
      {"no type, 9, XML",
       [](NuskMsg* m) {
         m->mutable_response()->set_code(net::zolvek::nusk::message::OK);
         auto* list = m->mutable_tobrelmessageresponse();
         list->add_tobrelmessagelist()->mutable_content()->set_content("a");
         TobrelMessageContent* unknown = list->add_tobrelmessagelist()->mutable_content();
         unknown->set_content("b");
         addUnknown(unknown, TobrelMessageContent::kTypeFieldNumber, 9);
         list->add_tobrelmessagelist()->mutable_content()->set_type(TobrelMessageContent::XML);
       },
       R"(["","","XML"])", "TobrelMessageContent.type: unknown value 9"},
  };
  expectHeard(cases, request);
}

}  // namespace
