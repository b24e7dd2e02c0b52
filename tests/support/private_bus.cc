// Test support: private system-like dbus-daemon (see private_bus.h).
#include "private_bus.h"

#include <sys/stat.h>

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
  // Other users (for policy tests) must reach the socket.
  chmod(dir_.path().c_str(), 0755);
  std::string config = kConfigHead;
  config += "  <listen>unix:path=" + dir_.path() + "/socket</listen>\n";
  for (const std::string &f : policy_files) config += "  <include>" + f + "</include>\n";
  config += "</busconfig>\n";
  tobrel_test::RunOptions options;
  // Into a file: a bus that logs every refused message must never stall on a full pipe.
  options.outputToFile = true;
  daemon_ = tobrel_test::Process::start({DBUS_DAEMON_PATH, "--config-file=" + dir_.write("bus.conf", config),
                                         "--nofork", "--nopidfile", "--print-address"},
                                        options);
  // The address is a line of its own, once the bus listens; warnings may come before it.
  const std::string prefix = "unix:";
  auto addressLine = [&]() -> std::string {
    const std::string &out = daemon_->out();
    for (size_t at = 0; at < out.size();) {
      const size_t end = out.find('\n', at);
      if (end == std::string::npos) break;
      if (out.compare(at, prefix.size(), prefix) == 0) return out.substr(at, end - at);
      at = end + 1;
    }
    return "";
  };
  daemon_->waitUntil([&] { return !addressLine().empty() || !daemon_->running(); }, 10000);
  address_ = addressLine();
  if (address_.empty()) error_ = "dbus-daemon printed no address: " + daemon_->output();
}

PrivateBus::~PrivateBus() { daemon_->stop(); }

}  // namespace tobrel::test
