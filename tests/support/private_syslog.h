// Test support: a private /dev/log. A forked process enters its own mount namespace, puts a
// tmpfs on /dev there and binds a datagram socket at /dev/log, so the syslog lines of the code
// under test (or of a program it execs) can be read back without touching the real /dev.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tobrel::test {

// One syslog datagram, split as glibc writes it: "<PRI>timestamp ident[pid]: message".
struct SyslogLine {
  int facility = -1;  // LOG_LOCAL1 etc. (already shifted, as in <syslog.h>)
  int priority = -1;  // LOG_ERR .. LOG_DEBUG
  std::string ident;
  pid_t pid = 0;
  std::string message;
  std::string raw;
};

SyslogLine parseSyslogDatagram(const std::string &raw);

// Whether this machine lets us make a private mount namespace (root, unshare allowed).
bool privateSyslogAvailable();

// In the calling process: unshare the mount namespace, mount a tmpfs on /dev and bind a
// datagram socket at /dev/log. Returns the socket, or -1 (errno set).
int enterPrivateDevLog();

// Runs `body` in a forked child with a private /dev/log and standard output captured.
struct CapturedRun {
  std::vector<SyslogLine> syslog;
  std::string out;       // what the child wrote on standard output
  int wait_status = -1;  // the child's raw wait status
};
CapturedRun runWithPrivateSyslog(const std::function<void()> &body);

// Reads every datagram already queued on `fd`, waiting up to `settle_ms` for more to arrive.
std::vector<SyslogLine> drainSyslog(int fd, int settle_ms);

}  // namespace tobrel::test
