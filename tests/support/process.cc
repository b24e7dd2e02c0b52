// Test support: spawning programs under test (see process.h).
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

extern char **environ;

namespace tobrel::test {

namespace {

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// One byte of data with room for one descriptor, the shape both ends of the hand-over use.
struct FdMessage {
  char byte = 0;
  iovec iov{&byte, 1};
  char ctrl[CMSG_SPACE(sizeof(int))] = {};
  msghdr msg{};
  FdMessage() {
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = ctrl;
    msg.msg_controllen = sizeof ctrl;
  }
};

bool sendFd(int sock, int fd) {
  FdMessage m;
  cmsghdr *c = CMSG_FIRSTHDR(&m.msg);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(int));
  memcpy(CMSG_DATA(c), &fd, sizeof fd);
  return sendmsg(sock, &m.msg, 0) == 1;
}

int receiveFd(int sock) {
  FdMessage m;
  if (recvmsg(sock, &m.msg, 0) != 1) return -1;
  cmsghdr *c = CMSG_FIRSTHDR(&m.msg);
  if (!c || c->cmsg_type != SCM_RIGHTS) return -1;
  int fd;
  memcpy(&fd, CMSG_DATA(c), sizeof fd);
  return fd;
}

}  // namespace

Process::~Process() {
  stop();
  if (syslog_fd_ >= 0) close(syslog_fd_);
  if (!out_path_.empty()) unlink(out_path_.c_str());
}

bool Process::start(const SpawnOptions &options) {
  char tmpl[] = "/tmp/tobrel-out-XXXXXX";
  int out = mkstemp(tmpl);
  if (out < 0) return false;
  out_path_ = tmpl;

  std::map<std::string, std::string> env;
  for (char **e = environ; *e; ++e) {
    const char *eq = strchr(*e, '=');
    if (eq) env[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  for (const auto &[k, v] : options.env) {
    if (v) env[k] = *v;
    else env.erase(k);
  }
  std::vector<std::string> env_strings;
  for (const auto &[k, v] : env) env_strings.push_back(k + "=" + v);
  std::vector<char *> envp, argv;
  for (std::string &s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = options.argv;
  for (std::string &s : args) argv.push_back(s.data());
  argv.push_back(nullptr);

  int pair[2] = {-1, -1};
  if (options.private_syslog && socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return false;
  fflush(nullptr);
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    if (options.private_syslog) {
      close(pair[0]);
      int sock = enterPrivateDevLog();
      if (sock < 0 || !sendFd(pair[1], sock)) _exit(126);
      close(sock);
      close(pair[1]);
    }
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    close(out);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out);
  if (options.private_syslog) {
    close(pair[1]);
    syslog_fd_ = receiveFd(pair[0]);
    close(pair[0]);
    if (syslog_fd_ < 0) return false;
  }
  return true;
}

std::string Process::output() const { return readFile(out_path_); }

bool Process::waitForOutput(const std::string &needle, int timeout_ms) const {
  long long end = nowMs() + timeout_ms;
  for (;;) {
    if (output().find(needle) != std::string::npos) return true;
    if (nowMs() > end) return false;
    usleep(10000);
  }
}

bool Process::wait(int timeout_ms, int *status) {
  if (pid_ <= 0) return false;
  long long end = nowMs() + timeout_ms;
  for (;;) {
    int st;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      if (status) *status = st;
      return true;
    }
    if (r < 0 && errno != EINTR) return false;
    if (nowMs() > end) return false;
    usleep(5000);
  }
}

void Process::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (wait(3000, nullptr)) return;
  kill(pid_, SIGKILL);
  wait(3000, nullptr);
}

std::vector<SyslogLine> Process::syslog(int settle_ms) {
  if (syslog_fd_ >= 0)
    for (SyslogLine &l : drainSyslog(syslog_fd_, settle_ms)) syslog_lines_.push_back(std::move(l));
  return syslog_lines_;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/tobrel-test-XXXXXX";
  if (mkdtemp(tmpl)) path = tmpl;
}

TempDir::~TempDir() {
  if (path.empty()) return;
  std::string cmd = "rm -rf '" + path + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string &path, const std::string &content) {
  std::ofstream(path, std::ios::binary) << content;
}

}  // namespace tobrel::test
