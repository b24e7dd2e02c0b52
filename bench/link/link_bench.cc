// Device-link benchmark. A producer of our own writes pre-built button-event frames as fast as
// the socket takes them, so the reader is always the limit; in the same run it measures
//   - the yardstick: a plain C++ reader of the link's own reading pattern (a 1 ms readiness
//     wait, then the length read and the payload read, one frame per pass of a GLib idle
//     source), with no script engine;
//   - the logging yardstick: the same reader writing the three DEBUG lines every event costs
//     any implementation ("message received", the "Received MSG" trace, "calling listener :
//     [%p]") straight through syslog to the same kind of sink, each echoed on standard error
//     as "%s: %s\n";
//   - the app child: the link's own natives and poller (connect, start, pollServer) feeding
//     one button listener (the module's own) whose script function returns true;
// and prints the events per second and the CPU an event of each, and their ratios. For idle it
// prints the CPU of each, connected and granted but with nothing to read.
//
//   link_bench [EVENTS] [IDLE_SECONDS]     (defaults 200000 and 5)
//
// Every reader runs as a forked child of this process and times itself from its first event to
// its last, so start-up and tear-down are not counted. The app logs at DEBUG as on the device;
// its syslog, and the logging yardstick's, goes to a /dev/log of our own (a private mount
// namespace, needs root) that is read and discarded, since without one every line would go to
// the console. Their standard error goes to /dev/null.
#include <arpa/inet.h>
#include <fcntl.h>
#include <glib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>
#include <v8.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "app.h"
#include "button.h"
#include "engine.h"
#include "frame_codec.h"
#include "interactive.h"
#include "link.h"
#include "log.h"
#include "nusk-message.pb.h"
#include "private_dev_log.h"
#include "script.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::ButtonCallback;
using net::zolvek::nusk::message::NuskMsg;
using v8::Context;
using v8::FunctionCallbackInfo;
using v8::FunctionTemplate;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::ObjectTemplate;
using v8::Script;
using v8::Value;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void writeAll(int fd, const char* data, size_t size) {
  size_t at = 0;
  while (at < size) {
    const ssize_t n = send(fd, data + at, size - at, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the reader has gone: it had what it needed
    at += static_cast<size_t>(n);
  }
}

bool readAll(int fd, char* data, size_t size) {
  size_t at = 0;
  while (at < size) {
    const ssize_t n = recv(fd, data + at, size - at, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

bool readFrame(int fd, NuskMsg* msg) {
  unsigned char header[tobrel::frame::kHeaderSize];
  if (!readAll(fd, reinterpret_cast<char*>(header), sizeof header)) return false;
  std::string payload(tobrel::frame::decodeLength(header), '\0');
  if (!readAll(fd, &payload[0], payload.size())) return false;
  return tobrel::frame::parsePayload(payload.data(), payload.size(), msg) == tobrel::frame::ParseResult::kOk;
}

// The producer: one loopback listener; for each reader it answers the START frame with a grant,
// then writes `frames` (events pre-built back to back) as fast as the socket takes them and
// holds the connection until the reader closes it.
class Producer {
 public:
  Producer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      perror("producer");
      exit(1);
    }
    port_ = ntohs(address.sin_port);
  }
  ~Producer() { close(listener_); }
  int port() const { return port_; }

  // Serves one reader, from a thread of its own.
  std::thread serve(const std::string& frames) {
    return std::thread([this, &frames] {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      NuskMsg start;
      if (readFrame(fd, &start)) {
        NuskMsg grant;
        grant.set_id("bench-grant");
        grant.set_correlationid(start.id());
        grant.mutable_response()->set_code(net::zolvek::nusk::message::OK);
        std::string frame;
        tobrel::frame::appendFrame(grant, &frame);
        writeAll(fd, frame.data(), frame.size());
        writeAll(fd, frames.data(), frames.size());
        char byte;
        while (recv(fd, &byte, 1, 0) > 0) {
        }
      }
      close(fd);
    });
  }

 private:
  int listener_ = -1;
  int port_ = 0;
};

std::string buttonFrames(int count) {
  NuskMsg msg;
  msg.set_id("00000000-0000-0000-0000-000000000000");
  msg.mutable_buttoncallback()->set_type(ButtonCallback::SIMPLE);
  std::string one;
  tobrel::frame::appendFrame(msg, &one);
  std::string all;
  all.reserve(one.size() * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) all += one;
  return all;
}

int connectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    perror("connect");
    _exit(1);
  }
  return fd;
}

// The CPU seconds this process has used so far (all its threads).
double cpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// What a reader child reports on its pipe, written once: the seconds from its first event to
// its last and the CPU seconds it used meanwhile (both 0 for an idle run).
struct Timing {
  double elapsed = 0;
  double cpu = 0;
};

