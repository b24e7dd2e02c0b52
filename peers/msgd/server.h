// Socket side of the message-daemon stand-in: one poll loop over the listening socket, the
// control input and every app connection, each with its own frame reader and link state.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "control.h"
#include "frame_codec.h"
#include "responder.h"

namespace msgd {

class Server : public Links {
 public:
  Server();
  ~Server() override;

  // Also copies every output line to `path` (appended, flushed per line). False if it
  // cannot be opened.
  bool setTranscript(const std::string& path);
  // Answers queries from `data` from now on (--data).
  void setData(DataStore data) { responder_.setData(std::move(data)); }
  // Runs one control line and prints its verdict. False when the line was rejected.
  bool control(const std::string& line);
  // Binds and listens on a loopback IPv4 address; port 0 picks one. Prints "listening on".
  bool listen(const std::string& host, int port, std::string* error);
  // Serves until quit, the end of control input (when read) or SIGINT/SIGTERM. Exit status.
  int run(bool readControlInput);

  // Links
  std::vector<int> open() const override;
  LinkState* state(int conn) override;
  void send(int conn, const pb::NuskMsg& msg) override;
  void close(int conn, const std::string& reason) override;
  std::string describe(int conn) const override;
  void quit() override { quit_ = true; }

 private:
  struct Conn {
    int fd = -1;
    std::string peer;
    tobrel::frame::Reader reader;
    std::string out;  // frames not yet written
    LinkState state;
    unsigned long received = 0;
  };

  void emit(const std::string& line);
  void acceptOne();
  void readConn(int number);
  void flushConn(int number);
  void handleFrame(int number, const std::string& payload);
  void readControl();

  Responder responder_;
  Control control_;
  std::map<int, Conn> conns_;
  int nextConn_ = 1;
  int listenFd_ = -1;
  bool quit_ = false;
  bool controlOpen_ = true;
  std::string controlBuf_;
  bool discardingLongLine_ = false;
  FILE* transcript_ = nullptr;
};

}  // namespace msgd
