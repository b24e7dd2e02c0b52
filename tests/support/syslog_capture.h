// Test support: capture what a child process sends to syslog, without a syslog daemon and
// without touching the machine's /dev.
//
// The capture owns a datagram socket. A child started by process.h with RunOptions::syslog
// set binds it at a /dev/log of its own (private_dev_log.h), so openlog()/syslog() in that
// child and its descendants land here. Needs root (as the tests run). One capture per child.
// RunOptions::discardSyslog gives a child such a sink whose lines are thrown away: without a
// syslog daemon, LOG_CONS would otherwise send every line to the console, slowly.
//
//   tobrel_test::SyslogCapture syslog;
//   RunOptions opts; opts.syslog = &syslog;
//   runProgram({...}, opts);
//   for (const auto& r : syslog.records()) ... r.ident, r.pid, r.facility, r.severity, r.message
#ifndef TOBREL_TESTS_SUPPORT_SYSLOG_CAPTURE_H
#define TOBREL_TESTS_SUPPORT_SYSLOG_CAPTURE_H

#include <string>
#include <vector>

namespace tobrel_test {

struct SyslogRecord {
  int facility = -1;  // LOG_LOCAL1 etc., already shifted (as in <syslog.h>)
  int severity = -1;  // LOG_WARNING etc.
  std::string ident;
  int pid = 0;
  std::string message;
  std::string raw;  // the datagram as received
};

class SyslogCapture {
 public:
  SyslogCapture();
  ~SyslogCapture();
  SyslogCapture(const SyslogCapture&) = delete;
  SyslogCapture& operator=(const SyslogCapture&) = delete;

  // The socket; process.h polls it while a child runs so a chatty child never blocks.
  int fd() const { return fd_; }

  // Runs in the forked child before exec (process.h calls it). Returns false with a reason
  // when the namespace or the mounts cannot be made.
  bool prepareChild(std::string* error) const;

  // Reads every datagram that has arrived so far.
  void drain();
  // All records received so far (drains first).
  const std::vector<SyslogRecord>& records();
  void clear() { records_.clear(); }
  // Records whose message equals `message` exactly.
  std::vector<SyslogRecord> find(const std::string& message);

  static SyslogRecord parse(const std::string& datagram);
  // Whether a child can have a private /dev/log here (root, mount namespaces allowed); tried
  // once in a throw-away child, then remembered.
  static bool available();

 private:
  int fd_ = -1;
  std::vector<SyslogRecord> records_;
};

}  // namespace tobrel_test

#endif
