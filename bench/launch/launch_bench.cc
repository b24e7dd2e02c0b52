// Launch latency and memory of TobrelVM app children, beside node -e running the same script.
// Prints the median and p90 time from a request line (or, for node, from the spawn) to the
// first "JSLOG" line over 50 launches, and the PSS and RSS of three idle apps running at once.
// Beside them, the floor: the median time for a fork whose child makes a bare isolate under the
// apps' heap limits and one empty context, so a launch reads as a multiple of it.
// The launcher logs to a private /dev/log sink (as on the device, where a syslog daemon runs;
// without one, LOG_CONS sends every line to the console). Needs root for that; otherwise it
// runs without and says so.
// Usage: tobrelvm_launch_bench [path-to-tobrelvm] [path-to-node]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <v8.h>

#include "engine.h"
#include "private_dev_log.h"

namespace {

constexpr int kLaunches = 50;
constexpr int kIdleApps = 3;

// The launcher's syslog socket, drained while waiting for output; -1 when there is none.
int g_sink = -1;

double nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// A program with its stdin writable and its stdout and stderr merged into one readable pipe.
struct Child {
  pid_t pid = -1;
  int in = -1;
  int out = -1;
  std::string pending;

  // `sink`: a datagram socket to bind at the child's own /dev/log, or -1.
  static Child spawn(const std::vector<std::string>& argv, int sink = -1) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) exit(2);
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
      setpgid(0, 0);
      std::string error;
      if (sink >= 0 && !tobrel_test::enterPrivateDevLog(sink, &error)) fprintf(stderr, "%s\n", error.c_str());
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    c.in = in[1];
    c.out = out[0];
    return c;
  }

  void send(const std::string& text) const {
    if (write(in, text.data(), text.size()) != static_cast<ssize_t>(text.size())) perror("write");
  }

  // Reads until a line containing `text` arrives; false on timeout or end of output.
  bool waitLine(const std::string& text, int timeoutMs = 20000) {
    const double end = nowMs() + timeoutMs;
    for (;;) {
      for (size_t nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
        const std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (line.find(text) != std::string::npos) return true;
      }
      const int left = static_cast<int>(end - nowMs());
      if (left <= 0) return false;
      struct pollfd fds[2] = {{out, POLLIN, 0}, {g_sink, POLLIN, 0}};
      if (poll(fds, 2, left) <= 0) return false;
      char buffer[65536];
      while (g_sink >= 0 && recv(g_sink, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
      if (fds[0].revents == 0) continue;
      const ssize_t n = read(out, buffer, sizeof buffer);
      if (n <= 0) return false;
      pending.append(buffer, static_cast<size_t>(n));
    }
  }

  void end() {
    if (pid <= 0) return;
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(in);
    close(out);
    pid = -1;
  }
};

std::vector<pid_t> childrenOf(pid_t parent) {
  std::vector<pid_t> found;
  std::ifstream list("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
  for (long pid; list >> pid;) found.push_back(static_cast<pid_t>(pid));
  return found;
}

// Pss and Rss of one process in kB, from smaps_rollup.
std::pair<long, long> memoryKb(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/smaps_rollup");
  long pss = -1, rss = -1;
  for (std::string line; std::getline(file, line);) {
    long value;
    if (sscanf(line.c_str(), "Pss: %ld", &value) == 1) pss = value;
    if (sscanf(line.c_str(), "Rss: %ld", &value) == 1) rss = value;
  }
  return {pss, rss};
}

struct Stats {
  double median, p90;
};

Stats stats(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[(ms.size() * 9) / 10]};
}

// The floor of a launch: fork, then a bare isolate and an empty context in the child, with the
// engine set up once beforehand as the launcher does.
std::vector<double> isolateFloor() {
  initEngine();
  std::vector<double> ms;
  for (int i = 0; i < kLaunches; ++i) {
    int done[2];
    if (pipe2(done, O_CLOEXEC) != 0) exit(2);
    const double start = nowMs();
    const pid_t pid = fork();
    if (pid == 0) {
      v8::Isolate* isolate = newAppIsolate();
      {
        v8::Isolate::Scope isolateScope(isolate);
        v8::HandleScope scope(isolate);
        v8::Local<v8::Context> context = v8::Context::New(isolate);
        v8::Context::Scope contextScope(context);
        if (write(done[1], "d", 1) != 1) _exit(1);
      }
      _exit(0);
    }
    close(done[1]);
    char c;
    if (read(done[0], &c, 1) != 1) exit(2);
    ms.push_back(nowMs() - start);
    close(done[0]);
    waitpid(pid, nullptr, 0);
  }
  return ms;
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string tobrelvm = argc > 1 ? argv[1] : TOBRELVM_PATH;
  const std::string node = argc > 2 ? argv[2] : "node";
  signal(SIGPIPE, SIG_IGN);

  char folder[] = "/tmp/tobrelvm-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 2;
  const std::string apps = folder;
  const std::string descriptor = "<descriptor><accesses></accesses></descriptor>\n";
  const std::string firstJs = "log('ready'); exit();\n";
  const std::string idleJs = "setTimeout(60000, function() {}); log('idle');\n";
  for (const char* app : {"first", "idle"}) {
    mkdir((apps + "/" + app).c_str(), 0755);
    writeFile(apps + "/" + app + "/descriptor.xml", descriptor);
  }
  writeFile(apps + "/first/main.js", firstJs);
  writeFile(apps + "/idle/main.js", idleJs);

  // TobrelVM: the launcher runs already; a launch is a request line.
  std::vector<double> vmLaunch;
  const bool root = geteuid() == 0;
  if (root) g_sink = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  Child launcher = Child::spawn({tobrelvm, "--debug=5", "--app_folder=" + apps}, g_sink);
  if (!launcher.waitLine("TobrelVM started...")) {
    fprintf(stderr, "the launcher did not start\n");
    return 1;
  }
  for (int i = 0; i < kLaunches; ++i) {
    const double start = nowMs();
    launcher.send("first PLAIN bench\n");
    if (!launcher.waitLine("JSLOG: ready")) {
      fprintf(stderr, "launch %d gave no JSLOG line\n", i);
      return 1;
    }
    vmLaunch.push_back(nowMs() - start);
    // The app ends itself; wait until it is reaped so the three-child limit never bites.
    const double until = nowMs() + 5000;
    while (!childrenOf(launcher.pid).empty() && nowMs() < until) usleep(500);
  }
  for (int i = 0; i < kIdleApps; ++i) launcher.send("idle PLAIN bench\n");
  for (int i = 0; i < kIdleApps; ++i) launcher.waitLine("JSLOG: idle");
  usleep(200000);  // let start-up garbage settle
  std::vector<std::pair<long, long>> vmMemory;
  for (pid_t pid : childrenOf(launcher.pid)) vmMemory.push_back(memoryKb(pid));
  launcher.end();

  // node -e: a launch is a new process.
  const std::string nodeFirst = "console.log('JSLOG: ready')";
  const std::string nodeIdle = "setTimeout(function() {}, 60000); console.log('JSLOG: idle')";
  std::vector<double> nodeLaunch;
  for (int i = 0; i < kLaunches; ++i) {
    const double start = nowMs();
    Child c = Child::spawn({node, "-e", nodeFirst});
    if (!c.waitLine("JSLOG: ready")) {
      fprintf(stderr, "node gave no JSLOG line (is %s on PATH?)\n", node.c_str());
      return 1;
    }
    nodeLaunch.push_back(nowMs() - start);
    c.end();
  }
  std::vector<Child> idle;
  for (int i = 0; i < kIdleApps; ++i) idle.push_back(Child::spawn({node, "-e", nodeIdle}));
  for (Child& c : idle) c.waitLine("JSLOG: idle");
  usleep(200000);
  std::vector<std::pair<long, long>> nodeMemory;
  for (Child& c : idle) nodeMemory.push_back(memoryKb(c.pid));
  for (Child& c : idle) c.end();

  const Stats floor = stats(isolateFloor());
  const Stats vm = stats(vmLaunch), nd = stats(nodeLaunch);
  printf("Launch: request line (TobrelVM) or spawn (node -e) to the first JSLOG line, %d launches\n", kLaunches);
  printf("  (TobrelVM syslog: %s)\n", g_sink >= 0 ? "private /dev/log sink" : "none: lines go to the console");
  printf("  %-10s median %8.2f ms   p90 %8.2f ms\n", "TobrelVM", vm.median, vm.p90);
  printf("  %-10s median %8.2f ms   p90 %8.2f ms\n", "node -e", nd.median, nd.p90);
  printf("  %-10s median %8.2f ms   p90 %8.2f ms   (fork, bare isolate and empty context)\n", "floor",
         floor.median, floor.p90);
  printf("  TobrelVM median = %.2f x the floor (target <= 3): %s\n", vm.median / floor.median,
         vm.median <= 3 * floor.median ? "met" : "NOT met");
  printf("  TobrelVM median = %.3f x node's (target <= 0.1): %s\n", vm.median / nd.median,
         vm.median <= nd.median / 10 ? "met" : "NOT met");
  printf("Memory of %d idle apps running at once (kB)\n", kIdleApps);
  printf("  %-6s %12s %12s   %12s %12s\n", "app", "TobrelVM PSS", "TobrelVM RSS", "node PSS", "node RSS");
  long worstPss = 0;
  for (int i = 0; i < kIdleApps; ++i) {
    const auto v = i < static_cast<int>(vmMemory.size()) ? vmMemory[i] : std::make_pair(-1L, -1L);
    const auto n = i < static_cast<int>(nodeMemory.size()) ? nodeMemory[i] : std::make_pair(-1L, -1L);
    worstPss = std::max(worstPss, v.first);
    printf("  %-6d %12ld %12ld   %12ld %12ld\n", i + 1, v.first, v.second, n.first, n.second);
  }
  printf("  target: PSS per app child <= 8 MB (8192 kB): %s (largest %ld kB)\n",
         worstPss > 0 && worstPss <= 8192 ? "met" : "NOT met", worstPss);

  for (const char* app : {"first", "idle"}) {
    for (const char* file : {"main.js", "descriptor.xml"}) unlink((apps + "/" + app + "/" + file).c_str());
    rmdir((apps + "/" + app).c_str());
  }
  rmdir(apps.c_str());
  return 0;
}
