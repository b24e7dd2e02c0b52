// devicebus outside the calls: proxies by module number, the error reporters, the text
// utilities it exports, and the list of exported symbols.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>

#include "devicebus.h"
#include "devicebus_fixture.h"

namespace {

}  // namespace

// Names the module in test listings instead of dumping its bytes.
void PrintTo(const ModuleNames& m, std::ostream* os) { *os << m.service; }

namespace {

class ProxyOnBus : public testing::TestWithParam<ModuleNames> {};

TEST_P(ProxyOnBus, MakesProxyForTheModulesNames) {
  tobrel::test::PrivateBus bus;
  ASSERT_TRUE(useAsSystemBus(bus));
  DBusGConnection* connection = connectToSystemBus();
  ASSERT_NE(connection, nullptr);
  const ModuleNames& m = GetParam();
  DBusGProxy* proxy = nullptr;
  gboolean made = FALSE;
  EXPECT_EQ(capturedStdout([&] { made = dbus_load_proxy(&proxy, m.number, connection); }), "");
  EXPECT_TRUE(made);
  ASSERT_NE(proxy, nullptr);
  EXPECT_STREQ(dbus_g_proxy_get_bus_name(proxy), m.service);
  EXPECT_STREQ(dbus_g_proxy_get_path(proxy), m.path);
  EXPECT_STREQ(dbus_g_proxy_get_interface(proxy), m.interface);
  g_object_unref(proxy);
  closeConnection(connection);
}

// dbus-glib makes no proxy without a connection: the line names the module's label and the
// caller's variable is cleared.
TEST_P(ProxyOnBus, RefusedConnectionPrintsTheLabel) {
  const ModuleNames& m = GetParam();
  DBusGProxy* proxy = reinterpret_cast<DBusGProxy*>(&proxy);
  gboolean made = TRUE;
  EXPECT_EQ(capturedStdout([&] { made = dbus_load_proxy(&proxy, m.number, nullptr); }),
            std::string("Failed to create proxy for ") + m.label + " Module\n");
  EXPECT_FALSE(made);
  EXPECT_EQ(proxy, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Modules, ProxyOnBus, testing::ValuesIn(kModuleNames),
                         [](const testing::TestParamInfo<ModuleNames>& info) {
                           return "Module" + std::to_string(info.param.number);
                         });

TEST(LoadProxy, NumbersOutsideTheTableLeaveTheVariableAlone) {
  tobrel::test::PrivateBus bus;
  ASSERT_TRUE(useAsSystemBus(bus));
  DBusGConnection* connection = connectToSystemBus();
  ASSERT_NE(connection, nullptr);
  for (int module : {-1, 15, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(module);
    DBusGProxy* proxy = reinterpret_cast<DBusGProxy*>(&proxy);
    DBusGProxy* before = proxy;
    gboolean made = TRUE;
    EXPECT_EQ(capturedStdout([&] { made = dbus_load_proxy(&proxy, module, connection); }),
              "Failed to create proxy for ERROR Module\n");
    EXPECT_FALSE(made);
    EXPECT_EQ(proxy, before);
  }
  closeConnection(connection);
}

TEST(LoadProxy, NoVariableToStoreInIsAFailure) {
  tobrel::test::PrivateBus bus;
  ASSERT_TRUE(useAsSystemBus(bus));
  DBusGConnection* connection = connectToSystemBus();
  ASSERT_NE(connection, nullptr);
  gboolean made = TRUE;
  EXPECT_EQ(capturedStdout([&] { made = dbus_load_proxy(nullptr, 0, connection); }),
            "Failed to create proxy for LED Module\n");
  EXPECT_FALSE(made);
  closeConnection(connection);
}

GError* newError(const char* message) { return g_error_new_literal(g_quark_from_static_string("test"), 1, message); }

TEST(HandleError, PrintsOneLineAndReturns) {
  // The error is freed here: the sanitizer build reports it otherwise.
  EXPECT_EQ(capturedStdout([] { handleError("Call to dbus_g_proxy_call failed", newError("m"), FALSE); }),
            "Call to dbus_g_proxy_call failed: m\n");
}

TEST(HandleError, FatalEndsTheProcessWithStatusOne) {
  EXPECT_EXIT(handleError("fatal text", newError("m"), TRUE), testing::ExitedWithCode(1), "");
}

TEST(Die, EndsTheProcessThroughAnErrorLog) {
  EXPECT_DEATH(die("Cannot go on", newError("bus gone")), "Cannot go on: bus gone");
}

TEST(TextUtilities, ToLowerLowersAsciiOnly) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {{"AbC-09", "abc-09"}, {"", ""}, {"\xC3\x89t\xC3\xA9 X", "\xC3\x89t\xC3\xA9 x"}};
  for (const Case& c : cases) {
    char buf[32];
    snprintf(buf, sizeof buf, "%s", c.in);
    toLower(buf);
    EXPECT_STREQ(buf, c.out);
  }
}

TEST(TextUtilities, GenerateUuidGivesFreshLowercaseText) {
  char first[37], second[37];
  memset(first, 'X', sizeof first);
  memset(second, 'X', sizeof second);
  EXPECT_EQ(generateUuid(first), TRUE);
  EXPECT_EQ(generateUuid(second), TRUE);
  for (const char* uuid : {first, second}) {
    ASSERT_EQ(strlen(uuid), 36u);
    for (int i = 0; i < 36; ++i) {
      if (i == 8 || i == 13 || i == 18 || i == 23) {
        EXPECT_EQ(uuid[i], '-') << uuid;
      } else {
        EXPECT_TRUE(strchr("0123456789abcdef", uuid[i]) != nullptr) << uuid;
      }
    }
  }
  EXPECT_STRNE(first, second);
}

// What outside programs may link against: exactly these names, nothing of the helpers.
TEST(ExportedSymbols, AreExactlyTheLibrarysFunctions) {
  const std::set<std::string> expected = {
      "dbus_load_proxy", "handleError", "die", "toLower", "generateUuid",
      "ledLight", "ledFade", "ledPulse",
      "earsReset", "earsMove", "earsMoveLeft", "earsMoveRight", "earsMoveStep", "earsMoveLeftStep",
      "earsMoveRightStep",
      "ttsSpeak", "ttsStop", "asrStartFile", "asrStartString", "asrStop",
      "rfidGetTags",
      "multimediaPlay", "multimediaPause", "multimediaStop", "multimediaResume", "multimediaRecord",
      "multimediaNext", "multimediaPrevious", "multimediaGetArtist", "multimediaGetFolder",
      "multimediaGetPlaylist", "multimediaGetGenre", "multimediaGetSong",
      "controllerGetBatteryState", "controllerGetStatus", "controllerTakeControl", "controllerReleaseControl",
      "connmanGetState", "choreographyLaunchScript", "webcamTakeSnapshot",
      "schedulerAddDateEntry", "schedulerAddWeeklyEntry", "schedulerAddPeriodicEntry",
      "schedulerDeleteAllEntry", "schedulerDeleteEntry",
      "t2tCanRing", "t2tCall", "t2tAnswear", "t2tHangup", "t2tUseAccount",
      "serialOpen", "serialWrite", "serialClose", "serialReadLineMode",
      "dockLedLight", "dockLedFade", "dockLedPulse", "dockMove",
  };
  ASSERT_EQ(expected.size(), 58u);
  std::set<std::string> exported;
  for (const auto& [name, type] : exportedSymbols(NM_PATH, DEVICEBUS_LIBRARY)) {
    exported.insert(name);
    EXPECT_EQ(type, "T") << name << " is exported but is no function";
  }
  EXPECT_EQ(exported, expected);
}

}  // namespace
