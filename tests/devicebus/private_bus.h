// Test support for devicebus: a private message bus per test process, stand-in services on it,
// and the names each module number must reach.
#ifndef TESTS_DEVICEBUS_PRIVATE_BUS_H
#define TESTS_DEVICEBUS_PRIVATE_BUS_H

#include <dbus/dbus-glib.h>
#include <glib.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// A child process started by a test; stopped (SIGTERM, then reaped) when the object goes.
class Child {
 public:
  Child() = default;
  ~Child() { stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts argv with `env` added to the environment; reads standard output until a line
  // starting with `readyPrefix` (kept in readyLine()) or 10 s pass. False when it does not come.
  bool start(const std::vector<std::string>& argv, const std::string& readyPrefix,
             const std::vector<std::string>& env = {});
  void stop();
  const std::string& readyLine() const { return readyLine_; }

 private:
  pid_t pid_ = 0;
  int out_ = -1;
  std::string readyLine_;
};

// dbus-daemon on a private socket; its address is exported as DBUS_SYSTEM_BUS_ADDRESS, so the
// system bus of this process and of the children it starts is this bus.
class PrivateBus {
 public:
  bool start();
  const std::string& address() const { return address_; }
  // A new connection of this process to the bus (registered with it); closed by closeConnection.
  DBusGConnection* connect();
  static void closeConnection(DBusGConnection* connection);

 private:
  Child daemon_;
  std::string address_;
};

// The names a module number stands for; the stand-in owns them where the module is served.
struct ModuleNames {
  int number;
  const char* service;
  const char* path;
  const char* interface;
  const char* label;
};
extern const ModuleNames kModuleNames[15];

// Runs `body` and returns what it wrote on standard output.
std::string capturedStdout(const std::function<void()>& body);

#endif
