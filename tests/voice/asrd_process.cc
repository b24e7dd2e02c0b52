// Runs the recognition-server stand-in for one test (see asrd_process.h).
#include "asrd_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

AsrdProcess::AsrdProcess(const std::vector<std::string> &options) {
  std::vector<std::string> argv = {ASRD_PATH};
  argv.insert(argv.end(), options.begin(), options.end());
  process_ = tobrel_test::Process::start(argv, tobrel_test::RunOptions());
  const std::string line = readLine(5000);
  if (line.rfind("port ", 0) != 0) throw std::runtime_error("asrd printed no port: " + line + process_->err());
  port_ = std::stoi(line.substr(5));
}

AsrdProcess::~AsrdProcess() { process_->stop(); }

std::string AsrdProcess::readLine(int timeoutMs) {
  const std::string &out = process_->out();
  if (!process_->waitUntil([&] { return out.find('\n', read_) != std::string::npos; }, timeoutMs)) return "";
  const size_t end = out.find('\n', read_);
  std::string line = out.substr(read_, end - read_);
  read_ = end + 1;
  return line;
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
