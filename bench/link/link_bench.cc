// Device-link benchmark. The message-daemon stand-in sends button events as fast as its reader
// takes them; we print the rate at which a plain C++ client reads them, the rate at which an
// app child delivers them to a script listener, and the CPU an idle connected app uses.
//
//   link_bench [EVENTS] [IDLE_SECONDS]     (defaults 20000 and 10)
//
// The app child is built as the launcher's child is (logging, engine, TobrelData, main loop,
// the link's natives); its listener follows the listener pattern: the script function gets
// the press type's name and stays registered while it returns true. It logs at DEBUG as on the
// device; its syslog goes to a /dev/log of our own (in a private mount namespace, needs root)
// that we read and discard, since without one every line would go to the console.
#include <arpa/inet.h>
#include <fcntl.h>
#include <glib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>
#include <v8.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app.h"
#include "engine.h"
#include "frame_codec.h"
#include "interactive.h"
#include "link.h"
#include "log.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "private_dev_log.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::ButtonCallback_Type_Name;
using net::zolvek::nusk::message::InteractiveMode;
using net::zolvek::nusk::message::NuskMsg;
using v8::Context;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::FunctionTemplate;
using v8::Global;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::ObjectTemplate;
using v8::Script;
using v8::String;
using v8::Value;

namespace {

using Clock = std::chrono::steady_clock;

int readyFd = -1;  // the app child's "granted and listening" signal to the bench
bool syslogCaptured = false;

class ButtonListener : public NuskMsgListener {
 public:
  ButtonListener(Isolate* isolate, Local<Function> fn) : fn_(isolate, fn) {}
  bool onMessage(const NuskMsg& msg) override {
    if (!msg.has_buttoncallback()) return true;
    Isolate* isolate = Isolate::GetCurrent();
    HandleScope scope(isolate);
    Local<Value> argv[] = {newString(isolate, ButtonCallback_Type_Name(msg.buttoncallback().type()).c_str())};
    return callScriptFunction(isolate, fn_.Get(isolate), 1, argv);
  }

 private:
  Global<Function> fn_;
};

void AddListenerFunction(const FunctionCallbackInfo<Value>& args) {
  if (args.Length() != 1 || !args[0]->IsFunction()) return throwText(args.GetIsolate(), "Wrong arguments");
  appData(args.GetIsolate())->addListener(new ButtonListener(args.GetIsolate(), args[0].As<Function>()));
}

void ReadyFunction(const FunctionCallbackInfo<Value>&) {
  if (write(readyFd, "r", 1) != 1) perror("ready");
}

// The app child: connects, is granted, listens; ends itself after `events` presses (0: never).
int runApp(int port, int events) {
  LauncherOptions launcher;
  launcher.appFolder = "/nonexistent";
  openTobrelLog(&launcher);
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
    tobrel->Set(isolate, "connect", FunctionTemplate::New(isolate, ConnectFunction));
    tobrel->Set(isolate, "start", FunctionTemplate::New(isolate, InteractiveFunctionStart));
    global->Set(isolate, "tobrel", tobrel);
    global->Set(isolate, "addListener", FunctionTemplate::New(isolate, AddListenerFunction));
    global->Set(isolate, "ready", FunctionTemplate::New(isolate, ReadyFunction));
    Local<Context> context = Context::New(isolate, nullptr, global);
    Context::Scope contextScope(context);
    context->Global()->SetAlignedPointerInInternalField(0, &data);
    const std::string source =
        "var n = 0;\n"
        "tobrel.connect('127.0.0.1', " + std::to_string(port) + ");\n"
        "tobrel.start(function() {\n"
        "  addListener(function(type) { if (++n == " + std::to_string(events) + ") exit(); return true; });\n"
        "  ready();\n"
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

struct Msgd {
  pid_t pid = -1;
  int control = -1;
  int port = 0;
};

// Starts the stand-in on a free loopback port; its output is read and thrown away.
Msgd startMsgd() {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) abort();
  Msgd msgd;
  msgd.pid = fork();
  if (msgd.pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    close(in[1]);
    close(out[0]);
    execl(TOBREL_MSGD_PROGRAM, TOBREL_MSGD_PROGRAM, "--port", "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  msgd.control = in[1];
  std::string first;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') first += c;
  const size_t colon = first.rfind(':');
  if (first.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
    fprintf(stderr, "msgd did not start: %s\n", first.c_str());
    exit(1);
  }
  msgd.port = atoi(first.c_str() + colon + 1);
  const int drain = out[0];
  std::thread([drain] {
    char buffer[65536];
    while (read(drain, buffer, sizeof buffer) > 0) {
    }
  }).detach();
  return msgd;
}

void writeAll(int fd, const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    const ssize_t n = write(fd, text.data() + at, text.size() - at);
    if (n <= 0) abort();
    at += static_cast<size_t>(n);
  }
}

// Asks the stand-in for `events` button presses on its newest connection, from a thread, so
// it can produce them as fast as the reader takes them.
std::thread pressButtons(const Msgd& msgd, int events) {
  const int control = msgd.control;
  return std::thread([control, events] {
    std::string lines;
    for (int i = 0; i < events; ++i) lines += "button last SIMPLE\n";
    writeAll(control, lines);
  });
}

double perSecond(int events, Clock::duration elapsed) {
  return events / std::chrono::duration<double>(elapsed).count();
}

// The plain client: connects, is granted, then reads frames until `events` presses arrived.
double rawRate(const Msgd& msgd, int events) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(msgd.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) abort();
  NuskMsg start;
  start.set_id("bench-start");
  start.mutable_interactivemode()->set_action(InteractiveMode::START);
  start.mutable_interactivemode()->set_interactiveid("bench-interactive");
  std::string frame;
  tobrel::frame::appendFrame(start, &frame);
  writeAll(fd, frame);
  tobrel::frame::Reader reader;
  std::string payload;
  char buffer[65536];
  auto nextFrame = [&]() {
    while (reader.next(&payload) != tobrel::frame::Reader::Result::kFrame) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) abort();
      reader.feed(buffer, static_cast<size_t>(n));
    }
    NuskMsg msg;
    tobrel::frame::parsePayload(payload.data(), payload.size(), &msg);
    return msg;
  };
  nextFrame();  // the grant: the stand-in knows this connection now
  const Clock::time_point begin = Clock::now();
  std::thread presser = pressButtons(msgd, events);
  int got = 0;
  while (got < events) got += nextFrame().has_buttoncallback() ? 1 : 0;
  const Clock::duration elapsed = Clock::now() - begin;
  presser.join();
  close(fd);
  return perSecond(events, elapsed);
}

