// Process: fork/exec with pipes, a poll loop over stdout, stderr and the syslog capture, and a
// process group per child so nothing it starts outlives the test.
#include "process.h"

#include <alloca.h>
#include <dirent.h>
#include <arpa/inet.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "syslog_capture.h"

namespace tobrel_test {

namespace {

long long nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Fields of /proc/<pid>/stat after the command name: state, ppid, pgrp.
bool readStat(pid_t pid, char* state, pid_t* ppid, pid_t* pgrp) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(file, text)) return false;
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(text.substr(close + 2));
  long parent = 0, group = 0;
  rest >> *state >> parent >> group;
  *ppid = static_cast<pid_t>(parent);
  *pgrp = static_cast<pid_t>(group);
  return true;
}

void childSetup(const RunOptions& options, int in, int out, int err) {
  setpgid(0, 0);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  // An abort in a child must not leave a core file behind.
  struct rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
  signal(SIGPIPE, SIG_DFL);
  for (const std::string& entry : options.env) {
    if (entry.find('=') == std::string::npos) unsetenv(entry.c_str());
    else putenv(strdup(entry.c_str()));
  }
  if (options.syslog != nullptr) {
    std::string error;
    if (!options.syslog->prepareChild(&error)) {
      fprintf(stderr, "%s\n", error.c_str());
      _exit(125);
    }
  }
}

// Whether `path` is an ELF file of the same class and machine as `other`.
bool sameMachine(const char* path, const char* other) {
  Elf32_Ehdr a, b;  // class and machine sit at the same offsets in 32- and 64-bit headers
  auto head = [](const char* file, Elf32_Ehdr* h) {
    const int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool got = read(fd, h, sizeof *h) == static_cast<ssize_t>(sizeof *h);
    close(fd);
    return got && memcmp(h->e_ident, ELFMAG, SELFMAG) == 0;
  };
  return head(path, &a) && head(other, &b) && a.e_ident[EI_CLASS] == b.e_ident[EI_CLASS] &&
         a.e_machine == b.e_machine;
}

// The emulator that `program` needs, or null.
const char* emulatorFor(const char* program) {
  return underEmulator() && sameMachine(program, "/proc/self/exe") ? getenv("TOBREL_EMULATOR") : nullptr;
}

}  // namespace

void execProgram(char* const argv[]) {
  if (const char* emulator = emulatorFor(argv[0])) {
    size_t count = 0;
    while (argv[count] != nullptr) ++count;
    char** args = static_cast<char**>(alloca((count + 2) * sizeof(char*)));
    args[0] = const_cast<char*>(emulator);
    for (size_t i = 0; i <= count; ++i) args[i + 1] = argv[i];
    execv(emulator, args);
    return;
  }
  execv(argv[0], argv);
}

std::vector<std::string> commandFor(const std::string& program) {
  if (const char* emulator = emulatorFor(program.c_str())) return {emulator, program};
  return {program};
}

std::string shellCommandFor(const std::string& program) {
  std::string command;
  for (const std::string& word : commandFor(program)) command += (command.empty() ? "'" : " '") + word + "'";
  return command;
}

bool underEmulator() {
  const char* emulator = getenv("TOBREL_EMULATOR");
  return emulator != nullptr && *emulator != '\0';
}

std::string RunResult::describe() const {
  std::ostringstream text;
  if (timedOut) text << "timed out; ";
  if (exited) text << "exit status " << exitCode;
  else text << "killed by signal " << signal;
  return text.str();
}

void Process::launch(const std::function<void()>& inChild, const RunOptions& given) {
  RunOptions options = given;
  if (options.syslog == nullptr && options.discardSyslog) {
    ownSyslog_.reset(new SyslogCapture);
    options.syslog = ownSyslog_.get();
  }
  // A child that ends early must not kill the test through a write to its closed stdin.
  signal(SIGPIPE, SIG_IGN);
  // Orphans of the child come to us, so they are reaped and never linger.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  int in[2], out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (options.outputToFile) {
    // One open file for both streams (appending, so the child's descendants interleave rather
    // than overwrite), and a second one here to read from at our own offset. Unlinked at once:
    // nothing is left behind.
    const char* base = getenv("TMPDIR");
    std::string path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tobrel-output-XXXXXX";
    out[1] = mkostemp(&path[0], O_CLOEXEC | O_APPEND);
    if (out[1] < 0) throw std::runtime_error("cannot create " + path);
    fileFd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    unlink(path.c_str());
    if (fileFd_ < 0) throw std::runtime_error("cannot read " + path);
    err[1] = out[1];
  } else if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  fflush(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    childSetup(options, in[0], out[1], err[1]);
    inChild();
    _exit(127);
  }
  setpgid(pid_, pid_);  // also here, so killGroup works before the child has run
  close(in[0]);
  close(out[1]);
  if (err[1] != out[1]) close(err[1]);
  in_ = in[1];
  outFd_ = out[0];
  errFd_ = err[0];
  if (outFd_ >= 0) fcntl(outFd_, F_SETFL, O_NONBLOCK);
  if (errFd_ >= 0) fcntl(errFd_, F_SETFL, O_NONBLOCK);
  syslog_ = options.syslog;
  if (!options.stdinText.empty()) write(options.stdinText);
}

