// The stand-in's poll loop and socket glue; framing and answers live in the codec and responder.
#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

namespace msgd {

namespace {

volatile std::sig_atomic_t gStopSignal = 0;
void onStopSignal(int) { gStopSignal = 1; }

// A peer that stops reading must not make us hold its replies without bound.
constexpr size_t kMaxPendingOutput = 64u * 1024u * 1024u;
// A control line longer than this is not a command anyone typed or generated on purpose.
constexpr size_t kMaxControlLine = 1024u * 1024u;

std::string errnoText() { return std::strerror(errno); }

}  // namespace

Server::Server() : control_(responder_, *this) {}

Server::~Server() {
  for (auto& [n, c] : conns_) ::close(c.fd);
  if (listenFd_ >= 0) ::close(listenFd_);
  if (transcript_) std::fclose(transcript_);
}

bool Server::setTranscript(const std::string& path) {
  transcript_ = std::fopen(path.c_str(), "a");
  return transcript_ != nullptr;
}

void Server::emit(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
  if (transcript_) {
    std::fputs(line.c_str(), transcript_);
    std::fputc('\n', transcript_);
    std::fflush(transcript_);
  }
}

bool Server::control(const std::string& line) {
  Control::Result r = control_.run(line);
  for (const std::string& l : r.lines) emit(l);
  const std::string::size_type first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos || line[first] == '#') return true;  // nothing to confirm
  std::string shown = line;
  if (!shown.empty() && shown.back() == '\r') shown.pop_back();
  emit(r.ok ? "ok: " + shown : "error: " + r.error);
  return r.ok;
}

bool Server::listen(const std::string& host, int port, std::string* error) {
  const std::string addrText = host == "localhost" ? "127.0.0.1" : host;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (inet_pton(AF_INET, addrText.c_str(), &addr.sin_addr) != 1) {
    *error = "not an IPv4 address: " + host;
    return false;
  }
  if ((ntohl(addr.sin_addr.s_addr) >> 24) != 127) {
    *error = "refusing to listen on " + host + ": only loopback addresses (127.x.x.x) are served";
    return false;
  }
  if (port < 0 || port > 65535) {
    *error = "port out of range: " + std::to_string(port);
    return false;
  }
  addr.sin_port = htons(static_cast<uint16_t>(port));
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    *error = "socket: " + errnoText();
    return false;
  }
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    *error = "cannot listen on " + addrText + ":" + std::to_string(port) + ": " + errnoText();
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  emit("listening on " + addrText + ":" + std::to_string(ntohs(addr.sin_port)));
  return true;
}

std::vector<int> Server::open() const {
  std::vector<int> numbers;
  for (const auto& [n, c] : conns_) numbers.push_back(n);
  return numbers;
}

LinkState* Server::state(int conn) {
  auto it = conns_.find(conn);
  return it == conns_.end() ? nullptr : &it->second.state;
}

std::string Server::describe(int conn) const {
  const Conn& c = conns_.at(conn);
  std::string s = "conn " + std::to_string(conn) + " peer " + c.peer + " received " +
                  std::to_string(c.received) + " granted " +
                  (c.state.grantedId.empty() ? "-" : c.state.grantedId);
  if (!c.state.pendingStartId.empty()) s += " pending-start " + c.state.pendingStartId;
  return s;
}

void Server::send(int conn, const pb::NuskMsg& msg) {
  auto it = conns_.find(conn);
  if (it == conns_.end()) return;
  const std::string prefix = "conn " + std::to_string(conn);
  if (!tobrel::frame::appendFrame(msg, &it->second.out)) {
    emit(prefix + " warn message too large to send, dropped");
    return;
  }
  emit(prefix + " sent " + kindOf(msg) + " " + oneLine(msg));
  if (it->second.out.size() > kMaxPendingOutput) {
    close(conn, "peer does not read its frames");
    return;
  }
  flushConn(conn);
}

void Server::close(int conn, const std::string& reason) {
  auto it = conns_.find(conn);
  if (it == conns_.end()) return;
  ::close(it->second.fd);
  conns_.erase(it);
  emit("conn " + std::to_string(conn) + " closed " + reason);
}

void Server::acceptOne() {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      emit("warn accept failed: " + errnoText());
    return;
  }
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  const int number = nextConn_++;
  Conn& c = conns_[number];
  c.fd = fd;
  c.peer = std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
  emit("conn " + std::to_string(number) + " open " + c.peer);
}

void Server::flushConn(int number) {
  auto it = conns_.find(number);
  if (it == conns_.end()) return;
  Conn& c = it->second;
  while (!c.out.empty()) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      c.out.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;  // poll tells us when it can take more
    } else {
      close(number, "send failed: " + errnoText());
      return;
    }
  }
}

