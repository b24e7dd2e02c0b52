// Test support: one real app child against a message-daemon stand-in of its own, for tests of
// the module natives and listeners end to end. The app's output is read whenever the test
// waits, so the app never blocks in its logging.
//
//   tobrel_test::DeviceApp device;
//   ASSERT_TRUE(device.start("tobrel.connect('127.0.0.1', PORT);\n"
//                            "tobrel.start(function() { log('granted'); });\n", {"button"}));
//   ASSERT_TRUE(device.waitLog("JSLOG: granted"));
//   ASSERT_TRUE(device.control("button last SIMPLE"));
//   auto lights = device.sent("led.light");
#ifndef TOBREL_TESTS_SUPPORT_DEVICE_APP_H
#define TOBREL_TESTS_SUPPORT_DEVICE_APP_H

#include <memory>
#include <string>
#include <vector>

#include "msgd_process.h"
#include "process.h"
#include "temp_dir.h"

namespace tobrel_test {

// Script text that runs the expression `call` and logs "<tag> returned <value>" or
// "<tag> threw <exception>", so a table of calls can run in one app.
std::string tryCall(const std::string& tag, const std::string& call);

class DeviceApp {
 public:
  // `msgdArgs` go to the stand-in's command line (for example {"--data", path}).
  explicit DeviceApp(const std::vector<std::string>& msgdArgs = {});

  // Writes the app "app" (main.js with every PORT replaced by the stand-in's port, and a
  // descriptor granting `accesses`) and starts it as an app child. False when the stand-in
  // did not start.
  bool start(const std::string& mainJs, const std::vector<std::string>& accesses);

  tobrel::test::MsgdProcess& msgd() { return msgd_; }
  Process& app() { return *app_; }
  // The folder that holds the app (the child's "--app_folder=").
  const std::string& appFolder() const { return apps_.path(); }
  // What the app has written on standard error so far (its log lines).
  const std::string& log() const { return app_->err(); }

  // One control line for the stand-in; false (with the reason in the test's output) when it
  // was refused.
  bool control(const std::string& line);

  // Sends the app a message naming `request` (its correlationId), with the rest given in
  // NuskMsg text form, e.g. answer(asks[0], "response { code: OK }").
  bool answer(const tobrel::test::MsgdProcess::Received& request, const std::string& messageText);

  // Waits until `text` occurs at least `times` times in the app's log.
  bool waitLog(const std::string& text, int times = 1, int timeoutMs = 10000);
  // Waits for kConnectAndStart's "granted" and for the START in the stand-in's transcript,
  // which is read on its own and can lag behind the app's log: after it, sent() holds every
  // frame the app wrote before it was granted.
  bool waitGranted();
  int countLog(const std::string& text) const;
  // The script's own lines (what log() wrote, without "MESSAGE: JSLOG: "), in order.
  std::vector<std::string> scriptLog() const;

  // Frames the stand-in received whose kind ("led.light", "interactiveMode.START", ...) starts
  // with `kindPrefix`, in order; waitSent waits until there are at least `count` of them.
  std::vector<tobrel::test::MsgdProcess::Received> sent(const std::string& kindPrefix);
  bool waitSent(const std::string& kindPrefix, size_t count, int timeoutMs = 10000);

 private:
  tobrel::test::MsgdProcess msgd_;
  TempDir apps_;
  std::unique_ptr<Process> app_;
};

// One call of a table that a granted app runs in turn, and what it must give.
struct CallCase {
  std::string call;     // a script expression
  std::string outcome;  // "returned undefined", "threw Wrong arguments", ...
  std::string sent = "";  // what it sends (see the function that checks it); empty: nothing
};

// The cases with `prefix` ("tobrel.ears.", ...) put before each call.
std::vector<CallCase> prefixed(const std::string& prefix, std::vector<CallCase> cases);

// main.js that connects to the stand-in (PORT), enters interactive mode, then runs `body` and
// last a ping whose reply logs kGrantedRunDone: once that is logged, every earlier call's
// reply has been handled too, since the daemon answers in order.
std::string whenGranted(const std::string& body);
extern const char* const kGrantedRunDone;  // "JSLOG: end OK"

// Script text that connects to the stand-in (its port stands as PORT, replaced by start).
extern const char* const kConnect;

// kConnect, then a request for interactive mode that logs "granted" once it is given.
extern const char* const kConnectAndStart;

// Expects the frames of kind `kindPrefix` to be the cases' `sent` texts (frameBody's form), in
// order (waiting for the stand-in's transcript to hold as many).
void expectSent(DeviceApp& device, const std::string& kindPrefix, const std::vector<CallCase>& cases);

// tryCall for every case, tagged with its index (after `phase` and a space, when given).
std::string tryCalls(const std::vector<CallCase>& cases, const std::string& phase = "");
// Expects every case's outcome in the app's log, each failure naming its call.
void expectOutcomes(const DeviceApp& device, const std::vector<CallCase>& cases, const std::string& phase = "");
// The `sent` texts of the cases that send, in order.
std::vector<std::string> expectedBodies(const std::vector<CallCase>& cases);
// A received frame's one-line text form without its id and interactive id.
std::string frameBody(const net::zolvek::nusk::message::NuskMsg& msg);

// Starts an app granted `accesses` that runs `setup`, connects, and once interactive runs the
// cases (each as tobrel.<module>.<call>) in turn. Checks every outcome, then that the stand-in
// received exactly the frames of the cases that send, in order, `sent` being the frame's
// <module> part in text form. The last case must send: once its frame is in, all are.
void expectCallTable(DeviceApp& device, const std::string& module, const std::vector<CallCase>& cases,
                     const std::vector<std::string>& accesses, const std::string& setup = "");

}  // namespace tobrel_test

#endif
