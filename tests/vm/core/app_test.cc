// App children as real processes over fixture app folders: how an app ends, the exception
// report, and the global functions log, exit, setTimeout, include, timestamp and uuid.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app_child.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::AppChildOptions;
using tobrel_test::countOf;
using tobrel_test::RunResult;
using tobrel_test::TempDir;
using tobrel_test::writeApp;

namespace {

// Catches what a call throws and logs it, so one app can show several refusals.
const char* const kTry = "function t(f) { try { f(); } catch (e) { log('caught ' + (typeof e) + ' ' + e); } }\n";

// The not-interactive end after 100 ms instead of 10 s, for tests that wait for it. Other
// tests end their app with exit() long before the real limit.
AppChildOptions fast() {
  AppChildOptions options;
  options.run.env.push_back(tobrel_test::kFastTimers);
  return options;
}

RunResult runApp(const std::string& mainJs, const std::map<std::string, std::string>& extra = {},
                 const std::string& request = "app PLAIN inst", const AppChildOptions& options = {}) {
  TempDir apps;
  writeApp(apps, "app", mainJs, extra);
  return tobrel_test::runAppChild(apps.path(), request, options);
}

RunResult runUntilAutokill(const std::string& mainJs) { return runApp(mainJs, {}, "app PLAIN inst", fast()); }

bool exitedWith(const RunResult& r, int status) { return r.exited && r.exitCode == status; }

// The stderr lines from the first that equals `first`, `count` of them (fewer at the end).
std::vector<std::string> linesFrom(const std::string& err, const std::string& first, size_t count) {
  const std::vector<std::string> all = tobrel_test::lines(err);
  auto it = std::find(all.begin(), all.end(), first);
  std::vector<std::string> found;
  for (; it != all.end() && found.size() < count; ++it) found.push_back(*it);
  return found;
}

const char* const kAutokill = "WARNING: /!\\ AUTOKILL, application still not interactive after 10000ms";

}  // namespace

