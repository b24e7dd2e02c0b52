// Test support: run a program (or a function in a forked copy of the test) as a real child
// process, feed its standard input, capture standard output and error, its exit status or
// signal, with a timeout, and optionally its syslog (syslog_capture.h).
//
// The child runs in its own process group; everything it forks stays in that group and is
// killed when the Process is destroyed (or by wait()). The test process becomes a child
// subreaper, so descendants orphaned by the child are reparented to it and reaped here.
//
//   RunResult r = runProgram({TOBRELVM_PATH, "--app_folder=" + dir}, opts);  // all at once
//   auto p = Process::start({...}, opts);           // or step by step:
//   p->write("app1\n");
//   ASSERT_TRUE(p->waitFor(Stream::kErr, "JSLOG: hi", 5000)) << p->err();
//   RunResult end = p->wait(5000);                  // exit code / signal / timedOut
//   r.describe() gives a one-line status for assertion messages.
//
// A daemon that runs beside the test, unattended while the test is busy elsewhere, gets
// outputToFile: its output then never fills a pipe, and what its descendants wrote stays.
//   auto d = Process::start({VOICE_BINARY}, daemonOpts);  // daemonOpts.outputToFile = true
//   ASSERT_TRUE(d->waitForOutput("connected", 5000)) << d->output();
//   d->stop();                                       // SIGTERM, then SIGKILL after a grace
#ifndef TOBREL_TESTS_SUPPORT_PROCESS_H
#define TOBREL_TESTS_SUPPORT_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tobrel_test {

class SyslogCapture;

struct RunOptions {
  std::string stdinText;           // written to standard input at start
  bool closeStdin = true;          // close standard input after stdinText (runProgram/runFunction)
  // "NAME=value" is added to (or replaces in) the environment, a bare "NAME" removes it; in
  // order, so a later entry wins over an earlier one.
  std::vector<std::string> env;
  int timeoutMs = 30000;           // runProgram/runFunction: kill the group after this long
  SyslogCapture* syslog = nullptr; // one capture per child process
  // With no capture given: a private syslog sink whose lines are dropped (see syslog_capture.h).
  bool discardSyslog = false;
  // Standard output and error together into one file of the Process's own instead of pipes:
  // out() and output() hold both, in the order written; err() stays empty.
  bool outputToFile = false;
};

struct RunResult {
  std::string out;
  std::string err;
  bool exited = false;  // ended by exit/return; exitCode holds the status
  int exitCode = -1;
  int signal = 0;       // the signal that ended it, when not exited
  bool timedOut = false;
  std::string describe() const;
};

enum class Stream { kOut, kErr };

class Process {
 public:
  static std::unique_ptr<Process> start(const std::vector<std::string>& argv, const RunOptions& options);
  // Forks the test process and runs `body` in the child; its result is the exit status.
  static std::unique_ptr<Process> start(const std::function<int()>& body, const RunOptions& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  void write(const std::string& text);
  void closeStdin();

  // Reads output until `text` appears in the stream (anywhere since the start); false on timeout.
  bool waitFor(Stream stream, const std::string& text, int timeoutMs);
  // Reads output until `condition` holds; false on timeout.
  bool waitUntil(const std::function<bool()>& condition, int timeoutMs);
  // Reads output for this long, whatever happens.
  void pump(int ms);
  // Reads what is ready and returns everything written so far (stdout, then stderr; or the
  // one stream of outputToFile).
  std::string output();
  // Reads output until `text` appears in either stream; false on timeout.
  bool waitForOutput(const std::string& text, int timeoutMs);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

  // True until the child has ended (it is reaped here, its status kept for wait()).
  bool running();
  // SIGTERM to the child, then wait() with `graceMs` (SIGKILL to the group after that).
  RunResult stop(int graceMs = 3000);

  // Waits for the child to end (killing its group with SIGKILL after timeoutMs). Then, when
  // killRest, kills what is left of the group and reads the output to its end.
  RunResult wait(int timeoutMs, bool killRest = true);
  // Signals the whole group.
  void killGroup(int signal = 9);

 private:
  Process() = default;
  void launch(const std::function<void()>& inChild, const RunOptions& options);
  bool pumpOnce(int ms);
  bool readOutputFile();
  void reapGroup();

  pid_t pid_ = -1;
  int in_ = -1, outFd_ = -1, errFd_ = -1;
  int fileFd_ = -1;  // outputToFile: our own reading end of the file
  SyslogCapture* syslog_ = nullptr;
  std::unique_ptr<SyslogCapture> ownSyslog_;
  std::string out_, err_;
  bool ended_ = false;
  int status_ = 0;
};

RunResult runProgram(const std::vector<std::string>& argv, const RunOptions& options = RunOptions());
RunResult runFunction(const std::function<int()>& body, const RunOptions& options = RunOptions());

// Replaces the calling (forked) process with the program argv[0] (argv ends with a null).
// Under a user-mode emulator, a program built for the machine the test is built for goes
// through the emulator too, since the kernel alone cannot run it; any other program (a shell,
// dbus-daemon) runs directly. Allocates nothing, so a fork of a threaded test may call it.
// Returns only when the exec failed.
void execProgram(char* const argv[]);
// The words that start `program` as execProgram would: the emulator first where it goes
// through it, else the program alone. For spawning by other means (g_spawn, /bin/sh).
std::vector<std::string> commandFor(const std::string& program);
// The same as the start of a /bin/sh command line, each word in single quotes.
std::string shellCommandFor(const std::string& program);
// Whether the test runs under a user-mode emulator: the emulator that runs it says so in the
// environment (TOBREL_EMULATOR, its path; see cmake/toolchain-armhf.cmake). A test that checks
// something the emulator itself does not keep skips under it, with its reason.
bool underEmulator();

// Runs `command` through /bin/sh with standard output and error together, and returns them;
// `status` gets the exit status (-1 when it did not exit). Generous time: installs and compiles.
std::string runShell(const std::string& command, int* status = nullptr);

// Children of `parent` (zombies included), from /proc.
std::vector<pid_t> childrenOf(pid_t parent);
// True while `pid` exists and is not a zombie.
bool isRunning(pid_t pid);
// The state letter of /proc/<pid>/stat ('R', 'S', 'T' for stopped, 'Z'...); '\0' when gone.
char processState(pid_t pid);
// Lines of `text` (split at '\n', without the newlines).
std::vector<std::string> lines(const std::string& text);
// Number of (non-overlapping) occurrences of `needle` in `text`.
int countOf(const std::string& text, const std::string& needle);
// `text` with every occurrence of `from` replaced by `to`, left to right.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
// `text` `times` times over.
std::string repeat(const std::string& text, size_t times);

// Waits up to `timeoutMs` for `condition`, checking it every millisecond; whether it came true.
bool eventually(const std::function<bool()>& condition, int timeoutMs = 5000);
// Bytes that have arrived on `fd` (a socket or a pipe) and are not read yet; -1 on error.
int unreadBytes(int fd);
// A TCP connection to `port` on 127.0.0.1 (close-on-exec), or -1 when it cannot be made.
int connectLoopback(int port);
// Whether process or thread `id` is blocked in recv() at this moment (/proc/<id>/syscall: the
// target's recv or recvfrom call, or under an emulator the build machine's, which the emulator
// makes in its place).
bool blockedInRecv(pid_t id);

}  // namespace tobrel_test

#endif