// The app child, with its syslog read and thrown away until the child ends.
struct AppChild {
  pid_t pid = -1;
  int ready = -1;
  int logSocket = -1;  // the child's /dev/log, read and discarded here
  std::thread drain;
  ~AppChild() {
    if (drain.joinable()) drain.join();
    if (logSocket != -1) close(logSocket);
  }
};

void startApp(const Msgd& msgd, int events, AppChild* child) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) abort();
  child->logSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const int logFd = child->logSocket;
  int ended[2];
  if (pipe(ended) != 0) abort();
  child->pid = fork();
  if (child->pid == 0) {
    close(pipeFds[0]);
    close(ended[0]);
    readyFd = pipeFds[1];
    std::string error;
    if (!tobrel_test::enterPrivateDevLog(logFd, &error)) fprintf(stderr, "%s: its log goes to the console\n", error.c_str());
    // The app's standard-error echo is not shown.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    _exit(runApp(msgd.port, events));
  }
  close(pipeFds[1]);
  close(ended[1]);
  child->ready = pipeFds[0];
  // Reads the log socket until the child's end of `ended` closes with the child.
  const int endFd = ended[0];
  child->drain = std::thread([logFd, endFd] {
    char buffer[8192];
    for (;;) {
      pollfd entries[2] = {{logFd, POLLIN, 0}, {endFd, POLLIN, 0}};
      poll(entries, 2, -1);
      while (recv(logFd, buffer, sizeof buffer, 0) > 0) syslogCaptured = true;
      if (entries[1].revents != 0) break;
    }
    close(endFd);
  });
}

bool waitReady(int ready) {
  char c;
  const bool ok = read(ready, &c, 1) == 1;
  close(ready);
  return ok;
}

double appRate(const Msgd& msgd, int events) {
  AppChild app;
  startApp(msgd, events, &app);
  if (!waitReady(app.ready)) abort();
  const Clock::time_point begin = Clock::now();
  std::thread presser = pressButtons(msgd, events);
  int status;
  waitpid(app.pid, &status, 0);
  const Clock::duration elapsed = Clock::now() - begin;
  presser.join();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fprintf(stderr, "app child ended badly (%d)\n", status);
  return perSecond(events, elapsed);
}

// utime + stime of `pid`, in clock ticks.
long cpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = atol(field.c_str());
    if (i == 15) stime = atol(field.c_str());
  }
  return utime + stime;
}

double idleCpuPercent(const Msgd& msgd, int seconds) {
  AppChild app;
  startApp(msgd, 0, &app);
  if (!waitReady(app.ready)) abort();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long before = cpuTicks(app.pid);
  const Clock::time_point begin = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const long after = cpuTicks(app.pid);
  const double wall = std::chrono::duration<double>(Clock::now() - begin).count();
  kill(app.pid, SIGKILL);
  waitpid(app.pid, nullptr, 0);
  return 100.0 * (after - before) / sysconf(_SC_CLK_TCK) / wall;
}

}  // namespace

int main(int argc, char** argv) {
  const int events = argc > 1 ? atoi(argv[1]) : 20000;
  const int idleSeconds = argc > 2 ? atoi(argv[2]) : 10;
  signal(SIGPIPE, SIG_IGN);
  Msgd msgd = startMsgd();
  const double raw = rawRate(msgd, events);
  const double app = appRate(msgd, events);
  const double idle = idleCpuPercent(msgd, idleSeconds);
  printf("link_bench: %d button events from the message-daemon stand-in\n", events);
  printf("  plain C++ client reads      %10.0f events/s\n", raw);
  printf("  app script listener gets    %10.0f events/s  (%.0f%% of the raw rate; target >= 30%%)\n", app,
         100.0 * app / raw);
  printf("  app log sink                %s\n", syslogCaptured ? "a /dev/log of the benchmark's own" : "the console (no /dev/log)");
  printf("  idle connected app          %10.2f%% of one core over %d s (target < 2%%)\n", idle, idleSeconds);
  close(msgd.control);
  waitpid(msgd.pid, nullptr, 0);
  return 0;
}
