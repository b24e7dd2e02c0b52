// Test support: runs the message-daemon stand-in (msgd) as a child process on 127.0.0.1 with a
// port of its own choosing, drives it with control lines and reads its transcript.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "nusk-message.pb.h"

namespace tobrel::test {

class MsgdProcess {
 public:
  using Millis = std::chrono::milliseconds;
  static constexpr Millis kDefaultTimeout{5000};

  // A frame that msgd received, parsed back from its "conn N recv KIND TEXT" line.
  struct Received {
    int conn = 0;
    std::string kind;
    net::zolvek::nusk::message::NuskMsg msg;
  };

  // Starts msgd with `extraArgs` after "--port 0" and waits for it to listen. On failure port()
  // is 0 and startError() says why.
  explicit MsgdProcess(const std::vector<std::string>& extraArgs = {});
  ~MsgdProcess();
  MsgdProcess(const MsgdProcess&) = delete;
  MsgdProcess& operator=(const MsgdProcess&) = delete;

  static std::string programPath();
  const std::string& host() const { return host_; }
  int port() const { return port_; }
  const std::string& startError() const { return startError_; }

  // Sends one control line and waits for its verdict: true for "ok:", false for "error:" (the
  // message in *error) or when no verdict came in time.
  bool control(const std::string& line, std::string* error = nullptr,
               Millis timeout = kDefaultTimeout);

  // Every output line so far (what is ready is read first; nothing is waited for).
  const std::vector<std::string>& lines();
  // The number of lines so far: pass it as `from` to look only at later lines.
  size_t mark() { return lines().size(); }

  // Waits for an output line, at index `from` or later, that satisfies `pred`.
  std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& pred,
                                         Millis timeout = kDefaultTimeout, size_t from = 0);
  // The same for a line that contains `text`.
  std::optional<std::string> waitForText(const std::string& text, Millis timeout = kDefaultTimeout,
                                         size_t from = 0);
  // Waits for a received frame whose message satisfies `pred`.
  std::optional<Received> waitForReceived(
      const std::function<bool(const Received&)>& pred, Millis timeout = kDefaultTimeout,
      size_t from = 0);
  // Every frame received so far, in order.
  std::vector<Received> received();

  // Parses one "conn N recv KIND TEXT" line; nullopt for other lines.
  static std::optional<Received> parseReceived(const std::string& line);

  // Ends control input, so msgd exits, and waits for it (then SIGTERM, then SIGKILL, 2 s each).
  // Returns its exit status, or -1 when it did not exit normally. Reads its output to the end.
  int stop();

 private:
  // Reads what msgd printed, waiting at most `timeout`; false at end of output.
  bool readSome(Millis timeout);

  std::string host_ = "127.0.0.1";
  int port_ = 0;
  std::string startError_;
  pid_t pid_ = -1;
  int controlFd_ = -1;
  int outputFd_ = -1;
  std::string partial_;
  std::vector<std::string> lines_;
  int status_ = -1;
};

}  // namespace tobrel::test
