// Runs the recognition-server stand-in (asrd) for one test: start with options, read back its
// port, collect its per-session lines, stop it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "process.h"

class AsrdProcess {
 public:
  explicit AsrdProcess(const std::vector<std::string> &options = {});
  ~AsrdProcess();
  AsrdProcess(const AsrdProcess &) = delete;
  AsrdProcess &operator=(const AsrdProcess &) = delete;

  int port() const { return port_; }
  // The next "session ..." line, waiting up to timeoutMs; empty when none came.
  std::string nextSession(int timeoutMs = 5000);

 private:
  std::unique_ptr<tobrel_test::Process> process_;
  int port_ = 0;
  size_t read_ = 0;  // how much of its standard output the lines handed out so far took
  std::string readLine(int timeoutMs);
};

// A field of a session line, e.g. field(line, "frames") for "... frames 3 ...".
std::string sessionField(const std::string &line, const std::string &name);
// The bytes of a field that asrd prints in hexadecimal (the grammar; "-" for none).
std::string sessionBytes(const std::string &line, const std::string &name);
// An address on 127.0.0.1 where nothing listens (a port just bound and released).
int unusedPort();
