// Fixture for the voice daemon's tests (see voice_fixture.h).
#include "voice_fixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace voice_test {

namespace {

const char kService[] = "com.helvorand.tobrel.Voice";
const char kPath[] = "/com/helvorand/tobrel/Voice";
const char kInterface[] = "com.helvorand.tobrel.TobrelInterface";

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

void onSignal(GDBusConnection *, const gchar *sender, const gchar *, const gchar *,
              const gchar *member, GVariant *params, gpointer self) {
  gchar *text = g_variant_print(params, FALSE);
  static_cast<std::vector<Signal> *>(self)->push_back({sender ? sender : "", member, text});
  g_free(text);
}

}  // namespace

GDBusConnection *connectTo(const std::string &address) {
  return g_dbus_connection_new_for_address_sync(
      address.c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
}

std::string confWithServers(const std::string &tts_group) {
  return "[tts]\n" + tts_group + "\n[asr]\nport=4000\nnbserver=1\nserver0=127.0.0.1\n";
}

void VoiceDaemonTest::SetUp() { ASSERT_FALSE(dir.path().empty()); }

void VoiceDaemonTest::TearDown() {
  if (daemon) {
    daemon->stop();
    if (HasFailure()) std::cerr << "---- daemon output ----\n" << daemon->output() << "----\n";
  }
  if (client) {
    if (subscription_) g_dbus_connection_signal_unsubscribe(client, subscription_);
    g_dbus_connection_close_sync(client, nullptr, nullptr);
    g_object_unref(client);
    client = nullptr;
  }
  bus.reset();
}

void VoiceDaemonTest::startBus(bool with_policy) {
  std::vector<std::string> policies;
  if (with_policy) policies.push_back(VOICE_POLICY_FILE);
  startBusWith(policies);
}

void VoiceDaemonTest::startBusWith(const std::vector<std::string> &policies) {
  bus = std::make_unique<tobrel::test::PrivateBus>(policies);
  ASSERT_TRUE(bus->ok()) << bus->error();
  client = connectTo(bus->address());
  ASSERT_NE(client, nullptr);
  // Any sender: the daemon's first signal goes out before the test knows its unique name.
  subscription_ = g_dbus_connection_signal_subscribe(client, nullptr, kInterface, nullptr, kPath,
                                                     nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSignal,
                                                     &signals, nullptr);
  // A round trip after AddMatch makes sure the bus applies the match before the daemon starts.
  nameOwner();
}

void VoiceDaemonTest::writeConf(const std::string &text) {
  tobrel_test::writeFile(confPath(), text);
}

tobrel_test::RunOptions VoiceDaemonTest::daemonOptions() const {
  tobrel_test::RunOptions options;
  options.env = {"DBUS_SYSTEM_BUS_ADDRESS=" + (bus ? bus->address() : "unix:path=/nonexistent"),
                 "TOBREL_VOICE_CONF=" + confPath(), "TOBREL_DEBUG", "G_DEBUG"};
  options.outputToFile = true;
  // Its syslog lines go to a sink of the test's own: without a syslog daemon they would go to
  // the console, slowly.
  options.discardSyslog = true;
  // Stdin stays open, as a daemon's would.
  options.closeStdin = false;
  options.timeoutMs = 30000;
  return options;
}

bool VoiceDaemonTest::startDaemon(std::unique_ptr<tobrel_test::Process> &process,
                                  const tobrel_test::RunOptions &options,
                                  const std::vector<std::string> &argv) {
  process = tobrel_test::Process::start(argv, options);
  long long end = nowMs() + 30000;
  while (nowMs() < end) {
    if (!process->running()) return false;
    if (!nameOwner().empty()) return true;
    usleep(10000);
  }
  return false;
}

tobrel_test::RunResult VoiceDaemonTest::runToEnd(const tobrel_test::RunOptions &options,
                                                 const std::vector<std::string> &argv) {
  return tobrel_test::runProgram(argv, options);
}

void VoiceDaemonTest::expectFatal(const tobrel_test::RunOptions &options, const std::string &line,
                                  const std::vector<std::string> &argv) {
  const tobrel_test::RunResult run = runToEnd(options, argv);
  EXPECT_TRUE(!run.timedOut && !run.exited) << run.describe();
  EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
}

bool VoiceDaemonTest::installDaemon(const std::string &prefix, std::string *error) {
  for (const char *component : {"tobrel-common", "voice"}) {
    tobrel_test::RunOptions install;
    install.outputToFile = true;
    const tobrel_test::RunResult run =
        runToEnd(install, {CMAKE_COMMAND_PATH, "--install", TOBREL_BINARY_DIR, "--component",
                           component, "--prefix", prefix});
    if (run.timedOut || !run.exited || run.exitCode != 0) {
      *error = run.out;
      return false;
    }
  }
  return true;
}

std::string VoiceDaemonTest::daemonForOtherUsers(std::string *why) {
  const std::string prefix = dir.path() + "/staged";
  if (!installDaemon(prefix, why)) return "";
  // Whatever the umask: every folder on the way open to all, the files readable.
  chmod(dir.path().c_str(), 0755);
  tobrel_test::runShell("chmod -R a+rX '" + prefix + "'");
  const std::string program = prefix + "/bin/voice";
  for (std::string folder = prefix; folder.size() > 1; folder = folder.substr(0, folder.rfind('/'))) {
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) {
      *why = "other users cannot enter " + folder + " (set TMPDIR to a folder they can)";
      return "";
    }
  }
  return program;
}

std::string VoiceDaemonTest::nameOwner() {
  GVariant *r = g_dbus_connection_call_sync(
      client, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetNameOwner", g_variant_new("(s)", kService), G_VARIANT_TYPE("(s)"),
      G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  if (!r) return "";
  const gchar *owner;
  g_variant_get(r, "(&s)", &owner);
  std::string result = owner;
  g_variant_unref(r);
  return result;
}

Reply VoiceDaemonTest::call(const char *method, GVariant *args) {
  Reply reply;
  GError *error = nullptr;
  GVariant *r = g_dbus_connection_call_sync(client, kService, kPath, kInterface, method, args,
                                            nullptr, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
                                            &error);
  if (r) {
    reply.ok = true;
    if (g_variant_is_of_type(r, G_VARIANT_TYPE("(b)"))) {
      gboolean b;
      g_variant_get(r, "(b)", &b);
      reply.result = b;
    }
    g_variant_unref(r);
  } else {
    gchar *remote = g_dbus_error_get_remote_error(error);
    reply.error = std::string(remote ? remote : "") + ": " + error->message;
    g_free(remote);
    g_error_free(error);
  }
  pump(0);
  return reply;
}

void VoiceDaemonTest::pump(int ms) {
  long long end = nowMs() + ms;
  do {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (ms > 0) usleep(2000);
  } while (nowMs() < end);
}

bool VoiceDaemonTest::waitForSignals(const std::string &member, size_t count, int timeout_ms) {
  long long end = nowMs() + timeout_ms;
  for (;;) {
    pump(0);
    if (signalsNamed(member).size() >= count) return true;
    if (nowMs() > end) return false;
    usleep(5000);
  }
}

std::vector<Signal> VoiceDaemonTest::signalsNamed(const std::string &member) const {
  std::vector<Signal> out;
  for (const Signal &s : signals)
    if (s.member == member) out.push_back(s);
  return out;
}

}  // namespace voice_test
