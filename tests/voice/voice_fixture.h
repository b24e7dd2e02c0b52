// Fixture for the voice daemon's tests: a private system-like bus that includes the daemon's
// policy file, a voice.conf in a temporary folder, the real daemon binary, and a GDBus client
// that calls its methods and records the signals it sends.
#pragma once

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "private_bus.h"
#include "process.h"
#include "syslog_capture.h"
#include "temp_dir.h"

namespace voice_test {

// A conf with a recognition server, as start-up requires; [tts] is the caller's.
std::string confWithServers(const std::string &tts_group);

// A GDBus client connection to the bus at `address`, or nullptr.
GDBusConnection *connectTo(const std::string &address);

struct Reply {
  bool ok = false;        // a method return (not an error reply)
  bool result = false;    // its `result`
  std::string error;      // error name and message of an error reply
};

struct Signal {
  std::string sender;
  std::string member;
  std::string args;  // GVariant text, e.g. ('id-1', 4)
};

class VoiceDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the bus (with or without the daemon's policy file) and connects the client.
  void startBus(bool with_policy = true);
  // The same with these policy files for the bus.
  void startBusWith(const std::vector<std::string> &policy_files);
  std::string confPath() const { return dir.path() + "/voice.conf"; }
  void writeConf(const std::string &text);
  // The daemon's environment (this bus, this conf, no debug settings), output into a file.
  tobrel_test::RunOptions daemonOptions() const;
  // Starts `argv` (the daemon by default) and waits until it owns its name; false when it
  // ended or timed out.
  bool startDaemon(std::unique_ptr<tobrel_test::Process> &daemon,
                   const tobrel_test::RunOptions &options,
                   const std::vector<std::string> &argv = {VOICE_BINARY});
  bool startDaemon() { return startDaemon(daemon, daemonOptions()); }

  // Runs a daemon that is expected to end by itself (killed after 30 s: timedOut); out holds
  // its standard output and error.
  static tobrel_test::RunResult runToEnd(const tobrel_test::RunOptions &options,
                                         const std::vector<std::string> &argv = {VOICE_BINARY});
  // Runs a daemon that must end through a fatal log with `line`.
  static void expectFatal(const tobrel_test::RunOptions &options, const std::string &line,
                          const std::vector<std::string> &argv = {VOICE_BINARY});

  // Installs the daemon (with the library it needs) under `prefix`, as `cmake --install` does;
  // false with the install's output in `error`.
  static bool installDaemon(const std::string &prefix, std::string *error);
  // The daemon, installed into this test's folder for running it as another user: such a user
  // may not be able to enter the build tree (a checkout in a home folder of mode 0700). Empty,
  // with the reason in `why`, when no such copy can be made.
  std::string daemonForOtherUsers(std::string *why);

  Reply call(const char *method, GVariant *args);
  // Lets the client's main context run, so that signals are recorded.
  void pump(int ms);
  // Waits until `count` signals named `member` were recorded.
  bool waitForSignals(const std::string &member, size_t count, int timeout_ms);
  std::vector<Signal> signalsNamed(const std::string &member) const;
  std::string nameOwner();

  tobrel_test::TempDir dir;
  std::unique_ptr<tobrel::test::PrivateBus> bus;
  GDBusConnection *client = nullptr;
  std::vector<Signal> signals;
  // For a test that reads the daemon's syslog (RunOptions::syslog): a member, since TearDown
  // still reads the daemon, and declared first, so that it outlives the daemon.
  std::unique_ptr<tobrel_test::SyslogCapture> daemonSyslog;
  std::unique_ptr<tobrel_test::Process> daemon;

 private:
  guint subscription_ = 0;
};

}  // namespace voice_test
