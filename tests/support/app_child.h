// Test support for TobrelVM: build app folders and run one app child as a real process.
//
// runAppChild forks the test process and runs, in the child, exactly what the launcher's
// child does after its fork (TobrelVM's logging, the engine, the request split, runChild), so
// the result carries the app's own exit status or signal, which the launcher never reports.
// TOBRELVM_TIME_DIVISOR (timeouts.h) shortens the app's time limits: kFastTimers gives 100.
// Tests of the launcher itself run the real binary at TOBRELVM_PATH with process.h.
//
//   tobrel_test::TempDir apps;
//   writeApp(apps, "hello", "log('hi'); exit();");
//   RunResult r = runAppChild(apps.path(), "hello PLAIN inst");
//   EXPECT_THAT(r.err, HasSubstr("MESSAGE: JSLOG: hi"));  EXPECT_EQ(r.exitCode, 0);
#ifndef TOBREL_TESTS_SUPPORT_APP_CHILD_H
#define TOBREL_TESTS_SUPPORT_APP_CHILD_H

#include <map>
#include <memory>
#include <string>

#include "process.h"
#include "temp_dir.h"

namespace tobrel_test {

// "TOBRELVM_TIME_DIVISOR=100": the 10000 ms not-interactive end after 100 ms, and so on.
extern const char* const kFastTimers;

// An access list that grants nothing: an app folder needs one to start at all.
extern const char* const kEmptyDescriptor;

// Script text that defines t(tag, f): runs f and logs "<tag> returned <JSON of its result>" or
// "<tag> threw <exception>", so one app can try a table of calls.
extern const char* const kTryFunction;

// Whether `text` occurs in an app's `log`, naming only the text when it does not: the logs of
// apps that move much data are too long to print whole.
#define EXPECT_LOG(log, text) EXPECT_NE((log).find(text), std::string::npos) << "not in the log: " << (text)

// Writes <root>/<name>/main.js and any extra files (name relative to the app folder), and
// kEmptyDescriptor as descriptor.xml unless the extra files hold one.
std::string writeApp(const TempDir& root, const std::string& name, const std::string& mainJs,
                     const std::map<std::string, std::string>& extraFiles = {});

struct AppChildOptions {
  AppChildOptions() { run.discardSyslog = true; }
  RunOptions run;       // env, syslog (dropped unless captured), timeout; an app reads no stdin
  int debugLevel = 7;   // "--debug=" of the launcher the child comes from
};

// RunOptions for running the tobrelvm launcher itself, its syslog dropped.
RunOptions launcherRunOptions();

// What the launcher's child does after its fork, run in the calling process: TobrelVM's
// logging, the engine, the request split, runChild. Returns the app's exit status. For support
// code that prepares a child of its own first (service_net.h).
int runAppHere(const std::string& appFolder, const std::string& requestLine, int debugLevel);

// Runs the app named by the request line's first field from `appFolder` until it ends.
RunResult runAppChild(const std::string& appFolder, const std::string& requestLine,
                      const AppChildOptions& options = AppChildOptions());
// The same, left running, for tests that talk to the app while it runs.
std::unique_ptr<Process> startAppChild(const std::string& appFolder, const std::string& requestLine,
                                       const AppChildOptions& options = AppChildOptions());

}  // namespace tobrel_test

#endif