std::unique_ptr<Process> Process::start(const std::vector<std::string>& argv, const RunOptions& options) {
  std::unique_ptr<Process> process(new Process);
  process->launch(
      [&argv]() {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execProgram(args.data());
        fprintf(stderr, "exec %s: %s\n", args[0], strerror(errno));
      },
      options);
  return process;
}

std::unique_ptr<Process> Process::start(const std::function<int()>& body, const RunOptions& options) {
  std::unique_ptr<Process> process(new Process);
  process->launch(
      [&body]() {
        const int status = body();
        fflush(nullptr);
        _exit(status);
      },
      options);
  return process;
}

Process::~Process() {
  killGroup(SIGKILL);
  if (!ended_ && pid_ > 0) waitpid(pid_, &status_, 0);
  reapGroup();
  if (in_ >= 0) close(in_);
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
  if (fileFd_ >= 0) close(fileFd_);
}

void Process::write(const std::string& text) {
  size_t done = 0;
  while (done < text.size() && in_ >= 0) {
    const ssize_t n = ::write(in_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
}

void Process::closeStdin() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool Process::readOutputFile() {
  if (fileFd_ < 0) return false;
  bool any = false;
  char buffer[65536];
  for (ssize_t n; (n = read(fileFd_, buffer, sizeof buffer)) > 0; any = true) out_.append(buffer, static_cast<size_t>(n));
  return any;
}

bool Process::pumpOnce(int ms) {
  // A file never polls as "not ready": read it, and look again soon rather than block on the rest.
  const bool fromFile = readOutputFile();
  if (fileFd_ >= 0 && ms > 10) ms = fromFile ? 0 : 10;
  struct pollfd fds[3] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {syslog_ != nullptr ? syslog_->fd() : -1, POLLIN, 0}};
  if (fds[0].fd < 0 && fds[1].fd < 0 && fds[2].fd < 0) return fromFile;
  const int ready = poll(fds, 3, ms);
  if (ready <= 0) return fromFile;
  bool any = fromFile;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
      any = true;
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      close(fds[i].fd);
      (i == 0 ? outFd_ : errFd_) = -1;
    }
  }
  if (fds[2].fd >= 0 && fds[2].revents != 0) {
    syslog_->drain();
    if (ownSyslog_) ownSyslog_->clear();
    any = true;
  }
  return any;
}

void Process::pump(int ms) {
  const long long end = nowMs() + ms;
  for (long long left = ms; left > 0; left = end - nowMs()) {
    if (outFd_ < 0 && errFd_ < 0 && syslog_ == nullptr) {
      usleep(static_cast<useconds_t>(left * 1000));
      readOutputFile();
      break;
    }
    pumpOnce(static_cast<int>(left));
  }
}

bool Process::waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const long long end = nowMs() + timeoutMs;
  while (!condition()) {
    const long long left = end - nowMs();
    if (left <= 0) return false;
    if (!pumpOnce(static_cast<int>(left < 20 ? left : 20)) && outFd_ < 0 && errFd_ < 0) usleep(5000);
  }
  return true;
}

std::string Process::output() {
  while (pumpOnce(0)) {
  }
  return out_ + err_;
}

bool Process::waitForOutput(const std::string& text, int timeoutMs) {
  return waitUntil([&]() { return out_.find(text) != std::string::npos || err_.find(text) != std::string::npos; },
                   timeoutMs);
}