void report(int fd, double elapsed, double cpu) {
  const Timing timing{elapsed, cpu};
  if (write(fd, &timing, sizeof timing) != sizeof timing) perror("report");
}

// --- the yardstick -------------------------------------------------------------------------

struct Yardstick {
  bool logs = false;  // the logging yardstick
  int fd = -1;
  int events = 0;  // 0: idle, never ends by itself
  int seen = 0;
  Clock::time_point first;
  double firstCpu = 0;
  int out = -1;
  GMainLoop* loop = nullptr;
};

// A DEBUG line as the least any implementation writes it: echoed, then one syslog call.
void logDebug(const char* text) {
  fprintf(stderr, "%s: %s\n", "DEBUG", text);
  syslog(LOG_DEBUG, "%s", text);
}

// One pass of the link's pattern: a kPollWaitMs readiness wait, then one frame.
gboolean yardstickPass(gpointer raw) {
  auto* y = static_cast<Yardstick*>(raw);
  fd_set readSet;
  FD_ZERO(&readSet);
  FD_SET(y->fd, &readSet);
  timeval wait = {0, kPollWaitMs * 1000};
  if (select(y->fd + 1, &readSet, nullptr, nullptr, &wait) <= 0) return TRUE;
  if (y->logs) logDebug("message received");
  NuskMsg msg;
  if (!readFrame(y->fd, &msg)) _exit(1);
  if (y->logs) {
    if (!msg.has_social()) logDebug(("Received MSG\n" + msg.DebugString()).c_str());
    char line[64];
    snprintf(line, sizeof line, "calling listener : [%p]", static_cast<void*>(y));
    logDebug(line);
  }
  if (!msg.has_buttoncallback()) return TRUE;
  if (++y->seen == 1) {
    y->first = Clock::now();
    y->firstCpu = cpuSeconds();
  }
  if (y->seen == y->events) {
    report(y->out, seconds(Clock::now() - y->first), cpuSeconds() - y->firstCpu);
    g_main_loop_quit(y->loop);
    return FALSE;
  }
  return TRUE;
}

