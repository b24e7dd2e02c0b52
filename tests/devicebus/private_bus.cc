// A private bus and child processes for the devicebus tests.
#include "private_bus.h"

#include <dbus/dbus-glib-lowlevel.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

bool Child::start(const std::vector<std::string>& argv, const std::string& readyPrefix,
                  const std::vector<std::string>& env) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  gchar** envp = g_get_environ();
  for (const std::string& e : env) {
    std::string::size_type eq = e.find('=');
    envp = g_environ_setenv(envp, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
  }
  GError* error = nullptr;
  GPid pid = 0;
  gboolean ok = g_spawn_async_with_pipes(nullptr, args.data(), envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                         &pid, nullptr, &out_, nullptr, &error);
  g_strfreev(envp);
  if (!ok) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << error->message;
    g_error_free(error);
    return false;
  }
  pid_ = pid;
  std::string buffered;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string::size_type nl;
    while ((nl = buffered.find('\n')) != std::string::npos) {
      std::string line = buffered.substr(0, nl);
      buffered.erase(0, nl + 1);
      if (line.compare(0, readyPrefix.size(), readyPrefix) == 0) {
        readyLine_ = line;
        return true;
      }
    }
    struct pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char chunk[512];
    ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) break;
    buffered.append(chunk, static_cast<size_t>(n));
  }
  ADD_FAILURE() << argv[0] << " did not get ready";
  stop();
  return false;
}

void Child::stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    g_spawn_close_pid(pid_);
    pid_ = 0;
  }
  if (out_ >= 0) {
    close(out_);
    out_ = -1;
  }
}

bool PrivateBus::start() {
  if (!daemon_.start({DBUS_DAEMON_PATH, "--config-file=" BUS_CONFIG, "--nofork", "--print-address=1"}, "unix:"))
    return false;
  address_ = daemon_.readyLine();
  setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
  return true;
}

DBusGConnection* PrivateBus::connect() {
  GError* error = nullptr;
  DBusGConnection* connection = dbus_g_bus_get_private(DBUS_BUS_SYSTEM, nullptr, &error);
  if (connection == nullptr) {
    ADD_FAILURE() << "cannot connect to the private bus: " << error->message;
    g_error_free(error);
    return nullptr;
  }
  // The bus goes away before this process ends; that must not end the test process.
  dbus_connection_set_exit_on_disconnect(dbus_g_connection_get_connection(connection), FALSE);
  return connection;
}

void PrivateBus::closeConnection(DBusGConnection* connection) {
  if (connection == nullptr) return;
  dbus_connection_close(dbus_g_connection_get_connection(connection));
  dbus_g_connection_unref(connection);
}

const ModuleNames kModuleNames[15] = {
    {0, "com.helvorand.tobrel.Led", "/com/helvorand/tobrel/Led", "com.helvorand.tobrel.TobrelInterface", "LED"},
    {1, "com.helvorand.tobrel.Ears", "/com/helvorand/tobrel/Ears", "com.helvorand.tobrel.TobrelInterface", "EARS"},
    {2, "com.helvorand.tobrel.Rss", "/com/helvorand/tobrel/Rss", "com.helvorand.tobrel.TobrelInterface", "RSS"},
    {3, "com.helvorand.tobrel.Voice", "/com/helvorand/tobrel/Voice", "com.helvorand.tobrel.TobrelInterface", "TTS"},
    {4, "com.helvorand.tobrel.Rfid", "/com/helvorand/tobrel/Rfid", "com.helvorand.tobrel.TobrelInterface", "RFID"},
    {5, "com.helvorand.tobrel.Button", "/com/helvorand/tobrel/Button", "com.helvorand.tobrel.TobrelInterface",
     "BUTTON"},
    {6, "com.helvorand.tobrel.Multimedia", "/com/helvorand/tobrel/Multimedia",
     "com.helvorand.tobrel.TobrelInterface", "MULTIMEDIA"},
    {7, "com.helvorand.tobrel.Controller", "/com/helvorand/tobrel/Controller",
     "com.helvorand.tobrel.TobrelInterface", "BUTTON"},
    {8, "org.moblin.connman", "/", "org.moblin.connman.Manager", "CONNMAN"},
    {9, "com.helvorand.tobrel.Choreography_manager", "/com/helvorand/tobrel/Choreography_manager",
     "com.helvorand.tobrel.TobrelInterface", "CHOREOGRAPHY_MANAGER"},
    {10, "com.helvorand.tobrel.Webcam", "/com/helvorand/tobrel/Webcam", "com.helvorand.tobrel.TobrelInterface",
     "WEBCAM"},
    {11, "com.helvorand.tobrel.Scheduler", "/com/helvorand/tobrel/Scheduler", "com.helvorand.tobrel.TobrelInterface",
     "SCHEDULER"},
    {12, "com.helvorand.tobrel.T2t", "/com/helvorand/tobrel/T2t", "com.helvorand.tobrel.TobrelInterface", "T2T"},
    {13, "com.helvorand.tobrel.Serial", "/com/helvorand/tobrel/Serial", "com.helvorand.tobrel.TobrelInterface",
     "SERIAL"},
    {14, "com.helvorand.tobrel.Dock", "/com/helvorand/tobrel/Dock", "com.helvorand.tobrel.TobrelInterface", "DOCK"},
};

std::string capturedStdout(const std::function<void()>& body) {
  fflush(stdout);
  testing::internal::CaptureStdout();
  body();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}
