// Child-process handling for the msgd test support: fork/exec, a socket pair for control
// input (so a write to a dead msgd fails instead of raising SIGPIPE) and a pipe for its output.
#include "msgd_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <google/protobuf/text_format.h>

namespace tobrel::test {

namespace {

using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

std::string MsgdProcess::programPath() { return TOBREL_MSGD_PROGRAM; }

MsgdProcess::MsgdProcess(const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args = {programPath(), "--port", "0"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int control[2], output[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0 ||
      pipe2(output, O_CLOEXEC) != 0) {
    startError_ = std::string("cannot make pipes: ") + std::strerror(errno);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(control[1], STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(control[1]);
  ::close(output[1]);
  controlFd_ = control[0];
  outputFd_ = output[0];
  if (pid_ < 0) {
    startError_ = std::string("fork failed: ") + std::strerror(errno);
    return;
  }

  const std::string prefix = "listening on " + host_ + ":";
  auto line = waitForLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  if (!line) {
    startError_ = "msgd did not start listening; its output:";
    for (const std::string& l : lines_) startError_ += "\n  " + l;
    stop();
    return;
  }
  port_ = std::stoi(line->substr(prefix.size()));
}

MsgdProcess::~MsgdProcess() { stop(); }

bool MsgdProcess::readSome(Millis timeout) {
  if (outputFd_ < 0) return false;
  pollfd p{outputFd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
  if (ready <= 0) return ready == 0 || errno == EINTR;
  char buf[65536];
  const ssize_t n = ::read(outputFd_, buf, sizeof buf);
  if (n <= 0) {
    if (n < 0 && errno == EINTR) return true;
    ::close(outputFd_);
    outputFd_ = -1;
    if (!partial_.empty()) lines_.push_back(partial_);
    partial_.clear();
    return false;
  }
  partial_.append(buf, static_cast<size_t>(n));
  std::string::size_type nl;
  while ((nl = partial_.find('\n')) != std::string::npos) {
    lines_.push_back(partial_.substr(0, nl));
    partial_.erase(0, nl + 1);
  }
  return true;
}

const std::vector<std::string>& MsgdProcess::lines() {
  while (outputFd_ >= 0) {
    pollfd p{outputFd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !readSome(Millis(0))) break;
  }
  return lines_;
}

std::optional<std::string> MsgdProcess::waitForLine(
    const std::function<bool(const std::string&)>& pred, Millis timeout, size_t from) {
  const auto deadline = Clock::now() + timeout;
  size_t next = from;
  for (;;) {
    for (; next < lines_.size(); ++next)
      if (pred(lines_[next])) return lines_[next];
    if (Clock::now() >= deadline) return std::nullopt;
    if (!readSome(Millis(millisLeft(deadline))) && next >= lines_.size()) return std::nullopt;
  }
}

std::optional<std::string> MsgdProcess::waitForText(const std::string& text, Millis timeout,
                                                    size_t from) {
  return waitForLine([&](const std::string& l) { return l.find(text) != std::string::npos; },
                     timeout, from);
}

std::optional<MsgdProcess::Received> MsgdProcess::parseReceived(const std::string& line) {
  // conn N recv KIND TEXT
  char kind[256];
  int conn = 0, offset = 0;
  if (std::sscanf(line.c_str(), "conn %d recv %255s %n", &conn, kind, &offset) < 2 || offset == 0)
    return std::nullopt;
  Received r;
  r.conn = conn;
  r.kind = kind;
  google::protobuf::TextFormat::Parser parser;
  parser.AllowPartialMessage(true);
  if (!parser.ParseFromString(line.substr(static_cast<size_t>(offset)), &r.msg)) return std::nullopt;
  return r;
}

std::optional<MsgdProcess::Received> MsgdProcess::waitForReceived(
    const std::function<bool(const Received&)>& pred, Millis timeout, size_t from) {
  std::optional<Received> found;
  waitForLine(
      [&](const std::string& l) {
        auto r = parseReceived(l);
        if (r && pred(*r)) found = std::move(r);
        return found.has_value();
      },
      timeout, from);
  return found;
}

std::vector<MsgdProcess::Received> MsgdProcess::received() {
  std::vector<Received> out;
  for (const std::string& l : lines())
    if (auto r = parseReceived(l)) out.push_back(std::move(*r));
  return out;
}

bool MsgdProcess::control(const std::string& line, std::string* error, Millis timeout) {
  const size_t from = mark();
  const std::string text = line + "\n";
  if (controlFd_ < 0 || ::send(controlFd_, text.data(), text.size(), MSG_NOSIGNAL) !=
                            static_cast<ssize_t>(text.size())) {
    if (error) *error = "msgd does not take control lines any more";
    return false;
  }
  auto verdict = waitForLine(
      [](const std::string& l) { return l.rfind("ok: ", 0) == 0 || l.rfind("error: ", 0) == 0; },
      timeout, from);
  if (!verdict) {
    if (error) *error = "no verdict from msgd on: " + line;
    return false;
  }
  if (verdict->rfind("ok: ", 0) == 0) return true;
  if (error) *error = verdict->substr(7);
  return false;
}

int MsgdProcess::stop() {
  if (controlFd_ >= 0) {
    ::close(controlFd_);
    controlFd_ = -1;
  }
  if (pid_ <= 0) return status_;
  // The end of control input stops msgd; one run with --no-stdin needs SIGTERM, a hung one SIGKILL.
  int status = 0;
  pid_t done = 0;
  for (int sig : {0, SIGTERM, SIGKILL}) {
    if (sig) kill(pid_, sig);
    const auto deadline = Clock::now() + Millis(2000);
    while (outputFd_ >= 0 && Clock::now() < deadline) readSome(Millis(millisLeft(deadline)));
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
      usleep(5000);
    if (done == pid_) break;
  }
  pid_ = -1;
  if (outputFd_ >= 0) {
    ::close(outputFd_);
    outputFd_ = -1;
  }
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

}  // namespace tobrel::test
