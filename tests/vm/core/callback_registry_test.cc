// The correlation registry: lookup by whole id, handlers that stay or are done, expiry on an
// injected clock, and records that are freed exactly once and never while their handler runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "callback_registry.h"
#include "nusk-message.pb.h"

using net::zolvek::nusk::message::NuskMsg;

namespace {

gint64 fakeNow = 1000;
int clockReads = 0;
gint64 fakeClock() {
  ++clockReads;
  return fakeNow;
}

// What a test handler saw, and whether its data was released.
struct Probe {
  std::vector<std::string> seen;  // ids of the messages it was called with
  int released = 0;
  bool keep = true;
  // Runs inside the handler's call, to model a script function that sends a command.
  void (*during)(Probe*) = nullptr;
};

bool probeHandler(void* data, const NuskMsg& msg) {
  auto* probe = static_cast<Probe*>(data);
  probe->seen.push_back(msg.id());
  if (probe->during != nullptr) probe->during(probe);
  return probe->keep;
}

void probeRelease(void* data) { ++static_cast<Probe*>(data)->released; }

NuskMsg naming(const std::string& request, const std::string& id = "m") {
  NuskMsg msg;
  msg.set_id(id);
  msg.set_correlationid(request);
  return msg;
}

void add(const std::string& key, Probe* probe) {
  registerCallback(key, new CallbackHandler(probeHandler, probe, probeRelease));
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 1000;
    clockReads = 0;
    setCallbackClock(fakeClock);
  }
  void TearDown() override {
    clearCallbacks();
    setCallbackClock(nullptr);
  }
};

}  // namespace

TEST_F(Registry, NothingIsFoundBeforeAnyRegistrationOrForAnUnknownId) {
  EXPECT_EQ(findCallback(naming("a")), nullptr);
  EXPECT_FALSE(dispatchCallback(naming("a")));
  Probe probe;
  add("a", &probe);
  EXPECT_EQ(findCallback(naming("b")), nullptr);
  EXPECT_FALSE(dispatchCallback(naming("")));
}

TEST_F(Registry, IdsThatShareTheirFirstCharactersAreToldApart) {
  Probe shortId, longId;
  add("0f3a", &shortId);
  add("0f3a-77", &longId);
  EXPECT_TRUE(dispatchCallback(naming("0f3a-77", "x")));
  EXPECT_TRUE(dispatchCallback(naming("0f3a", "y")));
  EXPECT_EQ(longId.seen, std::vector<std::string>({"x"}));
  EXPECT_EQ(shortId.seen, std::vector<std::string>({"y"}));
  EXPECT_EQ(findCallback(naming("0f3")), nullptr);
}

TEST_F(Registry, AHandlerThatStaysHearsEveryMessageOfItsRequestInOrder) {
  Probe probe;
  add("req", &probe);
  for (const char* id : {"response", "event1", "event2"}) EXPECT_TRUE(dispatchCallback(naming("req", id)));
  EXPECT_EQ(probe.seen, std::vector<std::string>({"response", "event1", "event2"}));
  EXPECT_EQ(probe.released, 0);
  EXPECT_EQ(callbackCount(), 1u);
}

TEST_F(Registry, AHandlerThatIsDoneLosesItsEntryAndItsDataOnce) {
  Probe probe;
  probe.keep = false;
  add("req", &probe);
  EXPECT_TRUE(dispatchCallback(naming("req", "first")));
  EXPECT_EQ(probe.released, 1);
  EXPECT_EQ(callbackCount(), 0u);
  // A second answer to a one-shot request finds nothing and never reaches the freed data.
  EXPECT_FALSE(dispatchCallback(naming("req", "second")));
  EXPECT_EQ(probe.seen, std::vector<std::string>({"first"}));
  EXPECT_EQ(probe.released, 1);
}

TEST_F(Registry, EntriesExpireStrictlyAfterTenHoursAtTheNextRegistration) {
  struct Case {
    gint64 age;
    bool survives;
  };
  for (const Case& c : {Case{0, true}, Case{35999, true}, Case{36000, true}, Case{36001, false}, Case{90000, false}}) {
    SCOPED_TRACE(c.age);
    fakeNow = 1000;
    Probe old, fresh;
    add("old", &old);
    fakeNow += c.age;
    EXPECT_NE(findCallback(naming("old")), nullptr) << "nothing expires without a registration";
    add("fresh", &fresh);
    EXPECT_EQ(findCallback(naming("old")) != nullptr, c.survives);
    EXPECT_EQ(old.released, c.survives ? 0 : 1);
    EXPECT_NE(findCallback(naming("fresh")), nullptr);
    clearCallbacks();  // while the probes still live
  }
}

