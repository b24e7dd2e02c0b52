// SyslogCapture: a /dev/log of the test's own in a child's private mount namespace.
#include "syslog_capture.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <stdexcept>

#include "private_dev_log.h"

namespace tobrel_test {

SyslogCapture::SyslogCapture() {
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) throw std::runtime_error("syslog capture: no socket");
  int size = 4 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

SyslogCapture::~SyslogCapture() { close(fd_); }

bool SyslogCapture::prepareChild(std::string* error) const {
  // The socket is shared with the test process, which keeps reading it after this child execs.
  return enterPrivateDevLog(fd_, error);
}

bool SyslogCapture::available() {
  static const bool result = [] {
    SyslogCapture probe;
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      std::string error;
      _exit(probe.prepareChild(&error) ? 0 : 1);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }();
  return result;
}

SyslogRecord SyslogCapture::parse(const std::string& datagram) {
  SyslogRecord record;
  record.raw = datagram;
  // "<PRI>Mmm dd hh:mm:ss ident[pid]: message"
  if (datagram.size() < 3 || datagram[0] != '<') return record;
  const size_t close = datagram.find('>');
  if (close == std::string::npos) return record;
  const int priority = atoi(datagram.substr(1, close - 1).c_str());
  record.facility = priority & LOG_FACMASK;
  record.severity = LOG_PRI(priority);
  size_t pos = close + 1 + 16;  // the timestamp and its space
  if (pos > datagram.size()) return record;
  const size_t colon = datagram.find(": ", pos);
  if (colon == std::string::npos) return record;
  std::string head = datagram.substr(pos, colon - pos);
  const size_t bracket = head.find('[');
  if (bracket != std::string::npos) {
    record.pid = atoi(head.c_str() + bracket + 1);
    head.resize(bracket);
  }
  record.ident = head;
  record.message = datagram.substr(colon + 2);
  return record;
}

void SyslogCapture::drain() {
  char buffer[65536];
  for (;;) {
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0) break;
    records_.push_back(parse(std::string(buffer, static_cast<size_t>(n))));
  }
}

const std::vector<SyslogRecord>& SyslogCapture::records() {
  drain();
  return records_;
}

std::vector<SyslogRecord> SyslogCapture::find(const std::string& message) {
  std::vector<SyslogRecord> found;
  for (const SyslogRecord& r : records()) {
    if (r.message == message) found.push_back(r);
  }
  return found;
}

}  // namespace tobrel_test
