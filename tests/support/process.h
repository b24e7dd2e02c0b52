// Test support: runs a program under test with its own environment, output captured in a file
// (standard output and error together), optionally under a private /dev/log.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "private_syslog.h"

namespace tobrel::test {

struct SpawnOptions {
  std::vector<std::string> argv;
  // Changes to the inherited environment: a value sets the variable, nullopt removes it.
  std::map<std::string, std::optional<std::string>> env;
  bool private_syslog = false;
};

class Process {
 public:
  Process() = default;
  ~Process();
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;

  bool start(const SpawnOptions &options);
  pid_t pid() const { return pid_; }

  // Everything the program wrote so far.
  std::string output() const;
  // Polls the output until it contains `needle`.
  bool waitForOutput(const std::string &needle, int timeout_ms) const;
  // Waits for the program to end; false on time-out. `status` gets the raw wait status.
  bool wait(int timeout_ms, int *status);
  bool running() const { return pid_ > 0; }
  // SIGTERM, then SIGKILL after a grace period; reaps the program.
  void stop();

  // Syslog datagrams received so far (private_syslog only); waits up to `settle_ms` for more.
  std::vector<SyslogLine> syslog(int settle_ms);

 private:
  pid_t pid_ = -1;
  std::string out_path_;
  int syslog_fd_ = -1;
  std::vector<SyslogLine> syslog_lines_;
};

// A fresh temporary folder, removed with its contents at the end of the scope.
struct TempDir {
  TempDir();
  ~TempDir();
  std::string path;
};

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &content);

}  // namespace tobrel::test