TEST(AppChild, LogsAndEndsWithExitFromATimer) {
  RunResult r = runApp("log('hello');\nsetTimeout(10, function() { exit(); });\n");
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: running app: app\n"));
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: JSLOG: hello\n"));
  EXPECT_THAT(r.err, HasSubstr("DEBUG: EXIT\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("AUTOKILL")));
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe() << "\n" << r.err;
}

TEST(AppChild, EndsWithTheSpecifiedStatus) {
  const struct {
    const char* name;
    std::string mainJs;
    int status;
    std::vector<std::string> expected;
    const char* absent;
  } cases[] = {
      // The script runs on after exit() until control returns to the loop.
      {"exit at top level", "log('a'); exit(); log('b');", 0, {"JSLOG: a", "DEBUG: EXIT", "JSLOG: b"}, "AUTOKILL"},
      {"never interactive", "log('only');", 255, {"JSLOG: only", kAutokill}, "DEBUG: EXIT"},
      {"exit with an argument refused", std::string(kTry) + "t(function() { exit(0); });", 255,
       {"DEBUG: EXIT", "JSLOG: caught string Wrong arguments", kAutokill}, "JSLOG: never"},
      {"timer after the check", "setTimeout(1000, function() { log('too late'); });", 255, {kAutokill}, "too late"},
  };
  for (const auto& c : cases) {
    RunResult r = runUntilAutokill(c.mainJs);
    EXPECT_TRUE(exitedWith(r, c.status)) << c.name << ": " << r.describe() << "\n" << r.err;
    size_t at = 0;
    for (const std::string& line : c.expected) {
      const size_t found = r.err.find(line, at);
      EXPECT_NE(found, std::string::npos) << c.name << ": no '" << line << "' in order\n" << r.err;
      if (found != std::string::npos) at = found + line.size();
    }
    EXPECT_THAT(r.err, Not(HasSubstr(c.absent))) << c.name;
  }
}

// Standard output is shared with the launcher, and may be a pipe whose reader has gone: an
// app's line there is lost, and the app goes on to end as it would have.
TEST(AppChild, AWriteOnAStandardOutputThatNobodyReadsLosesOnlyTheLine) {
  TempDir apps;
  writeApp(apps, "app",
           "tobrel.serial.addListener__({});\n"  // traces a line on standard output
           "setTimeout(10, function() { log('went on'); exit(); });\n",
           {{"descriptor.xml", "<descriptor><accesses><access>serial</access></accesses></descriptor>"}});
  tobrel_test::RunOptions options;
  options.discardSyslog = true;
  RunResult r = tobrel_test::runFunction(
      [&apps]() {
        int ends[2];
        if (pipe(ends) != 0) return 125;
        close(ends[0]);
        dup2(ends[1], STDOUT_FILENO);
        close(ends[1]);
        return tobrel_test::runAppHere(apps.path(), "app PLAIN inst", 7);
      },
      options);
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: JSLOG: went on\n"));
}

TEST(AppChild, UnreadableScriptsAbortTheChild) {
  const struct {
    const char* name;
    std::function<void(const TempDir&)> build;
    const char* error;
  } cases[] = {
      {"no main.js", [](const TempDir& d) { d.write("app/descriptor.xml", tobrel_test::kEmptyDescriptor); },
       "\n: No such file or directory\n"},
      {"main.js is a folder",
       [](const TempDir& d) {
         d.write("app/descriptor.xml", tobrel_test::kEmptyDescriptor);
         d.mkdir("app/main.js");
       },
       "\n: Is a directory\n"},
      {"included file missing", [](const TempDir& d) { writeApp(d, "app", "include('nope.js');"); },
       "\n: No such file or directory\n"},
      {"include of the app folder itself", [](const TempDir& d) { writeApp(d, "app", "include('');"); },
       "\n: Is a directory\n"},
      {"main.js is a pipe",
       [](const TempDir& d) {
         d.write("app/descriptor.xml", tobrel_test::kEmptyDescriptor);
         ASSERT_EQ(mkfifo((d.path() + "/app/main.js").c_str(), 0600), 0);
       },
       "\n: Invalid argument\n"},
#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer ends a huge allocation itself
      {"main.js larger than memory",
       [](const TempDir& d) {
         writeApp(d, "app", "");
         // A sparse terabyte: no room to hold it, however it is read.
         ASSERT_EQ(truncate((d.path() + "/app/main.js").c_str(), off_t{1} << 40), 0);
       },
       "\n: Cannot allocate memory\n"},
#if SIZE_MAX <= UINT32_MAX
      {"main.js of 4 GiB and 9 bytes, where sizes have 32 bits",
       [](const TempDir& d) {
         writeApp(d, "app", "log('x');");
         ASSERT_EQ(truncate((d.path() + "/app/main.js").c_str(), (off_t{1} << 32) + 9), 0);
       },
       "\n: Cannot allocate memory\n"},
#endif
#endif
  };
  for (const auto& c : cases) {
    TempDir apps;
    c.build(apps);
    RunResult r = tobrel_test::runAppChild(apps.path(), "app", fast());
    EXPECT_FALSE(r.exited) << c.name << ": " << r.describe();
    EXPECT_EQ(r.signal, SIGABRT) << c.name << "\n" << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.error)) << c.name;
  }
}

TEST(ExceptionReport, SyntaxErrorOnLineThree) {
  RunResult r = runUntilAutokill("var a = 1;\nvar b = 2;\nvar c = ;\n");
  const std::string first = "WARNING: main.js:3: SyntaxError: Unexpected token ';'";
  EXPECT_EQ(linesFrom(r.err, first, 4),
            (std::vector<std::string>{first, "WARNING: var c = ;", "WARNING:         ^",
                                      "WARNING: SyntaxError: Unexpected token ';'"}))
      << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("running app: app")));
  // The child still runs its loop, so the not-interactive end comes.
  EXPECT_TRUE(exitedWith(r, 255)) << r.describe();
}

