// The line-based control interface of the message-daemon stand-in: one command per line, from
// standard input or --exec, that sets reply rules or sends messages to connected apps.
#pragma once

#include <string>
#include <vector>

#include "responder.h"

namespace msgd {

// What the control commands need from the server that holds the connections.
class Links {
 public:
  virtual ~Links() = default;
  virtual std::vector<int> open() const = 0;  // numbers of the open connections, oldest first
  virtual LinkState* state(int conn) = 0;      // null when `conn` is not open
  virtual void send(int conn, const pb::NuskMsg& msg) = 0;
  virtual void close(int conn, const std::string& reason) = 0;
  virtual std::string describe(int conn) const = 0;
  virtual void quit() = 0;
};

class Control {
 public:
  Control(Responder& responder, Links& links) : responder_(responder), links_(links) {}

  struct Result {
    bool ok = true;
    std::string error;               // why the line was rejected
    std::vector<std::string> lines;  // output of list and help, printed before the verdict
  };
  Result run(const std::string& line);

  static const char* helpText();

 private:
  Result startCommand(const std::vector<std::string>& args);
  Result grantCommand(const std::vector<std::string>& args);
  Result ruleCommand(const std::string& verb, const std::string& rest);
  Result eventCommand(const std::string& verb, const std::string& rest, bool* known);
  Result sendCommand(const std::string& rest);
  Result stopCommand(const std::vector<std::string>& args);
  Result closeCommand(const std::vector<std::string>& args);

  // Resolves CONN ("3", "last", "all") to open connections, or sets `error`.
  std::vector<int> targets(const std::string& conn, std::string* error) const;

  Responder& responder_;
  Links& links_;
};

}  // namespace msgd
