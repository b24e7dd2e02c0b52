// The five voice wrappers against the real voice daemon on a private bus (with the daemon's own
// bus policy), its speech service and player replaced by the stand-ins the voice tests use.
#include <dbus/dbus-glib-lowlevel.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "devicebus.h"
#include "devicebus_fixture.h"
#include "process.h"
#include "temp_dir.h"

namespace {

const char kFailed[] = "Call to dbus_g_proxy_call failed: ";

class RealVoiceDaemon : public testing::Test {
 protected:
  RealVoiceDaemon() : bus_({VOICE_POLICY_FILE}) {}

  void SetUp() override {
    ASSERT_TRUE(useAsSystemBus(bus_));
    tobrel_test::RunOptions web;
    web.outputToFile = true;
    web_ = tobrel_test::Process::start({TTS_WEB_BINARY, "--record", dir_.path()}, web);
    ASSERT_TRUE(web_->waitForOutput("\n", 10000)) << web_->output();
    const std::string port = web_->output().substr(web_->output().find("PORT ") + 5);
    // The recognition server's port is closed: a recognition start cannot succeed.
    tobrel_test::writeFile(dir_.path() + "/voice.conf",
                           "[tts]\nfr=http://127.0.0.1:" + port.substr(0, port.find('\n')) +
                               "/fr\n[asr]\nport=9\nnbserver=1\nserver0=127.0.0.1\n");

    connection_ = connectToSystemBus();
    ASSERT_NE(connection_, nullptr);
    tobrel_test::RunOptions voice;
    voice.env = {"TOBREL_VOICE_CONF=" + dir_.path() + "/voice.conf", "TTS_STUB_DIR=" + dir_.path(),
                 "PATH=" + std::string(TTS_STUB_BIN) + ":" + getenv("PATH"), "G_DEBUG"};
    voice.outputToFile = true;
    voice.discardSyslog = true;  // not the console, which is where syslog goes without a daemon
    voice_ = tobrel_test::Process::start({VOICE_BINARY}, voice);
    ASSERT_TRUE(waitForOwner()) << voice_->output();
    ASSERT_TRUE(dbus_load_proxy(&proxy_, 3, connection_));
  }

  void TearDown() override {
    if (proxy_ != nullptr) g_object_unref(proxy_);
    if (voice_) voice_->stop();
    if (web_) web_->stop();
    if (HasFailure() && voice_) std::cerr << "---- voice output ----\n" << voice_->output() << "----\n";
    closeConnection(connection_);
  }

  bool waitForOwner() {
    DBusConnection* c = dbus_g_connection_get_connection(connection_);
    for (int i = 0; i < 1000 && voice_->running(); ++i) {
      if (dbus_bus_name_has_owner(c, "com.helvorand.tobrel.Voice", nullptr)) return true;
      usleep(10000);
    }
    return false;
  }

  bool waitForFile(const std::string& path) {
    struct stat st;
    for (int i = 0; i < 500; ++i) {
      if (stat(path.c_str(), &st) == 0) return true;
      usleep(10000);
    }
    return false;
  }

  tobrel_test::TempDir dir_;
  tobrel::test::PrivateBus bus_;
  std::unique_ptr<tobrel_test::Process> web_;
  std::unique_ptr<tobrel_test::Process> voice_;
  DBusGConnection* connection_ = nullptr;
  DBusGProxy* proxy_ = nullptr;
};

// A refused start arrives as an error reply: one failure line and FALSE.
void expectFailureLine(const std::string& printed) {
  EXPECT_EQ(printed.rfind(kFailed, 0), 0u) << printed;
  EXPECT_GT(printed.size(), sizeof kFailed) << printed;
  EXPECT_EQ(printed.find('\n'), printed.size() - 1) << printed;
}

TEST_F(RealVoiceDaemon, StopsAnswerTrue) {
  gboolean result = FALSE;
  EXPECT_EQ(capturedStdout([&] { result = ttsStop(proxy_, "tts-1", 0); }), "");
  EXPECT_TRUE(result);
  result = FALSE;
  EXPECT_EQ(capturedStdout([&] { result = asrStop(proxy_, "asr-1", 7); }), "");
  EXPECT_TRUE(result);
}

TEST_F(RealVoiceDaemon, SpeakReachesTheSpeechServiceOfItsLanguage) {
  gboolean result = FALSE;
  EXPECT_EQ(capturedStdout([&] { result = ttsSpeak(proxy_, "tts-2", "Bonjour devicebus", "fr", 0); }), "");
  EXPECT_TRUE(result);
  ASSERT_TRUE(waitForFile(dir_.path() + "/request-1.head")) << web_->output();
  EXPECT_NE(tobrel_test::readFile(dir_.path() + "/request-1.body").find("Bonjour devicebus"), std::string::npos);
  EXPECT_TRUE(ttsStop(proxy_, "tts-2", 0));
}

TEST_F(RealVoiceDaemon, RefusedStartsPrintTheFailureLine) {
  gboolean result = TRUE;
  expectFailureLine(capturedStdout([&] { result = ttsSpeak(proxy_, "tts-3", "Hallo", "de", 0); }));
  EXPECT_FALSE(result);
  result = TRUE;
  expectFailureLine(capturedStdout([&] { result = asrStartString(proxy_, "asr-2", "yes | no", "fr-FR", 0); }));
  EXPECT_FALSE(result);
  result = TRUE;
  expectFailureLine(capturedStdout([&] { result = asrStartFile(proxy_, "asr-3", "/nonexistent/grammar", 0); }));
  EXPECT_FALSE(result);
  EXPECT_TRUE(voice_->running());
}

}  // namespace