TEST(ExceptionReport, ThrownStringHasNoStackTraceLine) {
  RunResult r = runUntilAutokill("log('x');\nthrow \"boom\";\n");
  const std::string first = "WARNING: main.js:2: boom";
  const auto report = linesFrom(r.err, first, 4);
  ASSERT_EQ(report.size(), 4u) << r.err;
  EXPECT_EQ(report[1], "WARNING: throw \"boom\";");
  EXPECT_EQ(report[2], "WARNING: ^");
  EXPECT_EQ(report[3], kAutokill);
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: running app: app"));
}

TEST(ExceptionReport, ErrorObjectGetsItsStackTrace) {
  RunResult r = runUntilAutokill("function boom() {\n  throw new Error('deep');\n}\nboom();\n");
  const std::string first = "WARNING: main.js:2: Error: deep";
  const auto report = linesFrom(r.err, first, 4);
  ASSERT_EQ(report.size(), 4u) << r.err;
  EXPECT_EQ(report[1], "WARNING:   throw new Error('deep');");
  EXPECT_EQ(report[2], "WARNING:   ^");
  EXPECT_EQ(report[3], "WARNING: Error: deep");
  EXPECT_THAT(r.err, HasSubstr("\n    at boom (main.js:2:9)\n    at main.js:4:1\n"));
}

TEST(ExceptionReport, CaretLineOfAVeryLongLineIsCut) {
  RunResult r = runUntilAutokill("var s = '" + std::string(1500, 'x') + "'; missing();\n");
  const std::string first = "WARNING: main.js:1: ReferenceError: missing is not defined";
  const auto report = linesFrom(r.err, first, 3);
  ASSERT_EQ(report.size(), 3u) << r.err.substr(0, 300);
  EXPECT_EQ(report[2], "WARNING: " + std::string(1023, ' '));
}

TEST(Timers, AThrowingTimerIsReportedAndEndsWhileTheAppGoesOn) {
  RunResult r = runApp(
      "var n = 0;\n"
      "setTimeout(5, function() { n++; throw new Error('tick ' + n); });\n"
      "setTimeout(150, function() { log('ticks ' + n); exit(); });\n");
  EXPECT_THAT(r.err, HasSubstr("WARNING: main.js:2: Error: tick 1\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: ticks 1\n"));
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe() << "\n" << r.err;
}

TEST(Timers, RepeatOnlyWhileTheFunctionReturnsBooleanTrue) {
  RunResult r = runApp(
      "var counts = {};\n"
      "function every(name, value) { counts[name] = 0; setTimeout(1, function() { counts[name]++; return value; }); }\n"
      "every('one', 1); every('text', 'true'); every('undef', undefined); every('boxed', new Boolean(true));\n"
      "every('yes', true);\n"
      "setTimeout(1, function() { counts.nothing = (counts.nothing || 0) + 1; });\n"
      "setTimeout(200, function() {\n"
      "  log('repeated ' + (counts.yes > 3));\n"
      "  delete counts.yes; log(JSON.stringify(counts)); exit();\n"
      "});\n");
  EXPECT_THAT(r.err, HasSubstr("JSLOG: repeated true\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: {\"one\":1,\"text\":1,\"undef\":1,\"boxed\":1,\"nothing\":1}\n"));
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe();
}

TEST(Timers, IntervalsAreTakenAsInt32ThenUnsigned) {
  RunResult r = runApp(
      "setTimeout(0, function() { log('zero ran'); });\n"
      "setTimeout(-1, function() { log('never'); });\n"
      "setTimeout(1.9, function() { log('short ran'); });\n"
      "setTimeout(5, function() { log('a ran'); });\n"
      "setTimeout(5, function() { log('b ran'); });\n"
      "log('top level done');\n"
      "setTimeout(100, function() { exit(); });\n");
  for (const char* line : {"DEBUG: SetTimeout: 0\n", "DEBUG: SetTimeout: -1\n", "DEBUG: SetTimeout: 1\n",
                           "JSLOG: zero ran\n", "JSLOG: short ran\n", "JSLOG: a ran\n", "JSLOG: b ran\n"}) {
    EXPECT_THAT(r.err, HasSubstr(line));
  }
  EXPECT_LT(r.err.find("JSLOG: top level done"), r.err.find("JSLOG: zero ran"));
  EXPECT_THAT(r.err, Not(HasSubstr("never")));
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe();
}

