// Test support: runs the message-daemon stand-in (msgd) as a child process on 127.0.0.1 with a
// port of its own choosing, drives it with control lines and reads its transcript.
//   tobrel::test::MsgdProcess msgd;
//   ASSERT_NE(msgd.port(), 0) << msgd.startError();
//   ASSERT_TRUE(msgd.control("follow tts TERMINATED"));
//   ... run the app against 127.0.0.1:msgd.port() ...
//   auto tts = msgd.waitForReceived([](const auto& r) { return r.msg.has_tts(); });
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "nusk-message.pb.h"

namespace tobrel::test {

class MsgdProcess {
 public:
  using Millis = std::chrono::milliseconds;
  static constexpr Millis kDefaultTimeout{5000};
  // Starting msgd is a program start like any other the tests make: under the emulator on a
  // loaded machine it takes seconds.
  static constexpr Millis kStartTimeout{30000};

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

  // Every output line so far. A thread reads msgd's output all the time, so msgd never blocks
  // on a full pipe however long a test leaves it alone.
  std::vector<std::string> lines() const;
  // The number of lines so far: pass it as `from` to look only at later lines.
  size_t mark() const;

  // Waits for an output line, at index `from` or later, that satisfies `pred`. The predicate
  // runs while the output is locked: it must not call back into this object.
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
  void readOutput();  // body of the reader thread, until end of output

  std::string host_ = "127.0.0.1";
  int port_ = 0;
  std::string startError_;
  pid_t pid_ = -1;
  int controlFd_ = -1;
  int outputFd_ = -1;
  int status_ = -1;

  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;  // guarded by mutex_
  bool outputEnded_ = false;        // guarded by mutex_
};

}  // namespace tobrel::test