int runYardstick(int port, int events, int out, bool logs) {
  Yardstick y;
  y.logs = logs;
  if (logs) openlog("TobrelVM", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
  y.fd = connectTo(port);
  y.events = events;
  y.out = out;
  NuskMsg start;
  start.set_id("bench-start");
  start.mutable_interactivemode()->set_action(net::zolvek::nusk::message::InteractiveMode::START);
  start.mutable_interactivemode()->set_interactiveid("bench-interactive");
  std::string frame;
  tobrel::frame::appendFrame(start, &frame);
  writeAll(y.fd, frame.data(), frame.size());
  y.loop = g_main_loop_new(nullptr, FALSE);
  g_idle_add(yardstickPass, &y);
  if (events == 0) report(out, 0, 0);  // idle: connected and waiting
  g_main_loop_run(y.loop);
  return 0;
}

// --- the app child -------------------------------------------------------------------------

int g_out = -1;
Clock::time_point g_first;
double g_firstCpu = 0;

// mark(): the script's first and last event.
void MarkFunction(const FunctionCallbackInfo<Value>& args) {
  if (args.Length() == 0) {
    g_first = Clock::now();
    g_firstCpu = cpuSeconds();
  } else {
    report(g_out, seconds(Clock::now() - g_first), cpuSeconds() - g_firstCpu);
  }
}

int runApp(int port, int events, int out, bool debugToSyslog) {
  g_out = out;
  LauncherOptions launcher;
  launcher.appFolder = "/nonexistent";
  openTobrelLog(&launcher);
  // Attribution only: the same app with its DEBUG lines kept out of syslog.
  if (!debugToSyslog) setlogmask(LOG_UPTO(LOG_INFO));
  initEngine();
  TobrelData data;
  data.options = &launcher;
  data.setCmdLine("bench PLAIN bench");
  data.loop = g_main_loop_new(nullptr, FALSE);
  Isolate* isolate = newAppIsolate();
  {
    Isolate::Scope isolateScope(isolate);
    HandleScope scope(isolate);
    Local<ObjectTemplate> global = createGlobalTemplate(isolate);
    Local<ObjectTemplate> tobrel = ObjectTemplate::New(isolate);
    Local<ObjectTemplate> button = ObjectTemplate::New(isolate);
    button->Set(isolate, "addListener", FunctionTemplate::New(isolate, ButtonFunctionAddListener));
    tobrel->Set(isolate, "button", button);
    tobrel->Set(isolate, "connect", FunctionTemplate::New(isolate, ConnectFunction));
    tobrel->Set(isolate, "start", FunctionTemplate::New(isolate, InteractiveFunctionStart));
    global->Set(isolate, "tobrel", tobrel);
    global->Set(isolate, "mark", FunctionTemplate::New(isolate, MarkFunction));
    Local<Context> context = Context::New(isolate, nullptr, global);
    Context::Scope contextScope(context);
    context->Global()->SetAlignedPointerInInternalField(0, &data);
    const std::string source =
        "var n = 0, events = " + std::to_string(events) + ";\n"
        "tobrel.connect('127.0.0.1', " + std::to_string(port) + ");\n"
        "tobrel.start(function() {\n"
        "  tobrel.button.addListener(function(type) {\n"
        "    if (++n == 1) mark();\n"
        "    if (n == events) { mark(n); exit(); }\n"
        "    return true;\n"
        "  });\n"
        "  if (events == 0) mark(0);\n"
        "});\n";
    v8::TryCatch tryCatch(isolate);
    Local<Script> script = Script::Compile(context, newString(isolate, source.c_str())).ToLocalChecked();
    if (script->Run(context).IsEmpty()) reportException(isolate, &tryCatch);
    g_main_loop_run(data.loop);
    data.deleteListeners();
  }
  disposeAppIsolate(isolate);
  closelog();
  return 0;
}

// --- running the children ------------------------------------------------------------------

std::atomic<bool> g_logged{false};

struct Reader {
  pid_t pid = -1;
  int result = -1;  // the child's report pipe
  int logSocket = -1;
  int ended = -1;
  std::thread drain;
};

enum class Kind { kYardstick, kLoggingYardstick, kApp, kAppWithoutDebugSyslog };

// The sink's socket. A datagram socket queues only net.unix.max_dgram_qlen lines (10 by
// default) before its writers wait, so a reader would be timed by how soon the drain thread is
// scheduled rather than by its own work. The socket is made in a network namespace of its own
// (a thread that leaves ours) with a deep queue; path sockets connect across namespaces. When
// that cannot be done, the machine's queue is used.
int sinkSocket() {
  int fd = -1;
  std::thread([&fd] {
    if (unshare(CLONE_NEWNET) == 0) {
      if (FILE* qlen = fopen("/proc/sys/net/unix/max_dgram_qlen", "w")) {
        fputs("100000", qlen);
        fclose(qlen);
      }
    }
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  }).join();
  return fd;
}

// Forks a reader of `events` (0: idle). Every reader but the plain yardstick gets its private
// /dev/log, drained here, and its standard error goes to /dev/null.
Reader startReader(Kind kind, int port, int events) {
  Reader r;
  int result[2], ended[2];
  if (pipe2(result, O_CLOEXEC) != 0 || pipe2(ended, O_CLOEXEC) != 0) abort();
  r.logSocket = sinkSocket();
  fflush(nullptr);
  r.pid = fork();
  if (r.pid == 0) {
    close(result[0]);
    close(ended[0]);
    if (kind == Kind::kYardstick) _exit(runYardstick(port, events, result[1], false));
    std::string error;
    if (!tobrel_test::enterPrivateDevLog(r.logSocket, &error)) {
      fprintf(stderr, "%s: the reader's log goes to the console\n", error.c_str());
    }
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);  // the standard-error echo is not shown
    if (kind == Kind::kLoggingYardstick) _exit(runYardstick(port, events, result[1], true));
    _exit(runApp(port, events, result[1], kind == Kind::kApp));
  }
  close(result[1]);
  close(ended[1]);
  r.result = result[0];
  const int logFd = r.logSocket, endFd = ended[0];
  r.drain = std::thread([logFd, endFd] {
    char buffer[8192];
    for (;;) {
      pollfd entries[2] = {{logFd, POLLIN, 0}, {endFd, POLLIN, 0}};
      poll(entries, 2, -1);
      while (recv(logFd, buffer, sizeof buffer, 0) > 0) g_logged = true;
      if (entries[1].revents != 0) break;
    }
  });
  r.ended = endFd;
  return r;
}

Timing waitReport(const Reader& r) {
  Timing timing{-1, -1};
  if (read(r.result, &timing, sizeof timing) != sizeof timing) return Timing{-1, -1};
  return timing;
}

void stopReader(Reader* r, bool kill_) {
  if (kill_) kill(r->pid, SIGKILL);
  int status = 0;
  waitpid(r->pid, &status, 0);
  if (!kill_ && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) fprintf(stderr, "reader ended badly (%d)\n", status);
  r->drain.join();
  close(r->ended);
  close(r->logSocket);
  close(r->result);
}

