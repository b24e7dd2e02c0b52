// The launcher's start-up, request loop and child accounting. The SIGCHLD handler only reaps
// and counts; everything that logs or allocates runs in the loop, with SIGCHLD blocked where
// it touches the count.
#include "launcher.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <libxml/xmlversion.h>

#include "app.h"
#include "engine.h"
#include "log.h"
#include "tobrel_data.h"

namespace {

constexpr int kMaxChildren = 3;
constexpr int kRequestBuffer = 4095;

volatile sig_atomic_t nbChild = 0;

// Reaped children waiting to be logged by the loop. Written by the handler only; read and
// emptied by the loop with SIGCHLD blocked.
struct Reaped {
  pid_t pid;
  int count;
};
constexpr int kReapedSlots = 64;
Reaped reaped[kReapedSlots];
volatile sig_atomic_t reapedCount = 0;

sigset_t sigChildSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGCHLD);
  return set;
}

// Logs the queued "end process" lines; called when a read returns and at each pass's start.
void logReaped() {
  const sigset_t set = sigChildSet();
  sigset_t old;
  sigprocmask(SIG_BLOCK, &set, &old);
  Reaped pending[kReapedSlots];
  const int n = reapedCount;
  for (int i = 0; i < n; ++i) pending[i] = reaped[i];
  reapedCount = 0;
  sigprocmask(SIG_SETMASK, &old, nullptr);
  for (int i = 0; i < n; ++i) {
    g_debug("end process: sigchild");
    g_debug("end process: %d nbChild %d", static_cast<int>(pending[i].pid), pending[i].count);
  }
}

// One line of standard input, at most 4094 bytes up to and including the first newline, and
// a NUL after it. Returns the number of bytes read, NUL bytes included, so a stray NUL cannot
// pass for the end of input; 0 for the end of input or a read error. An interrupted read is
// retried.
size_t readRequest(char* buffer) {
  size_t length = 0;
  while (length < static_cast<size_t>(kRequestBuffer - 1)) {
    const int c = getc(stdin);
    if (c == EOF) {
      if (ferror(stdin) && errno == EINTR) {
        clearerr(stdin);
        continue;
      }
      break;
    }
    buffer[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[length] = '\0';
  return length;
}

enum class PassResult { kNext, kEnd, kChildDone };

// One pass of the request loop. In a forked child it runs the app and reports kChildDone
// with the app's status in `childStatus`.
PassResult requestPass(LauncherOptions* options, char* buffer, int* childStatus) {
  logReaped();
  TobrelData data;
  const size_t length = readRequest(buffer);
  logReaped();
  g_message("TobrelVM buffer:%s : len:%d", buffer, static_cast<int>(length));
  if (memchr(buffer, '\0', length) != nullptr) {
    // No app name or field holds one; the line would be cut short without a word.
    g_warning("request line holds a NUL byte: ignored");
    return PassResult::kNext;
  }
  if (length <= 1) {
    g_message("TobrelVM buffer:vide -> break");
    return PassResult::kEnd;
  }
  if (buffer[length - 1] == '\n') buffer[length - 1] = '\0';
  data.options = options;
  data.setCmdLine(buffer);

  const sigset_t set = sigChildSet();
  sigset_t old;
  sigprocmask(SIG_BLOCK, &set, &old);
  g_message("nbChild %d", static_cast<int>(nbChild));
  if (nbChild >= kMaxChildren) {
    sigprocmask(SIG_SETMASK, &old, nullptr);
    fputs("too many tvm ignore request\n", stdout);
    fflush(stdout);  // a pipe buffers it, and every later fork would copy it
    return PassResult::kNext;
  }
  nbChild = nbChild + 1;
  fflush(nullptr);  // nothing buffered may be written again by the child
  const pid_t pid = fork();
  if (pid == 0) {
    sigprocmask(SIG_SETMASK, &old, nullptr);
    *childStatus = runChild(nullptr, &data);
    return PassResult::kChildDone;
  }
  if (pid < 0) nbChild = nbChild - 1;  // no child will ever be reaped for it
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return PassResult::kNext;
}

}  // namespace

const char* matchOption(const char* arg, const char* prefix) {
  const size_t n = strlen(prefix);
  return strncmp(arg, prefix, n) == 0 ? arg + n : nullptr;
}

int parseOptions(int argc, char** argv, LauncherOptions* options) {
  for (int i = 0; i < argc; ++i) {
    const char* value;
    if ((value = matchOption(argv[i], "--debug=")) != nullptr) {
      options->debugLevel = atoi(value);
    } else if ((value = matchOption(argv[i], "--app_folder=")) != nullptr) {
      options->appFolder = value;
    } else if ((value = matchOption(argv[i], "--lib_folder=")) != nullptr) {
      options->libFolder = value;
    }
  }
  return argc;
}

void onSigChild(int /*signal*/) {
  const int savedErrno = errno;
  // Deliveries of children that end close together merge into one: reap them all.
  for (;;) {
    int status;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid <= 0) break;
    nbChild = nbChild - 1;
    if (reapedCount < kReapedSlots) {
      reaped[reapedCount] = Reaped{pid, static_cast<int>(nbChild)};
      reapedCount = reapedCount + 1;
    }
  }
  errno = savedErrno;
}

int launcherMain(int argc, char** argv) {
  LauncherOptions options;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = onSigChild;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a child's end must not cut the blocking read short
  sigaction(SIGCHLD, &action, nullptr);
  // The reader of standard output or error may go away (a log collector that ends): the lines
  // are then lost, not the launcher and the requests after them. It starts no program but its
  // own app children, which ignore SIGPIPE themselves.
  signal(SIGPIPE, SIG_IGN);
  parseOptions(argc, argv, &options);
  xmlCheckVersion(20707);
  openTobrelLog(&options);
  g_message("TobrelVM started...");
  g_message("params: %s", options.appFolder);
  // Before the first fork, so the children share the engine's pages and its heap limits.
  initEngine();

  // Unbuffered, so no child holds a copy of input read ahead: a child's exit would seek a
  // shared seekable input (a request file) back over it, and the launcher would read those
  // requests again.
  setvbuf(stdin, nullptr, _IONBF, 0);
  char buffer[kRequestBuffer];
  int status = 0;
  for (;;) {
    const PassResult result = requestPass(&options, buffer, &status);
    if (result == PassResult::kNext) continue;
    break;
  }
  closelog();
  return status;
}
