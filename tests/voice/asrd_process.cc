// Runs the recognition-server stand-in for one test (see asrd_process.h).
#include "asrd_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

AsrdProcess::AsrdProcess(const std::vector<std::string> &options) {
  std::vector<gchar *> argv;
  argv.push_back(const_cast<gchar *>(ASRD_PATH));
  for (const auto &option : options) argv.push_back(const_cast<gchar *>(option.c_str()));
  argv.push_back(nullptr);
  GError *error = nullptr;
  if (!g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                nullptr, &pid_, nullptr, &out_, nullptr, &error)) {
    std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("cannot start asrd: " + message);
  }
  const std::string line = readLine(5000);
  if (line.rfind("port ", 0) != 0) throw std::runtime_error("asrd printed no port: " + line);
  port_ = std::stoi(line.substr(5));
}

AsrdProcess::~AsrdProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    g_spawn_close_pid(pid_);
  }
  if (out_ >= 0) close(out_);
}

std::string AsrdProcess::readLine(int timeoutMs) {
  const gint64 deadline = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
  for (;;) {
    const size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    const gint64 left = (deadline - g_get_monotonic_time()) / 1000;
    if (left <= 0) return "";
    struct pollfd p = {out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char chunk[4096];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0) return "";
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

std::string AsrdProcess::nextSession(int timeoutMs) {
  for (;;) {
    std::string line = readLine(timeoutMs);
    if (line.empty() || line.rfind("session ", 0) == 0) return line;
  }
}

std::string sessionField(const std::string &line, const std::string &name) {
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    if (word == name && (words >> word)) return word;
  }
  return "";
}

std::string sessionBytes(const std::string &line, const std::string &name) {
  const std::string hex = sessionField(line, name);
  std::string bytes;
  if (hex == "-") return bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

int unusedPort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(s, reinterpret_cast<struct sockaddr *>(&address), sizeof address);
  getsockname(s, reinterpret_cast<struct sockaddr *>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}
