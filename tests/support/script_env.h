// Test support: one app's script context inside the test process, with the device link's
// natives (tobrel.connect/start/stop, file) and a peer socket on which the test plays the
// message daemon by hand. Log lines of the process are captured for assertions. A handle
// scope stays open for the env's life, so tests may hold local handles without one.
//
//   tobrel_test::ScriptEnv env;                  // isolate, context, TobrelData, main loop
//   env.setGlobal("params", loadParams(env.isolate(), path));
//   int daemon = env.attachPeer();               // app.sock <-> daemon (socketpair)
//   env.run("tobrel.start(function() { log('granted'); })");
//   NuskMsg start = tobrel_test::readFrame(daemon);
//   tobrel_test::writeFrame(daemon, reply);  env.pollOnce();
//   EXPECT_TRUE(env.logged("JSLOG: granted"));
#ifndef TOBREL_TESTS_SUPPORT_SCRIPT_ENV_H
#define TOBREL_TESTS_SUPPORT_SCRIPT_ENV_H

#include <glib.h>
#include <v8.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log_capture.h"
#include "nusk-message.pb.h"
#include "tobrel_data.h"

namespace tobrel_test {

class ScriptEnv {
 public:
  // `appFolder` and `appName` name the app folder used by file.read and file.write.
  explicit ScriptEnv(const std::string& appFolder = "/nonexistent", const std::string& appName = "app");
  ~ScriptEnv();
  ScriptEnv(const ScriptEnv&) = delete;
  ScriptEnv& operator=(const ScriptEnv&) = delete;

  v8::Isolate* isolate() const { return isolate_; }
  v8::Local<v8::Context> context() const;
  TobrelData& app() { return *app_; }

  // Runs `source` in the app's context: the result's string form, or "threw: <text>".
  std::string run(const std::string& source);
  // Sets a property of the context's global object.
  void setGlobal(const char* name, v8::Local<v8::Value> value);
  // Sets the global `name` to a function that calls `native`, as a module object's method would.
  void setNative(const char* name, v8::FunctionCallback native);

  // Makes app.sock one end of a socket pair (no poller is installed) and returns the other.
  int attachPeer();

  // One pass of the link's poller.
  void pollOnce();

  // The process's log lines since the env was made (warnings also go to standard error).
  const std::vector<LogEntry>& logs() const { return logs_.entries(); }
  // True when a captured line equals `text`.
  bool logged(const std::string& text) const { return logs_.count(text) > 0; }
  int countLogged(const std::string& text) const { return logs_.count(text); }
  // True when a captured line contains `part`.
  bool loggedPart(const std::string& part) const { return logs_.hasPart(part); }
  // True when a line equal to `text` was captured at `level` (flags ignored).
  bool loggedAt(int level, const std::string& text) const { return logs_.has(level, text); }
  // The lines captured at `level`, in order.
  std::vector<std::string> messages(int level) const { return logs_.messages(level); }
  void clearLogs() { logs_.clear(); }

 private:
  LogCapture logs_{true};  // first in, last out: it hears the set-up and the tear-down
  LauncherOptions options_;
  std::string appFolder_;
  std::unique_ptr<TobrelData> app_;
  v8::Isolate* isolate_;
  std::optional<v8::HandleScope> scope_;  // open from construction to destruction
  v8::Global<v8::Context> context_;
  int peer_ = -1;
};

// Frame I/O for the test's side of the link (blocking; fails the test on a short read).
net::zolvek::nusk::message::NuskMsg readFrame(int fd);
void writeFrame(int fd, const net::zolvek::nusk::message::NuskMsg& msg);
void writeBytes(int fd, const std::string& bytes);
// A listening TCP socket on 127.0.0.1 at a port of the system's choosing (written to *port).
int listenOnLoopback(int* port);
// A loopback port on which nothing listens (it was bound and released).
int unusedLoopbackPort();
// A reply naming `request` with response.code `code` (0: a response without a code; -1: none).
net::zolvek::nusk::message::NuskMsg replyTo(const std::string& request, int code);

}  // namespace tobrel_test

#endif
