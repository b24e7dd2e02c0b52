// Test support: private /dev/log in a mount namespace (see private_syslog.h).
#include "private_syslog.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace tobrel::test {

SyslogLine parseSyslogDatagram(const std::string &raw) {
  SyslogLine line;
  line.raw = raw;
  if (raw.size() < 3 || raw[0] != '<') return line;
  size_t close = raw.find('>');
  if (close == std::string::npos) return line;
  int pri = atoi(raw.substr(1, close - 1).c_str());
  line.facility = pri & ~7;
  line.priority = pri & 7;
  // glibc: "<PRI>Mmm dd hh:mm:ss ident[pid]: message"; the timestamp is 15 characters.
  size_t ident_start = close + 1 + 16;
  size_t colon = raw.find(": ", ident_start);
  if (ident_start > raw.size() || colon == std::string::npos) return line;
  std::string tag = raw.substr(ident_start, colon - ident_start);
  size_t bracket = tag.find('[');
  if (bracket != std::string::npos) {
    line.ident = tag.substr(0, bracket);
    line.pid = atoi(tag.c_str() + bracket + 1);
  } else {
    line.ident = tag;
  }
  line.message = raw.substr(colon + 2);
  return line;
}

int enterPrivateDevLog() {
  if (unshare(CLONE_NEWNS) != 0) return -1;
  // Keep every mount change inside the new namespace.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return -1;
  // /dev/null is still wanted by programs started under the private /dev.
  int devnull = open("/dev/null", O_RDWR);
  if (mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) return -1;
  if (devnull >= 0) {
    int fd = open("/dev/null", O_CREAT | O_RDWR, 0666);
    if (fd >= 0) close(fd);
    std::string self = "/proc/self/fd/" + std::to_string(devnull);
    mount(self.c_str(), "/dev/null", nullptr, MS_BIND, nullptr);
    close(devnull);
  }
  int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return -1;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  strcpy(addr.sun_path, "/dev/log");
  if (bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    int e = errno;
    close(sock);
    errno = e;
    return -1;
  }
  return sock;
}

bool privateSyslogAvailable() {
  static int available = -1;
  if (available < 0) {
    pid_t pid = fork();
    if (pid == 0) _exit(enterPrivateDevLog() >= 0 ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    available = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return available == 1;
}

std::vector<SyslogLine> drainSyslog(int fd, int settle_ms) {
  std::vector<SyslogLine> lines;
  char buf[65536];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, settle_ms) <= 0) break;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    lines.push_back(parseSyslogDatagram(std::string(buf, static_cast<size_t>(n))));
  }
  return lines;
}

namespace {

void writeRecord(int fd, char kind, const std::string &data) {
  uint32_t n = static_cast<uint32_t>(data.size());
  std::string rec(1, kind);
  rec.append(reinterpret_cast<const char *>(&n), sizeof n);
  rec += data;
  size_t off = 0;
  while (off < rec.size()) {
    ssize_t w = write(fd, rec.data() + off, rec.size() - off);
    if (w <= 0) return;
    off += static_cast<size_t>(w);
  }
}

}  // namespace

CapturedRun runWithPrivateSyslog(const std::function<void()> &body) {
  CapturedRun run;
  int pipefd[2];
  if (pipe(pipefd) != 0) return run;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(pipefd[0]);
    int sock = enterPrivateDevLog();
    if (sock < 0) _exit(90);
    int out = memfd_create("stdout", 0);
    dup2(out, STDOUT_FILENO);
    body();
    fflush(nullptr);
    std::string text;
    char buf[4096];
    lseek(out, 0, SEEK_SET);
    for (ssize_t n; (n = read(out, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    writeRecord(pipefd[1], 'O', text);
    for (const SyslogLine &l : drainSyslog(sock, 0)) writeRecord(pipefd[1], 'D', l.raw);
    _exit(0);
  }
  close(pipefd[1]);
  std::string all;
  char buf[4096];
  for (ssize_t n; (n = read(pipefd[0], buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  waitpid(pid, &run.wait_status, 0);
  size_t off = 0;
  while (off + 5 <= all.size()) {
    char kind = all[off];
    uint32_t n;
    memcpy(&n, all.data() + off + 1, sizeof n);
    std::string data = all.substr(off + 5, n);
    off += 5 + n;
    if (kind == 'O') run.out = data;
    else run.syslog.push_back(parseSyslogDatagram(data));
  }
  return run;
}

}  // namespace tobrel::test