// A long-running app keeps tens of thousands of entries alive: a registration must not look
// at each of them (or read the clock for each).
TEST_F(Registry, ARegistrationReadsTheClockOnceWhateverIsLive) {
  std::vector<Probe> probes(2000);
  for (size_t i = 0; i < probes.size(); ++i) {
    clockReads = 0;
    add("req" + std::to_string(i), &probes[i]);
    ASSERT_EQ(clockReads, 1) << "with " << i << " live entries";
  }
  fakeNow += 36001;
  Probe last;
  clockReads = 0;
  add("last", &last);
  EXPECT_EQ(clockReads, 1) << "while purging";
  EXPECT_EQ(callbackCount(), 1u);
  clearCallbacks();  // while the probes still live
}

// Entries registered over time, one registered again (its new stamp counts) and one
// unregistered early: a registration drops exactly those strictly older than the lifetime,
// each once, and keeps the rest.
TEST_F(Registry, ThePurgeDropsExactlyTheEntriesOlderThanTheLifetime) {
  Probe a1, b, c, gone, a2, d, e, later;
  fakeNow = 1000;
  add("a", &a1);
  add("b", &b);
  fakeNow = 1001;
  add("c", &c);
  add("gone", &gone);
  fakeNow = 1002;
  add("a", &a2);  // moves "a" past "b" and "c"
  add("d", &d);
  fakeNow = 1003;
  add("e", &e);
  EXPECT_TRUE(unregisterCallback("gone"));
  fakeNow = 1002 + kCallbackLifetimeSeconds;  // "a" and "d" exactly at the lifetime
  add("later", &later);
  struct Case {
    const char* key;
    const Probe* probe;
    bool survives;
  };
  for (const Case& k : {Case{"b", &b, false}, Case{"c", &c, false}, Case{"a", &a2, true}, Case{"d", &d, true},
                        Case{"e", &e, true}, Case{"later", &later, true}}) {
    SCOPED_TRACE(k.key);
    EXPECT_EQ(findCallback(naming(k.key)) != nullptr, k.survives);
    EXPECT_EQ(k.probe->released, k.survives ? 0 : 1);
  }
  EXPECT_EQ(a1.released, 1);
  EXPECT_EQ(gone.released, 1);
  EXPECT_EQ(callbackCount(), 4u);
  clearCallbacks();
  for (const Probe* p : {&a1, &b, &c, &gone, &a2, &d, &e, &later}) EXPECT_EQ(p->released, 1);
}

TEST_F(Registry, RegisteringAnIdAgainReplacesAndReleasesTheOldRecord) {
  Probe first, second;
  add("req", &first);
  add("req", &second);
  EXPECT_EQ(first.released, 1);
  EXPECT_TRUE(dispatchCallback(naming("req")));
  EXPECT_TRUE(first.seen.empty());
  EXPECT_EQ(second.seen.size(), 1u);
}

TEST_F(Registry, UnregisterReleasesTheEntry) {
  Probe probe;
  add("req", &probe);
  EXPECT_TRUE(unregisterCallback("req"));
  EXPECT_FALSE(unregisterCallback("req"));
  EXPECT_EQ(probe.released, 1);
  EXPECT_FALSE(dispatchCallback(naming("req")));
}

// A script function called by a handler sends a command: that registration purges the very
// entry being dispatched. Its record must outlive the call and be freed right after it.
TEST_F(Registry, AnEntryPurgedDuringItsOwnCallIsFreedOnlyAfterTheCall) {
  static Probe other;
  other = Probe();
  Probe probe;
  probe.during = [](Probe* self) {
    fakeNow += 36001;
    add("later", &other);
    EXPECT_EQ(self->released, 0) << "freed while its handler runs";
    EXPECT_EQ(findCallback(naming("req")), nullptr);
  };
  add("req", &probe);
  EXPECT_TRUE(dispatchCallback(naming("req")));
  EXPECT_EQ(probe.released, 1);
  EXPECT_FALSE(dispatchCallback(naming("req")));
  EXPECT_EQ(other.released, 0);
}

TEST_F(Registry, AHandlerThatUnregistersItselfOrIsReplacedMidCallIsFreedOnce) {
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace);
    static Probe successor;
    successor = Probe();
    Probe probe;
    probe.keep = false;  // also done: must still be freed exactly once
    probe.during = replace ? [](Probe*) { add("req", &successor); } : [](Probe*) { unregisterCallback("req"); };
    add("req", &probe);
    EXPECT_TRUE(dispatchCallback(naming("req")));
    EXPECT_EQ(probe.released, 1);
    // A replacement registered during the call is not dropped by the old handler's verdict.
    EXPECT_EQ(findCallback(naming("req")) != nullptr, replace);
    clearCallbacks();
  }
}

TEST_F(Registry, TheDefaultClockIsMonotonicSeconds) {
  setCallbackClock(nullptr);
  Probe probe;
  add("req", &probe);
  const gint64 now = g_get_monotonic_time() / G_USEC_PER_SEC;
  CallbackHandler* handler = findCallback(naming("req"));
  ASSERT_NE(handler, nullptr);
  EXPECT_LE(std::llabs(handler->time - now), 1);
}