TEST(Globals, LogWritesTheAsciiFormOfItsOneArgument) {
  RunResult r = runApp(std::string(kTry) +
                       "log({}); log(42); log(1.5); log(null); log(undefined); log('\\u00e9t\\u00e9');\n"
                       "t(function() { log(); }); t(function() { log(1, 2); });\n"
                       "t(function() { log({ toString: function() { throw 'no text'; } }); });\n"
                       "exit();\n");
  for (const char* line : {"JSLOG: [object Object]\n", "JSLOG: 42\n", "JSLOG: 1.5\n", "JSLOG: null\n",
                           "JSLOG: undefined\n", "JSLOG: \xE9t\xE9\n", "JSLOG: caught string no text\n"}) {
    EXPECT_THAT(r.err, HasSubstr(line));
  }
  EXPECT_EQ(countOf(r.err, "JSLOG: caught string Wrong arguments\n"), 2) << r.err;
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe();
}

TEST(Globals, SetTimeoutRefusesOtherShapes) {
  RunResult r = runApp(std::string(kTry) +
                       "var f = function() {};\n"
                       "t(function() { setTimeout('10', f); }); t(function() { setTimeout(10); });\n"
                       "t(function() { setTimeout(10, 20); }); t(function() { setTimeout(f, 10); });\n"
                       "t(function() { setTimeout(10, f, 1); }); t(function() { setTimeout(); });\n"
                       "exit();\n");
  EXPECT_EQ(countOf(r.err, "JSLOG: caught string Must be setTimeout(int,function)\n"), 6) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("SetTimeout:")));
}

TEST(Globals, IncludeRunsFilesOfTheAppFolderAsGlobalScripts) {
  RunResult r = runApp(std::string(kTry) +
                           "include('lib/util.js'); include('./lib/util.js');\n"
                           "log(helper() + ' ' + included);\n"
                           "t(function() { include('lib/bad.js'); });\n"
                           "t(function() { include('lib/thrower.js'); });\n"
                           "log('still here'); exit();\n",
                       {{"lib/util.js", "var included = (typeof included == 'number' ? included : 0) + 1;\n"
                                        "function helper() { return 'help'; }\n"},
                        {"lib/bad.js", "var = ;\n"},
                        {"lib/thrower.js", "throw 'from include';\n"}});
  EXPECT_THAT(r.err, HasSubstr("DEBUG: Include: lib/util.js\n"));
  EXPECT_THAT(r.err, HasSubstr("DEBUG: Include: ./lib/util.js\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: help 2\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: caught object SyntaxError: Unexpected token '='\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: caught string from include\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: still here\n"));
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe() << "\n" << r.err;
}

TEST(Globals, IncludeRefusesPathsAndWrongArguments) {
  RunResult r = runApp(std::string(kTry) +
                           "t(function() { include('../x.js'); });\n"
                           "t(function() { include('descriptor.xml'); });\n"
                           "t(function() { include('my file.js'); });\n"
                           "t(function() { include(); }); t(function() { include(1); });\n"
                           "t(function() { include('a.js', 'b.js'); });\n"
                           "exit();\n",
                       {{"descriptor.xml", "<descriptor/>"}});
  for (const char* path : {"../x.js", "descriptor.xml", "my file.js"}) {
    EXPECT_THAT(r.err, HasSubstr(std::string("WARNING: access denied: ") + path + "\n"));
    EXPECT_THAT(r.err, HasSubstr(std::string("JSLOG: caught string access denied: ") + path + "\n"));
  }
  EXPECT_EQ(countOf(r.err, "JSLOG: caught string Must contain only one file\n"), 3) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("DEBUG: Include:")));
  EXPECT_TRUE(exitedWith(r, 0)) << r.describe();
}

TEST(Globals, TimestampAndUuid) {
  RunResult r = runApp(
      "var ts = timestamp();\n"
      "log('ts ' + typeof ts + ' ' + /^[0-9]+$/.test(ts) + ' ' + (Math.abs(Number(ts) - Date.now() / 1000) < 5));\n"
      "var a = uuid(), b = uuid(5);\n"
      "var form = /^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$/;\n"
      "log('uuid ' + typeof a + ' ' + form.test(a) + ' ' + form.test(b) + ' ' + (a != b));\n"
      "exit();\n");
  EXPECT_THAT(r.err, HasSubstr("JSLOG: ts string true true\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: uuid string true true true\n"));
}