struct Rate {
  double perSecond = 0;       // events a second
  double cpuMicroseconds = 0; // the reader's CPU per event
};

Rate eventRate(Producer& producer, const std::string& frames, Kind kind, int events) {
  std::thread serving = producer.serve(frames);
  Reader r = startReader(kind, producer.port(), events);
  const Timing timing = waitReport(r);
  stopReader(&r, false);
  serving.join();
  if (timing.elapsed <= 0) return Rate{};
  return Rate{(events - 1) / timing.elapsed, 1e6 * timing.cpu / (events - 1)};
}

// Nanoseconds on a CPU of `pid` so far (its schedstat), or -1.
long long cpuNanoseconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  long long ns = -1;
  in >> ns;
  return ns;
}

double idlePercent(Producer& producer, Kind kind, int idleSeconds) {
  static const std::string kNothing;
  std::thread serving = producer.serve(kNothing);
  Reader r = startReader(kind, producer.port(), 0);
  waitReport(r);  // connected and granted
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const long long before = cpuNanoseconds(r.pid);
  const Clock::time_point begin = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const long long after = cpuNanoseconds(r.pid);
  const double wall = seconds(Clock::now() - begin);
  stopReader(&r, true);
  serving.join();
  return 100.0 * static_cast<double>(after - before) / 1e9 / wall;
}

}  // namespace

constexpr int kRounds = 3;

int main(int argc, char** argv) {
  const int events = argc > 1 ? atoi(argv[1]) : 200000;
  const int idleSeconds = argc > 2 ? atoi(argv[2]) : 5;
  if (events < 2 || idleSeconds < 1) {
    fprintf(stderr, "usage: %s [EVENTS >= 2] [IDLE_SECONDS >= 1]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  Producer producer;
  const std::string frames = buttonFrames(events);
  const Rate yardstick = eventRate(producer, frames, Kind::kYardstick, events);
  // The two that are compared run in turns, and each keeps its best round: what other work on
  // the machine takes from one round is not read as a difference between them.
  Rate logging, app;
  for (int round = 0; round < kRounds; ++round) {
    const Rate l = eventRate(producer, frames, Kind::kLoggingYardstick, events);
    const Rate a = eventRate(producer, frames, Kind::kApp, events);
    if (l.perSecond > logging.perSecond) logging = l;
    if (a.perSecond > app.perSecond) app = a;
  }
  const Rate appQuiet = eventRate(producer, frames, Kind::kAppWithoutDebugSyslog, events);
  const double yardstickIdle = idlePercent(producer, Kind::kYardstick, idleSeconds);
  const double appIdle = idlePercent(producer, Kind::kApp, idleSeconds);
  printf("link_bench: %d button events of %zu bytes each, written as fast as the socket takes them\n", events,
         frames.size() / static_cast<size_t>(events));
  printf("  yardstick reader (1 ms wait, one frame a pass)  %10.0f events/s  %6.2f us CPU an event\n",
         yardstick.perSecond, yardstick.cpuMicroseconds);
  printf("  app child, one script listener                  %10.0f events/s  %6.2f us CPU an event\n", app.perSecond,
         app.cpuMicroseconds);
  printf("  ratio app / yardstick                           %10.1f%%  (target >= 30%%)\n",
         100.0 * app.perSecond / yardstick.perSecond);
  printf("  logging yardstick (+ the 3 DEBUG lines, syslog) %10.0f events/s  %6.2f us CPU an event\n",
         logging.perSecond, logging.cpuMicroseconds);
  printf("  ratio app / logging yardstick, best of %d each   %10.2f   (target >= 0.90; by CPU an event %.2f)\n",
         kRounds, app.perSecond / logging.perSecond, logging.cpuMicroseconds / app.cpuMicroseconds);
  printf("  the same app, DEBUG lines kept out of syslog    %10.0f events/s  %6.2f us CPU an event (%.1f%%)\n",
         appQuiet.perSecond, appQuiet.cpuMicroseconds, 100.0 * appQuiet.perSecond / yardstick.perSecond);
  printf("  idle CPU, yardstick pattern alone               %10.2f%% of one core over %d s\n", yardstickIdle,
         idleSeconds);
  printf("  idle CPU, connected app                         %10.2f%% of one core over %d s\n", appIdle, idleSeconds);
  printf("  ratio app / yardstick, idle                     %10.2f   (target <= 1.25)\n",
         yardstickIdle > 0 ? appIdle / yardstickIdle : 0.0);
  printf("  app log sink                                    %s\n",
         g_logged ? "a /dev/log of the benchmark's own" : "none seen (the console?)");
  return 0;
}
