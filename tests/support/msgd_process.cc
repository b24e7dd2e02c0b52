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

#include "process.h"

namespace tobrel::test {

namespace {
using Clock = std::chrono::steady_clock;
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
    tobrel_test::execProgram(argv.data());
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
  reader_ = std::thread([this] { readOutput(); });

  const std::string prefix = "listening on " + host_ + ":";
  auto line = waitForLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, kStartTimeout);
  if (!line) {
    bool ended;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended = outputEnded_;
    }
    const int status = stop();
    startError_ = ended ? "msgd ended (status " + std::to_string(status) + ") before it listened; its output:"
                        : "msgd did not listen within " + std::to_string(kStartTimeout.count()) + " ms; its output:";
    for (const std::string& l : lines()) startError_ += "\n  " + l;
    return;
  }
  port_ = std::stoi(line->substr(prefix.size()));
}

MsgdProcess::~MsgdProcess() { stop(); }

void MsgdProcess::readOutput() {
  std::string partial;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(outputFd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      if (!partial.empty()) lines_.push_back(partial);
      outputEnded_ = true;
      changed_.notify_all();
      return;
    }
    partial.append(buf, static_cast<size_t>(n));
    std::string::size_type nl;
    while ((nl = partial.find('\n')) != std::string::npos) {
      lines_.push_back(partial.substr(0, nl));
      partial.erase(0, nl + 1);
    }
    changed_.notify_all();
  }
}

std::vector<std::string> MsgdProcess::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

size_t MsgdProcess::mark() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.size();
}

std::optional<std::string> MsgdProcess::waitForLine(
    const std::function<bool(const std::string&)>& pred, Millis timeout, size_t from) {
  const auto deadline = Clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  size_t next = from;
  for (;;) {
    for (; next < lines_.size(); ++next)
      if (pred(lines_[next])) return lines_[next];
    if (outputEnded_) return std::nullopt;
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (; next < lines_.size(); ++next)
        if (pred(lines_[next])) return lines_[next];
      return std::nullopt;
    }
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
  // A start that failed closed the link: say why it failed, not only that the link is gone.
  if (controlFd_ < 0 && !startError_.empty()) {
    if (error) *error = startError_;
    return false;
  }
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
  if (pid_ > 0) {
    // The end of control input stops msgd; one run with --no-stdin needs SIGTERM, a hung one
    // SIGKILL.
    int status = 0;
    for (int sig : {0, SIGTERM, SIGKILL}) {
      if (sig) kill(pid_, sig);
      const auto deadline = Clock::now() + Millis(2000);
      pid_t done = 0;
      while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        usleep(5000);
      if (done == pid_) break;
    }
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // msgd is gone, so its output ends (unless it left a child holding the pipe: it starts none).
  if (reader_.joinable()) reader_.join();
  if (outputFd_ >= 0) {
    ::close(outputFd_);
    outputFd_ = -1;
  }
  return status_;
}

}  // namespace tobrel::test