void Server::readConn(int number) {
  Conn& c = conns_.at(number);
  char buf[65536];
  const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    close(number, "receive failed: " + errnoText());
    return;
  }
  if (n == 0) {
    if (c.reader.cleanEof()) {
      close(number, "by peer");
    } else {
      const uint32_t want = c.reader.pendingLength();
      std::string detail = c.reader.buffered() < tobrel::frame::kHeaderSize
                               ? std::to_string(c.reader.buffered()) + " of 4 length bytes"
                               : std::to_string(c.reader.buffered() - tobrel::frame::kHeaderSize) +
                                     " of " + std::to_string(want) + " payload bytes";
      close(number, "by peer inside a frame (" + detail + ")");
    }
    return;
  }
  c.reader.feed(buf, static_cast<size_t>(n));
  std::string payload;
  for (;;) {
    auto found = conns_.find(number);
    if (found == conns_.end()) return;  // closed while handling a frame
    switch (found->second.reader.next(&payload)) {
      case tobrel::frame::Reader::Result::kNeedMore: return;
      case tobrel::frame::Reader::Result::kTooLarge:
        close(number, "frame length " + std::to_string(found->second.reader.pendingLength()) +
                          " over the " + std::to_string(tobrel::frame::kMaxPayload) +
                          "-byte limit");
        return;
      case tobrel::frame::Reader::Result::kFrame: handleFrame(number, payload); break;
    }
  }
}

void Server::handleFrame(int number, const std::string& payload) {
  const std::string prefix = "conn " + std::to_string(number);
  pb::NuskMsg msg;
  switch (tobrel::frame::parsePayload(payload.data(), payload.size(), &msg)) {
    case tobrel::frame::ParseResult::kMalformed:
      close(number, "undecodable frame of " + std::to_string(payload.size()) + " bytes");
      return;
    case tobrel::frame::ParseResult::kMissingRequired:
      emit(prefix + " warn frame lacks required fields: " + msg.InitializationErrorString());
      break;
    case tobrel::frame::ParseResult::kOk: break;
  }
  Conn& c = conns_.at(number);
  ++c.received;
  emit(prefix + " recv " + kindOf(msg) + " " + oneLine(msg));
  for (const pb::NuskMsg& reply : responder_.answer(msg, &c.state)) send(number, reply);
}

void Server::readControl() {
  char buf[8192];
  const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    // A last line without its newline is still a line.
    if (!controlBuf_.empty() && !discardingLongLine_) control(controlBuf_);
    controlBuf_.clear();
    controlOpen_ = false;
    return;
  }
  controlBuf_.append(buf, static_cast<size_t>(n));
  std::string::size_type nl;
  while ((nl = controlBuf_.find('\n')) != std::string::npos) {
    std::string line = controlBuf_.substr(0, nl);
    controlBuf_.erase(0, nl + 1);
    if (discardingLongLine_) {
      discardingLongLine_ = false;
      continue;
    }
    control(line);
  }
  if (controlBuf_.size() > kMaxControlLine) {
    emit("error: control line longer than " + std::to_string(kMaxControlLine) + " bytes ignored");
    controlBuf_.clear();
    discardingLongLine_ = true;
  }
}

int Server::run(bool readControlInput) {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  controlOpen_ = readControlInput;

  while (!quit_ && !gStopSignal) {
    std::vector<pollfd> fds;
    std::vector<int> numbers;  // connection number of each entry; 0 listen, -1 control
    fds.push_back({listenFd_, POLLIN, 0});
    numbers.push_back(0);
    if (controlOpen_) {
      fds.push_back({STDIN_FILENO, POLLIN, 0});
      numbers.push_back(-1);
    }
    for (const auto& [n, c] : conns_) {
      fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
      numbers.push_back(n);
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      emit("error: poll failed: " + errnoText());
      return 1;
    }
    for (size_t i = 0; i < fds.size() && !quit_; ++i) {
      const short ev = fds[i].revents;
      if (!ev) continue;
      if (numbers[i] == 0) {
        acceptOne();
      } else if (numbers[i] == -1) {
        readControl();
        if (!controlOpen_ && readControlInput) quit_ = true;  // whoever drove us is gone
      } else {
        if (ev & POLLOUT) flushConn(numbers[i]);
        if ((ev & (POLLIN | POLLHUP | POLLERR)) && conns_.count(numbers[i])) readConn(numbers[i]);
      }
    }
  }
  return 0;
}

}  // namespace msgd