TEST(Globals, GlobalObjectHoldsTheAppsNamesInOrder) {
  RunResult r = runApp(
      "log(Object.keys(this).join(','));\n"
      "log('[' + cmdline + '|' + appName + '|' + instanceName + '|' + typeof tobrel + ']');\n"
      "exit();\n",
      {}, "app PLAIN my inst");
  EXPECT_THAT(r.err, HasSubstr("JSLOG: log,exit,setTimeout,ping,social,include,signHMACSHA1,uuid,timestamp,tobrel,file,cmdline,instanceName,appName,launchType,params\n"));
  EXPECT_THAT(r.err, HasSubstr("JSLOG: [app PLAIN my inst|app|my inst|object]\n"));
}

// The granted module objects come first, in the binding table's order (not the access list's),
// then the functions every app has.
TEST(Globals, TobrelObjectHoldsTheModulesThenItsFunctionsInOrder) {
  const char* const kDescriptor =
      "<descriptor><accesses><access>dock</access><access>tts</access><access>led</access></accesses></descriptor>";
  for (const auto& c : {std::make_pair(std::string(tobrel_test::kEmptyDescriptor), "ping,connect,start,stop,info,random"),
                        std::make_pair(std::string(kDescriptor), "led,tts,dock,ping,connect,start,stop,info,random")}) {
    RunResult r = runApp("log(Object.keys(tobrel).join(','));\nexit();\n", {{"descriptor.xml", c.first}});
    EXPECT_THAT(r.err, HasSubstr(std::string("JSLOG: ") + c.second + "\n")) << c.first;
  }
}

TEST(HeapLimit, ExhaustionEndsTheAppWithAWarningAndStatusOne) {
  const struct {
    const char* name;
    const char* mainJs;
  } cases[] = {
      {"top level", "var a = []; while (true) a.push(new Array(10000).fill(1.5));\n"},
      {"one huge array", "var a = new Array(1e8).fill(1.5); log('survived');\n"},
      {"in a timer", "var a = [];\n"
                     "setTimeout(1, function() { for (var i = 0; i < 100; i++) a.push({ s: 'x' + i, v: new Array(1000).fill(i) }); return true; });\n"},
  };
  for (const auto& c : cases) {
    RunResult r = runApp(c.mainJs);
    EXPECT_TRUE(exitedWith(r, 1)) << c.name << ": " << r.describe() << "\n" << r.err.substr(0, 2000);
    EXPECT_THAT(r.err, HasSubstr("WARNING: script heap limit of 10485760 bytes reached: ending app\n")) << c.name;
    EXPECT_THAT(r.err, Not(HasSubstr("AUTOKILL"))) << c.name;
  }
}

// Once the heap limit has ended the app, nothing of the script runs again: a timer due in the
// same pass as the one that ran out must not start, or the app grows on past its budget.
TEST(HeapLimit, NoScriptFunctionRunsAfterTheAppHasRunOut) {
  RunResult r = runApp(
      "var a = [];\n"
      "function fill() { log('filling'); while (true) a.push(new Array(10000).fill(1.5)); }\n"
      "setTimeout(5, fill); setTimeout(5, fill);\n"
      "setTimeout(5, function() { log('third'); });\n"
      // All three are due before the loop first looks.
      "var until = Date.now() + 30; while (Date.now() < until) {}\n");
  EXPECT_TRUE(exitedWith(r, 1)) << r.describe() << "\n" << r.err.substr(0, 2000);
  EXPECT_EQ(countOf(r.err, "JSLOG: filling\n"), 1) << r.err.substr(0, 2000);
  EXPECT_THAT(r.err, Not(HasSubstr("JSLOG: third")));
  EXPECT_EQ(countOf(r.err, "WARNING: script heap limit of 10485760 bytes reached: ending app\n"), 1);
}
