// ServiceNet: namespaces, the bind mounts over /etc/hosts and /etc/ssl/certs, the stand-in and
// then the app, all inside one forked child of the test.
#include "service_net.h"

#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace tobrel_test {

const std::vector<std::string> kServiceNames = {"facebook.com", "graph.facebook.com", "www.facebook.com",
                                                "soundcloud.com", "api.soundcloud.com"};

namespace {

constexpr int kSetUpFailed = 120;

int failSetUp(const std::string& what) {
  fprintf(stderr, "service net: %s: %s\n", what.c_str(), strerror(errno));
  fflush(stderr);
  return kSetUpFailed;
}

bool loopbackUp() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  struct ifreq request;
  memset(&request, 0, sizeof request);
  strcpy(request.ifr_name, "lo");
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP | IFF_RUNNING;
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

// Starts the stand-in with its output in `transcript`; its pid, or -1.
pid_t startStandIn(const std::vector<std::string>& args, const std::string& transcript) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int out = open(transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(out, 1);
  dup2(out, 2);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  tobrel_test::execProgram(argv.data());
  _exit(127);
}

bool waitListening(const std::string& transcript, int listeners, const std::string& ready = "listening ") {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (countOf(readFile(transcript), ready) < listeners) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

ServiceNet::ServiceNet() {
  std::vector<std::string> names;
  for (const std::string& name : kServiceNames) {
    names.push_back(name);
    if (std::count(name.begin(), name.end(), '.') == 1) names.push_back("*." + name);
  }
  if (!makeTestCertificates(dir_.path(), names, &certs_, &error_)) return;
  std::string hosts = "127.0.0.1 localhost\n";
  for (const std::string& name : kServiceNames) hosts += "127.0.0.1 " + name + "\n";
  dir_.write("hosts", hosts);
  const std::string ca = readFile(certs_.ca);
  dir_.write("certs/ca-certificates.crt", ca);
  dir_.write("certs/" + certs_.caHashName, ca);
}

void ServiceNet::alsoRun(const std::vector<std::string>& argv, const std::string& transcript,
                         const std::string& ready) {
  others_.push_back({argv, transcript, ready});
}

std::unique_ptr<Process> ServiceNet::startApp(const std::string& appFolder, const std::string& requestLine,
                                              const AppChildOptions& options) {
  const std::vector<std::string> standIn =
      web_.commandLine("80", {"443:" + certs_.service + ":" + certs_.serviceKey,
                              "8443:" + certs_.selfSigned + ":" + certs_.selfSignedKey,
                              "9443:" + certs_.otherName + ":" + certs_.otherNameKey});
  const std::string transcript = web_.transcriptPath();
  const std::string hosts = dir_.path() + "/hosts", certs = dir_.path() + "/certs";
  const int debugLevel = options.debugLevel;
  const std::vector<Program> others = others_;
  AppChildOptions child = options;
  // The child gets a private /dev/log (and with it a private mount namespace) unless it has one.
  if (child.run.syslog == nullptr) child.run.discardSyslog = true;
  return Process::start(
      [=]() {
        if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return failSetUp("unshare");
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failSetUp("make / private");
        if (!loopbackUp()) return failSetUp("loopback up");
        if (mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) return failSetUp("mount hosts");
        if (mount(certs.c_str(), "/etc/ssl/certs", nullptr, MS_BIND, nullptr) != 0) return failSetUp("mount certs");
        const pid_t web = startStandIn(standIn, transcript);
        if (web < 0 || !waitListening(transcript, 4)) return failSetUp("web stand-in: " + readFile(transcript));
        std::vector<pid_t> started = {web};
        for (const Program& other : others) {
          started.push_back(startStandIn(other.argv, other.transcript));
          if (started.back() < 0 || !waitListening(other.transcript, 1, other.ready)) {
            for (pid_t pid : started) if (pid > 0) kill(pid, SIGTERM);
            return failSetUp(other.argv[0] + ": " + readFile(other.transcript));
          }
        }
        const int status = runAppHere(appFolder, requestLine, debugLevel);
        for (pid_t pid : started) kill(pid, SIGTERM);
        for (pid_t pid : started) waitpid(pid, nullptr, 0);
        return status;
      },
      child.run);
}

}  // namespace tobrel_test