bool Process::running() {
  if (!ended_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
  return !ended_;
}

RunResult Process::stop(int graceMs) {
  if (running()) kill(pid_, SIGTERM);
  return wait(graceMs);
}

bool Process::waitFor(Stream stream, const std::string& text, int timeoutMs) {
  const std::string& buffer = stream == Stream::kOut ? out_ : err_;
  return waitUntil([&]() { return buffer.find(text) != std::string::npos; }, timeoutMs);
}

void Process::killGroup(int signal) {
  if (pid_ > 0) kill(-pid_, signal);
}

void Process::reapGroup() {
  // Descendants that were reparented to us and belong to this child's group.
  for (pid_t child : childrenOf(getpid())) {
    char state;
    pid_t ppid, pgrp;
    if (readStat(child, &state, &ppid, &pgrp) && pgrp == pid_) waitpid(child, nullptr, 0);
  }
}

RunResult Process::wait(int timeoutMs, bool killRest) {
  RunResult result;
  const long long end = nowMs() + timeoutMs;
  while (!ended_) {
    const pid_t got = waitpid(pid_, &status_, WNOHANG);
    if (got == pid_) {
      ended_ = true;
      break;
    }
    if (nowMs() >= end) {
      result.timedOut = true;
      killGroup(SIGKILL);
      waitpid(pid_, &status_, 0);
      ended_ = true;
      break;
    }
    if (!pumpOnce(10) && outFd_ < 0 && errFd_ < 0) usleep(5000);
  }
  if (killRest) {
    killGroup(SIGKILL);
    reapGroup();
    // Every writer is gone now: read to the end of both pipes.
    const long long drainEnd = nowMs() + 5000;
    while ((outFd_ >= 0 || errFd_ >= 0) && nowMs() < drainEnd) pumpOnce(50);
  } else {
    pump(0);
  }
  readOutputFile();
  if (syslog_ != nullptr) syslog_->drain();
  result.out = out_;
  result.err = err_;
  if (WIFEXITED(status_)) {
    result.exited = true;
    result.exitCode = WEXITSTATUS(status_);
  } else if (WIFSIGNALED(status_)) {
    result.signal = WTERMSIG(status_);
  }
  return result;
}

RunResult runProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  auto process = Process::start(argv, options);
  if (options.closeStdin) process->closeStdin();
  return process->wait(options.timeoutMs);
}

RunResult runFunction(const std::function<int()>& body, const RunOptions& options) {
  auto process = Process::start(body, options);
  if (options.closeStdin) process->closeStdin();
  return process->wait(options.timeoutMs);
}

std::vector<pid_t> childrenOf(pid_t parent) {
  // Every thread keeps its own list; a child's parent is the thread that forked it.
  std::vector<pid_t> found;
  DIR* tasks = opendir(("/proc/" + std::to_string(parent) + "/task").c_str());
  if (tasks == nullptr) return found;
  while (struct dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream list("/proc/" + std::to_string(parent) + "/task/" + entry->d_name + "/children");
    for (long pid; list >> pid;) found.push_back(static_cast<pid_t>(pid));
  }
  closedir(tasks);
  return found;
}

std::string runShell(const std::string& command, int* status) {
  RunOptions options;
  options.outputToFile = true;
  options.timeoutMs = 120000;  // slow under a sanitizer on a loaded machine
  const RunResult r = runProgram({"/bin/sh", "-c", command}, options);
  if (status != nullptr) *status = r.exited ? r.exitCode : -1;
  return r.out;
}

bool isRunning(pid_t pid) {
  char state;
  pid_t ppid, pgrp;
  return readStat(pid, &state, &ppid, &pgrp) && state != 'Z' && state != 'X';
}

char processState(pid_t pid) {
  char state;
  pid_t ppid, pgrp;
  return readStat(pid, &state, &ppid, &pgrp) ? state : '\0';
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) result.push_back(line);
  return result;
}

int countOf(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++n;
  return n;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool eventually(const std::function<bool()>& condition, int timeoutMs) {
  for (int i = 0; i < timeoutMs; ++i) {
    if (condition()) return true;
    usleep(1000);
  }
  return condition();
}

int unreadBytes(int fd) {
  int n = -1;
  return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

int connectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool blockedInRecv(pid_t id) {
  std::ifstream state("/proc/" + std::to_string(id) + "/syscall");
  long number = -1;
  if (!(state >> number)) return false;
#ifdef TOBREL_EMULATOR_RECVFROM
  if (underEmulator()) return number == TOBREL_EMULATOR_RECVFROM;
#endif
#ifdef SYS_recv
  if (number == SYS_recv) return true;  // 32-bit ARM's recv() has a call of its own
#endif
  return number == SYS_recvfrom;
}

std::string repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

}  // namespace tobrel_test
