// SyslogCapture: a /dev/log of the test's own in a child's private mount namespace.
#include "syslog_capture.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <stdexcept>

namespace tobrel_test {

SyslogCapture::SyslogCapture() {
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) throw std::runtime_error("syslog capture: no socket");
  int size = 4 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

SyslogCapture::~SyslogCapture() { close(fd_); }

bool SyslogCapture::prepareChild(std::string* error) const {
  auto fail = [error](const char* what) {
    *error = std::string("syslog capture: ") + what + ": " + strerror(errno);
    return false;
  };
  if (unshare(CLONE_NEWNS) != 0) return fail("unshare");
  // Private first, or the tmpfs below would propagate to the machine's /dev.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return fail("make / private");
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0) return fail("mount /dev");
  struct Node {
    const char* path;
    unsigned major, minor;
  };
  const Node nodes[] = {{"/dev/null", 1, 3}, {"/dev/zero", 1, 5}, {"/dev/full", 1, 7},
                        {"/dev/random", 1, 8}, {"/dev/urandom", 1, 9}, {"/dev/tty", 5, 0}};
  for (const Node& node : nodes) {
    if (mknod(node.path, S_IFCHR | 0666, makedev(node.major, node.minor)) != 0) return fail(node.path);
  }
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, "/dev/log");
  // The socket is shared with the test process, which keeps reading it after this child execs.
  if (bind(fd_, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) return fail("bind /dev/log");
  chmod("/dev/log", 0666);
  return true;
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
