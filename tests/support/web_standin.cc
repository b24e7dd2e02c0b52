// WebStandIn: starts peers/web, writes its replies and parses its recorded requests.
#include "web_standin.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace tobrel_test {

const std::string* WebRequest::findHeader(const std::string& name) const {
  for (const std::string& line : headers)
    if (line.size() > name.size() && line[name.size()] == ':' && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0)
      return &line;
  return nullptr;
}

std::string WebRequest::header(const std::string& name) const {
  const std::string* line = findHeader(name);
  if (line == nullptr) return "";
  size_t from = name.size() + 1;
  while (from < line->size() && (*line)[from] == ' ') ++from;
  return line->substr(from);
}

bool WebRequest::hasHeader(const std::string& name) const { return findHeader(name) != nullptr; }

std::string httpReply(const std::string& status, const std::vector<std::string>& headers, const std::string& body) {
  std::string raw = "HTTP/1.1 " + status + "\r\n";
  for (const std::string& line : headers) raw += line + "\r\n";
  return raw + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

WebStandIn::WebStandIn() {
  dir_.mkdir("replies");
  dir_.mkdir("record");
}

WebStandIn::~WebStandIn() {
  if (process_) process_->stop(1000);
}

std::string WebStandIn::programPath() { return TOBREL_WEB_PROGRAM; }

void WebStandIn::reply(const std::string& name, const std::string& raw) const { dir_.write("replies/" + name, raw); }

std::vector<std::string> WebStandIn::commandLine(const std::string& httpPort,
                                                const std::vector<std::string>& tls) const {
  std::vector<std::string> argv = {programPath(), "--http",  httpPort, "--record", dir_.path() + "/record",
                                   "--replies",   dir_.path() + "/replies"};
  for (const std::string& listener : tls) {
    argv.push_back("--tls");
    argv.push_back(listener);
  }
  return argv;
}

bool WebStandIn::start(const std::vector<std::string>& tlsCertKeys) {
  std::vector<std::string> tls;
  for (const std::string& certKey : tlsCertKeys) tls.push_back("0:" + certKey);
  RunOptions options;
  options.outputToFile = true;
  process_ = Process::start(commandLine("0", tls), options);
  const size_t listeners = 1 + tlsCertKeys.size();
  if (!process_->waitUntil([&]() { return countOf(process_->output(), "listening ") >= static_cast<int>(listeners); },
                           10000)) {
    error_ = "the web stand-in did not listen: " + process_->output();
    return false;
  }
  for (const std::string& line : lines(process_->output())) {
    int number = 0;
    if (sscanf(line.c_str(), "listening http %d", &number) == 1) port_ = number;
    if (sscanf(line.c_str(), "listening tls %d", &number) == 1) tlsPorts_.push_back(number);
  }
  return port_ != 0;
}

std::vector<WebRequest> WebStandIn::requests() const {
  std::vector<WebRequest> found;
  for (int k = 1;; ++k) {
    const std::string base = dir_.path() + "/record/request-" + std::to_string(k);
    struct stat info;
    if (stat((base + ".head").c_str(), &info) != 0) break;  // the head is written last
    WebRequest request;
    std::vector<std::string> headLines = lines(readFile(base + ".head"));
    for (std::string& line : headLines)
      if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!headLines.empty()) {
      const std::string& first = headLines[0];
      const size_t space = first.find(' ');
      request.method = first.substr(0, space);
      request.target = first.substr(space + 1, first.rfind(' ') - space - 1);
      for (size_t i = 1; i < headLines.size(); ++i)
        if (!headLines[i].empty()) request.headers.push_back(headLines[i]);
    }
    request.body = readFile(base + ".body");
    found.push_back(std::move(request));
  }
  return found;
}

bool WebStandIn::waitRequests(size_t count, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (requests().size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string WebStandIn::transcript() {
  if (process_) return process_->output();
  return readFile(transcriptPath());
}

}  // namespace tobrel_test
