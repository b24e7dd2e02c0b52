// Test support: private system-like dbus-daemon (see private_bus.h).
#include "private_bus.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tobrel::test {

namespace {

// The default policy of a system bus: anyone may connect and talk to the bus itself; owning
// names and calling methods need a hole from a service's policy file.
const char kConfigHead[] = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
  </policy>
  <policy user="root">
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Monitoring"/>
  </policy>
)";

}  // namespace

PrivateBus::PrivateBus(const std::vector<std::string> &policy_files) {
  char tmpl[] = "/tmp/tobrel-bus-XXXXXX";
  if (!mkdtemp(tmpl)) {
    error_ = std::string("mkdtemp: ") + strerror(errno);
    return;
  }
  dir_ = tmpl;
  // Other users (for policy tests) must reach the socket.
  chmod(dir_.c_str(), 0755);
  const std::string config = dir_ + "/bus.conf";
  {
    std::ofstream out(config);
    out << kConfigHead << "  <listen>unix:path=" << dir_ << "/socket</listen>\n";
    for (const std::string &f : policy_files) out << "  <include>" << f << "</include>\n";
    out << "</busconfig>\n";
  }
  int fds[2];
  if (pipe(fds) != 0) {
    error_ = "pipe failed";
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    std::string conf_arg = "--config-file=" + config;
    std::string addr_arg = "--print-address=" + std::to_string(fds[1]);
    execl(DBUS_DAEMON_PATH, DBUS_DAEMON_PATH, conf_arg.c_str(), "--nofork", "--nopidfile",
          addr_arg.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string line;
  for (;;) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) break;
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  close(fds[0]);
  if (line.empty()) error_ = "dbus-daemon printed no address";
  address_ = line;
}

PrivateBus::~PrivateBus() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (!dir_.empty()) {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) {
    }
  }
}

}  // namespace tobrel::test
