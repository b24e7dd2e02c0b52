// Test support: a private dbus-daemon per test, configured like a system bus (owning any name
// is denied, method calls too, unless an included policy file opens a hole).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "temp_dir.h"

namespace tobrel::test {

class PrivateBus {
 public:
  // `policy_files` are included in the bus configuration, as the system bus includes the files
  // of its system.d folder.
  explicit PrivateBus(const std::vector<std::string> &policy_files = {});
  ~PrivateBus();
  PrivateBus(const PrivateBus &) = delete;
  PrivateBus &operator=(const PrivateBus &) = delete;

  bool ok() const { return !address_.empty(); }
  const std::string &error() const { return error_; }
  // The address to give clients, e.g. as DBUS_SYSTEM_BUS_ADDRESS.
  const std::string &address() const { return address_; }
  const std::string &dir() const { return dir_.path(); }

 private:
  tobrel_test::TempDir dir_;
  std::unique_ptr<tobrel_test::Process> daemon_;
  std::string address_;
  std::string error_;
};

}  // namespace tobrel::test
