// TobrelData: the launch request split and the listener fan-out.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "log_capture.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::NuskMsg;
using tobrel_test::LogCapture;

TEST(SetCmdLine, SplitsAtTheFirstTwoSpaces) {
  const struct {
    std::string line, app, type, instance;
    std::vector<std::string> debug;
  } cases[] = {
      {"app1 PLAIN inst 1", "app1", "PLAIN", "inst 1",
       {"setCmdLine app1 PLAIN inst 1", "APP NAME app1", "LAUNCH_TYPE PLAIN", "INSTANCE_NAME inst 1"}},
      {"app1", "app1", "", "", {"setCmdLine app1"}},
      {"app1 RFID;1;2", "app1", "RFID;1;2", "", {"setCmdLine app1 RFID;1;2", "APP NAME app1"}},
      {"app1  x", "app1", "", "x", {"setCmdLine app1  x", "APP NAME app1", "LAUNCH_TYPE ", "INSTANCE_NAME x"}},
      {"a", "a", "", "", {"setCmdLine a"}},
      {"app1\tPLAIN", "app1\tPLAIN", "", "", {"setCmdLine app1\tPLAIN"}},
      {"app1 PLAIN ", "app1", "PLAIN", "", {"setCmdLine app1 PLAIN ", "APP NAME app1", "LAUNCH_TYPE PLAIN", "INSTANCE_NAME "}},
      {"app1 PLAIN\r", "app1", "PLAIN\r", "", {"setCmdLine app1 PLAIN\r", "APP NAME app1"}},
      {" lead", "", "lead", "", {"setCmdLine  lead", "APP NAME "}},
  };
  for (const auto& c : cases) {
    LogCapture logs;
    TobrelData data;
    data.setCmdLine(c.line);
    EXPECT_EQ(data.cmdLine, c.line);
    EXPECT_EQ(data.appName, c.app) << c.line;
    EXPECT_EQ(data.launchType, c.type) << c.line;
    EXPECT_EQ(data.instanceName, c.instance) << c.line;
    EXPECT_EQ(logs.messages(G_LOG_LEVEL_DEBUG), c.debug) << c.line;
  }
}

TEST(TobrelData, FreshRecord) {
  TobrelData data;
  EXPECT_EQ(data.sock, -1);
  EXPECT_FALSE(data.isConnected());
  EXPECT_EQ(data.interactiveId, nullptr);
  EXPECT_EQ(data.listeners, nullptr);
  EXPECT_EQ(data.descriptor, nullptr);
  EXPECT_FALSE(data.quitRequested);
  data.sock = 7;
  EXPECT_TRUE(data.isConnected());
}

namespace {

// A listener that records the order of calls and its own deletion, and returns a fixed answer.
struct Recorder : NuskMsgListener {
  Recorder(int id, bool keep, std::vector<int>* calls, std::vector<int>* deleted)
      : id(id), keep(keep), calls(calls), deleted(deleted) {}
  ~Recorder() override { deleted->push_back(id); }
  bool onMessage(const NuskMsg&) override {
    calls->push_back(id);
    // A one-time action: moved out first, so it may add listeners freely.
    std::function<void()> action = std::move(onCall);
    onCall = nullptr;
    if (action) action();
    return keep;
  }
  int id;
  bool keep;
  std::vector<int>* calls;
  std::vector<int>* deleted;
  std::function<void()> onCall;
};

std::vector<int> idsOf(GList* list) {
  std::vector<int> ids;
  for (GList* node = list; node != nullptr; node = node->next) ids.push_back(static_cast<Recorder*>(node->data)->id);
  return ids;
}

// The fan-out never looks inside the message, so any object stands in for one here.
const NuskMsg& anyMessage() {
  static char storage[64];
  return *reinterpret_cast<const NuskMsg*>(storage);
}

}  // namespace

TEST(Listeners, FanOutKeepsOrderAndDropsThoseThatDecline) {
  const struct {
    std::vector<bool> keep;
    std::vector<int> remaining, deleted;
  } cases[] = {
      {{}, {}, {}},
      {{true, false, true}, {1, 3}, {2}},
      {{false, false}, {}, {1, 2}},
      {{false, true, false}, {2}, {1, 3}},
  };
  for (const auto& c : cases) {
    std::vector<int> calls, deleted;
    TobrelData data;
    std::vector<int> all;
    for (size_t i = 0; i < c.keep.size(); ++i) {
      data.addListener(new Recorder(static_cast<int>(i) + 1, c.keep[i], &calls, &deleted));
      all.push_back(static_cast<int>(i) + 1);
    }
    data.onMessage(anyMessage());
    EXPECT_EQ(calls, all);
    EXPECT_EQ(idsOf(data.listeners), c.remaining);
    EXPECT_EQ(deleted, c.deleted);
    data.deleteListeners();
  }
}

TEST(Listeners, OneAddedDuringTheWalkIsReachedOnlyWhileOthersRemainBehind) {
  std::vector<int> calls, deleted;
  TobrelData data;
  auto* first = new Recorder(1, true, &calls, &deleted);
  data.addListener(first);
  data.addListener(new Recorder(2, true, &calls, &deleted));
  first->onCall = [&]() {
    data.addListener(new Recorder(3, true, &calls, &deleted));
  };
  data.onMessage(anyMessage());
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));

  // Added by the last listener of the walk: its first message is the next one.
  calls.clear();
  auto* last = static_cast<Recorder*>(g_list_last(data.listeners)->data);
  last->onCall = [&]() {
    data.addListener(new Recorder(4, true, &calls, &deleted));
  };
  data.onMessage(anyMessage());
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));
  calls.clear();
  data.onMessage(anyMessage());
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4}));
  data.deleteListeners();
  EXPECT_EQ(deleted, (std::vector<int>{1, 2, 3, 4}));
}
