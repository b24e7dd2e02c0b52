// The stand-in's data file: what each query gets from it and what message queries do to the
// store.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "data_store.h"
#include "responder.h"

using namespace msgd;

namespace {

const char kData[] = R"(
# two stored messages, one contact, two information pairs
tobrelinfo_response { infos { key: "serial" value: "0042" } infos { key: "lang" value: "fr" } }
contactList { contacts { firstname: "Ana" uuid: "c1" objects { idDB: "7" name: "home" } } }
tobrelMessageResponse {
  tobrelMessageList { header { id: "m1" date: 10 status: UNREAD to { uuid: "me" } } content { type: TEXT content: "hi" } }
  tobrelMessageList { header { id: "m2" date: 20 status: READ to { uuid: "me" } } content { type: TEXT content: "yo" } }
}
)";

pb::NuskMsg query(pb::TobrelMessageQuery::TypeAction action, std::vector<std::string> ids = {}) {
  pb::NuskMsg m;
  m.set_id("q");
  m.mutable_tobrelmessagequery()->set_action(action);
  for (const std::string& id : ids) m.mutable_tobrelmessagequery()->add_id(id);
  return m;
}

// The header ids of a result's messages, with "+" for READ.
std::string ids(const std::optional<pb::NuskMsg>& result) {
  if (!result) return "none";
  std::string out;
  for (const pb::TobrelMessage& m : result->tobrelmessageresponse().tobrelmessagelist())
    out += (out.empty() ? "" : " ") + m.header().id() + (m.header().status() == pb::TobrelMessageHeader::READ ? "+" : "");
  return out;
}

class DataStoreTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store.loadText(kData, &error)) << error; }
  DataStore store;
  std::string error;
};

}  // namespace

TEST_F(DataStoreTest, InformationAndContactsComeAsTheFileHoldsThem) {
  pb::NuskMsg info;
  info.set_id("i");
  info.mutable_tobrelinfo_query();
  auto r = store.result(info);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->tobrelinfo_response().infos_size(), 2);
  EXPECT_EQ(r->tobrelinfo_response().infos(1).key(), "lang");
  EXPECT_FALSE(r->has_contactlist());

  pb::NuskMsg contacts;
  contacts.set_id("c");
  contacts.mutable_getcontactlist();
  r = store.result(contacts);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->contactlist().contacts(0).objects(0).name(), "home");

  pb::NuskMsg led;
  led.set_id("l");
  led.mutable_led()->mutable_light()->set_color("red");
  EXPECT_FALSE(store.result(led));

  // A file without those parts has nothing for them, but an empty message store.
  DataStore empty;
  ASSERT_TRUE(empty.loadText("", &error));
  EXPECT_FALSE(empty.result(info));
  EXPECT_FALSE(empty.result(contacts));
  EXPECT_EQ(ids(empty.result(query(pb::TobrelMessageQuery::LIST))), "");
}

TEST_F(DataStoreTest, MessageQueriesReadAndChangeTheStore) {
  struct Step {
    pb::NuskMsg request;
    const char* result;  // the result's message ids
    const char* after;   // the whole store after it
  };
  pb::NuskMsg lacksAction;
  lacksAction.set_id("x");
  lacksAction.mutable_tobrelmessagequery()->add_id("m1");
  const std::vector<Step> steps = {
      {query(pb::TobrelMessageQuery::LIST), "m1 m2+", "m1 m2+"},
      {query(pb::TobrelMessageQuery::GET, {"m2", "nope", "m1"}), "m2+ m1", "m1 m2+"},
      {query(pb::TobrelMessageQuery::READ, {"m1"}), "m1+", "m1+ m2+"},
      {query(pb::TobrelMessageQuery::DELETE, {"m2", "m2"}), "m2+", "m1+"},
      {query(pb::TobrelMessageQuery::GET), "", "m1+"},
      {lacksAction, "none", "m1+"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.request.ShortDebugString());
    EXPECT_EQ(ids(store.result(s.request)), s.result);
    EXPECT_EQ(ids(store.result(query(pb::TobrelMessageQuery::LIST))), s.after);
  }
}

TEST_F(DataStoreTest, NewStoresTheAppsMessageWithAFreshIdDateAndStatus) {
  pb::NuskMsg add = query(pb::TobrelMessageQuery::NEW);
  pb::TobrelMessage* m = add.mutable_tobrelmessagequery()->mutable_message();
  m->mutable_header()->mutable_to()->set_uuid("c1");
  m->mutable_content()->set_type(pb::TobrelMessageContent::TEXT);
  m->mutable_content()->set_content("bonjour");
  auto r = store.result(add);
  // "m1" is taken by the file: the next free one.
  EXPECT_EQ(ids(r), "m3");
  r = store.result(add);
  EXPECT_EQ(ids(r), "m4");
  const pb::TobrelMessage& stored = store.messages().tobrelmessagelist(2);
  EXPECT_EQ(stored.content().content(), "bonjour");
  EXPECT_EQ(stored.header().to().uuid(), "c1");
  EXPECT_GT(stored.header().date(), 0);
  EXPECT_EQ(stored.header().status(), pb::TobrelMessageHeader::UNREAD);
  EXPECT_TRUE(stored.header().has_status());

  // An id of the app's own is kept.
  m->mutable_header()->set_id("mine");
  EXPECT_EQ(ids(store.result(add)), "mine");
}

TEST(DataStore, ABadFileIsRefusedWithItsPlace) {
  DataStore store;
  std::string error;
  EXPECT_FALSE(store.loadText("contactList {\n  contacts { nickname: \"x\" }\n}", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_FALSE(store.load("/nonexistent/data.txt", &error));
  EXPECT_NE(error.find("/nonexistent/data.txt"), std::string::npos) << error;
}
