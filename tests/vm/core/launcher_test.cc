// The launcher driven as a real process through its standard input: the request split, the
// read buffer, the three-child limit and its count, the refusal line and the end of input.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app_child.h"
#include "launcher.h"
#include "tobrel_data.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::countOf;
using tobrel_test::Process;
using tobrel_test::RunOptions;
using tobrel_test::RunResult;
using tobrel_test::Stream;
using tobrel_test::TempDir;

namespace {

const char* const kRefusal = "too many tvm ignore request\n";
constexpr int kWaitMs = 15000;

std::vector<std::string> launcherArgs(const std::string& appFolder) {
  return {TOBRELVM_PATH, "--app_folder=" + appFolder};
}

std::vector<pid_t> running(pid_t parent) {
  std::vector<pid_t> alive;
  for (pid_t pid : tobrel_test::childrenOf(parent)) {
    if (tobrel_test::isRunning(pid)) alive.push_back(pid);
  }
  return alive;
}

// Apps for these tests: one that idles (well inside its 10 s not-interactive limit) and one
// that ends by itself shortly after it starts.
struct Apps {
  Apps() {
    tobrel_test::writeApp(dir, "idle", "setTimeout(60000, function() {});\n");
    tobrel_test::writeApp(dir, "brief", "setTimeout(300, function() { exit(); });\n");
    tobrel_test::writeApp(dir, "now", "exit();\n");
    tobrel_test::writeApp(dir, "hog", "var a = []; while (true) a.push(new Array(10000).fill(1.5));\n");
  }
  TempDir dir;
};

// Threads of a process, from /proc/<pid>/status.
int threadsOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return atoi(line.c_str() + 8);
  }
  return -1;
}

// The lengths of the "TobrelVM buffer:%s : len:%d" lines, in order.
std::vector<int> bufferLengths(const std::string& err) {
  std::vector<int> lengths;
  const std::string marker = " : len:";
  for (size_t pos = err.find(marker); pos != std::string::npos; pos = err.find(marker, pos + 1)) {
    lengths.push_back(atoi(err.c_str() + pos + marker.size()));
  }
  return lengths;
}

std::vector<std::string> splitLines(const std::string& err) {
  std::vector<std::string> found;
  for (const std::string& line : tobrel_test::lines(err)) {
    for (const char* prefix : {"DEBUG: setCmdLine ", "DEBUG: APP NAME ", "DEBUG: LAUNCH_TYPE ", "DEBUG: INSTANCE_NAME "}) {
      if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(7));
    }
  }
  return found;
}

}  // namespace

TEST(LauncherOptions, ParseTable) {
  const struct {
    std::vector<std::string> args;
    int debug;
    std::string appFolder;
    const char* libFolder;
  } cases[] = {
      {{"tobrelvm"}, 7, "", nullptr},
      {{"tobrelvm", "--debug=5"}, 5, "", nullptr},
      {{"tobrelvm", "--debug=abc"}, 0, "", nullptr},
      {{"tobrelvm", "--debug=12x"}, 12, "", nullptr},
      {{"tobrelvm", "--app_folder=/a", "--app_folder=/b"}, 7, "/b", nullptr},
      {{"tobrelvm", "--lib_folder=/lib", "--unknown", "-x", "--debug"}, 7, "", "/lib"},
      {{"--debug=3"}, 3, "", nullptr},  // argv[0] is looked at too
  };
  for (const auto& c : cases) {
    std::vector<char*> argv;
    for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
    LauncherOptions options;
    EXPECT_EQ(parseOptions(static_cast<int>(argv.size()), argv.data(), &options), static_cast<int>(argv.size()));
    EXPECT_EQ(options.debugLevel, c.debug);
    EXPECT_EQ(options.appFolder, c.appFolder);
    if (c.libFolder == nullptr) EXPECT_EQ(options.libFolder, nullptr);
    else EXPECT_STREQ(options.libFolder, c.libFolder);
  }
  EXPECT_STREQ(matchOption("--debug=5", "--debug="), "5");
  EXPECT_STREQ(matchOption("--debug=", "--debug="), "");
  EXPECT_EQ(matchOption("--debu", "--debug="), nullptr);
}

TEST(LauncherRequests, EachLineIsSplitBeforeTheFork) {
  const struct {
    std::string line;
    std::vector<std::string> split;
  } cases[] = {
      {"app1 PLAIN inst 1", {"setCmdLine app1 PLAIN inst 1", "APP NAME app1", "LAUNCH_TYPE PLAIN", "INSTANCE_NAME inst 1"}},
      {"app1", {"setCmdLine app1"}},
      {"app1 RFID;1;2", {"setCmdLine app1 RFID;1;2", "APP NAME app1"}},
      {"app1  x", {"setCmdLine app1  x", "APP NAME app1", "LAUNCH_TYPE ", "INSTANCE_NAME x"}},
      {"app1 PLAIN\r", {"setCmdLine app1 PLAIN\r", "APP NAME app1"}},
  };
  TempDir empty;
  for (const auto& c : cases) {
    RunOptions options = tobrel_test::launcherRunOptions();
    options.stdinText = c.line + "\n\n";
    RunResult r = tobrel_test::runProgram(launcherArgs(empty.path()), options);
    EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
    EXPECT_EQ(splitLines(r.err), c.split) << r.err;
    EXPECT_THAT(r.err, HasSubstr("MESSAGE: TobrelVM buffer:" + c.line + "\n : len:" + std::to_string(c.line.size() + 1) + "\n"));
  }
}

TEST(LauncherRequests, TheFieldsReachTheApp) {
  Apps apps;
  tobrel_test::writeApp(apps.dir, "show", "log('[' + appName + '|' + instanceName + '|' + cmdline + ']'); exit();\n");
  auto launcher = Process::start(launcherArgs(apps.dir.path()), tobrel_test::launcherRunOptions());
  launcher->write("show PLAIN two words\n");
  EXPECT_TRUE(launcher->waitFor(Stream::kErr, "JSLOG: [show|two words|show PLAIN two words]\n", kWaitMs)) << launcher->err();
  launcher->write("\n");
  RunResult r = launcher->wait(kWaitMs);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
}

TEST(LauncherInput, ReadsRequestsOfAtMost4094Bytes) {
  const struct {
    const char* name;
    std::string input;
    std::vector<int> lengths;
    int requests;
    int refused = 0;  // lines refused for a NUL byte
  } cases[] = {
      {"4094 bytes then its newline", std::string(4094, 'x') + "\n", {4094, 1}, 1},
      {"4095 bytes: a second piece", std::string(4095, 'x') + "\n", {4094, 2, 0}, 2},
      {"one letter", "a\n", {2, 0}, 1},
      {"last line without newline", "app1", {4, 0}, 1},
      {"lone newline", "\nnot read\n", {1}, 0},
      {"end of input", "", {0}, 0},
      // A stray NUL must not pass for the end of input or cut a request short: its line is
      // refused and the lines after it are read as usual.
      {"NUL first", std::string("\0x\na\n", 5), {3, 2, 0}, 1, 1},
      {"NUL alone", std::string("\0\na\n", 4), {2, 2, 0}, 1, 1},
      {"NUL inside", std::string("app\0 PLAIN\na\n", 13), {11, 2, 0}, 1, 1},
  };
  TempDir empty;
  for (const auto& c : cases) {
    RunOptions options = tobrel_test::launcherRunOptions();
    options.stdinText = c.input;
    RunResult r = tobrel_test::runProgram(launcherArgs(empty.path()), options);
    EXPECT_TRUE(r.exited && r.exitCode == 0) << c.name << ": " << r.describe();
    EXPECT_EQ(bufferLengths(r.err), c.lengths) << c.name;
    EXPECT_EQ(countOf(r.err, "MESSAGE: nbChild "), c.requests) << c.name;
    EXPECT_EQ(countOf(r.err, "WARNING: request line holds a NUL byte: ignored\n"), c.refused) << c.name;
    EXPECT_THAT(r.err, HasSubstr("MESSAGE: TobrelVM buffer:vide -> break\n")) << c.name;
  }
}

TEST(LauncherInput, RequestsFromAFileAreEachReadOnce) {
  // A file shares its read offset with every child; children that end while the launcher is
  // still reading must not move it back and have their requests read again.
  Apps apps;
  constexpr int kLines = 2000;
  std::string requests;
  for (int i = 0; i < kLines; ++i) requests += "now\n";
  const std::string file = apps.dir.write("requests.txt", requests);
  RunOptions options = tobrel_test::launcherRunOptions();
  options.timeoutMs = 10000;
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" <\"$0\"", file};
  for (const std::string& word : tobrel_test::commandFor(TOBRELVM_PATH)) argv.push_back(word);
  argv.push_back("--app_folder=" + apps.dir.path());
  RunResult r = tobrel_test::runProgram(argv, options);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  EXPECT_EQ(countOf(r.err, "MESSAGE: nbChild "), kLines);
  EXPECT_EQ(countOf(r.err, "MESSAGE: TobrelVM buffer:vide -> break\n"), 1);
}

TEST(LauncherChildren, AtMostThreeAcceptsAgainAfterOneEndsAndEndOfInputLeavesThemRunning) {
  Apps apps;
  auto launcher = Process::start(launcherArgs(apps.dir.path()), tobrel_test::launcherRunOptions());
  const pid_t pid = launcher->pid();
  launcher->write("idle\nidle\nidle\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return running(pid).size() == 3; }, kWaitMs)) << launcher->err();
  launcher->write("idle\n");
  ASSERT_TRUE(launcher->waitFor(Stream::kOut, kRefusal, kWaitMs));
  EXPECT_THAT(launcher->err(), HasSubstr("MESSAGE: nbChild 3\n"));

  const pid_t ended = running(pid)[0];
  kill(ended, SIGKILL);
  // Gone from /proc means reaped; the handler has counted it before the next read returns.
  ASSERT_TRUE(launcher->waitUntil([&] { return tobrel_test::childrenOf(pid).size() == 2; }, kWaitMs));
  launcher->write("idle\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return running(pid).size() == 3; }, kWaitMs)) << launcher->err();
  // The apps share the launcher's standard error, so their lines can fall between these two;
  // the count comes from /proc, so its log line may still be on the way.
  const std::string countedLine = "DEBUG: end process: " + std::to_string(ended) + " nbChild 2\n";
  ASSERT_TRUE(launcher->waitFor(Stream::kErr, countedLine, kWaitMs)) << launcher->err();
  const std::string err = launcher->err();
  const size_t signalled = err.find("DEBUG: end process: sigchild\n");
  const size_t counted = err.find(countedLine);
  ASSERT_NE(counted, std::string::npos) << err;
  EXPECT_LT(signalled, counted) << err;
  EXPECT_THAT(launcher->err(), HasSubstr("MESSAGE: nbChild 2\n"));
  launcher->write("idle\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return countOf(launcher->out(), kRefusal) == 2; }, kWaitMs));

  const std::vector<pid_t> apps3 = running(pid);
  launcher->write("\n");
  RunResult r = launcher->wait(kWaitMs, /*killRest=*/false);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  for (pid_t app : apps3) EXPECT_TRUE(tobrel_test::isRunning(app)) << app;
  EXPECT_EQ(countOf(r.out, kRefusal), 2);
}

// The engine runs single-threaded: nothing is lost at fork, in the launcher or in an app.
TEST(LauncherChildren, TheLauncherAndItsAppsRunOneThreadEach) {
  if (tobrel_test::underEmulator()) GTEST_SKIP() << "the emulator runs a thread of its own in every process";
  Apps apps;
  auto launcher = Process::start(launcherArgs(apps.dir.path()), tobrel_test::launcherRunOptions());
  const pid_t pid = launcher->pid();
  launcher->write("idle\nidle\nidle\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return running(pid).size() == 3; }, kWaitMs)) << launcher->err();
  EXPECT_EQ(threadsOf(pid), 1);
  for (pid_t app : running(pid)) EXPECT_EQ(threadsOf(app), 1) << app;
  launcher->write("\n");
  RunResult r = launcher->wait(kWaitMs);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
}

TEST(LauncherChildren, ChildrenEndingTogetherAreAllCounted) {
  Apps apps;
  auto launcher = Process::start(launcherArgs(apps.dir.path()), tobrel_test::launcherRunOptions());
  const pid_t pid = launcher->pid();
  for (int round = 0; round < 3; ++round) {
    launcher->write("idle\nidle\nidle\n");
    ASSERT_TRUE(launcher->waitUntil([&] { return running(pid).size() == 3; }, kWaitMs)) << "round " << round;
    // Their SIGCHLDs merge; every one of them must still be reaped and counted.
    for (pid_t app : running(pid)) kill(app, SIGKILL);
    ASSERT_TRUE(launcher->waitUntil([&] { return tobrel_test::childrenOf(pid).empty(); }, kWaitMs))
        << "round " << round << ": a child was left unreaped";
  }
  launcher->write("idle\nidle\nidle\nidle\n");
  ASSERT_TRUE(launcher->waitFor(Stream::kOut, kRefusal, kWaitMs));
  EXPECT_EQ(running(pid).size(), 3u);
  EXPECT_EQ(countOf(launcher->out(), kRefusal), 1);
}

TEST(LauncherChildren, RefusalLineIsWrittenOnceEvenByChildrenThatEndNormally) {
  Apps apps;
  auto launcher = Process::start(launcherArgs(apps.dir.path()), tobrel_test::launcherRunOptions());
  const pid_t pid = launcher->pid();
  launcher->write("brief\nbrief\nbrief\nbrief\n");
  ASSERT_TRUE(launcher->waitFor(Stream::kOut, kRefusal, kWaitMs));
  ASSERT_TRUE(launcher->waitUntil([&] { return tobrel_test::childrenOf(pid).empty(); }, kWaitMs));
  // Children forked after the refusal, ending through exit() and flushing their streams.
  launcher->write("now\nnow\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return countOf(launcher->err(), "DEBUG: EXIT\n") == 5; }, kWaitMs));
  ASSERT_TRUE(launcher->waitUntil([&] { return tobrel_test::childrenOf(pid).empty(); }, kWaitMs));
  launcher->write("\n");
  RunResult r = launcher->wait(kWaitMs);
  EXPECT_EQ(countOf(r.out, kRefusal), 1) << r.out;
}

TEST(LauncherChildren, AnAppThatExhaustsItsHeapLeavesTheOthersAndTheLauncher) {
  Apps apps;
  auto launcher = Process::start(launcherArgs(apps.dir.path()), tobrel_test::launcherRunOptions());
  const pid_t pid = launcher->pid();
  launcher->write("idle\nhog\n");
  ASSERT_TRUE(launcher->waitFor(Stream::kErr, "WARNING: script heap limit of 10485760 bytes reached: ending hog\n", kWaitMs));
  ASSERT_TRUE(launcher->waitUntil([&] { return tobrel_test::childrenOf(pid).size() == 1; }, kWaitMs));
  launcher->write("show\n");
  launcher->write("idle\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return running(pid).size() == 2; }, kWaitMs)) << launcher->err();
  EXPECT_THAT(launcher->err(), Not(HasSubstr("Fatal")));
  launcher->write("\n");
  RunResult r = launcher->wait(kWaitMs);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
}

TEST(LauncherChildren, AFailedForkIsNotCounted) {
  Apps apps;
  RunOptions options = tobrel_test::launcherRunOptions();
  options.env.push_back(std::string("LD_PRELOAD=") + FORK_FAILS_PRELOAD);
  options.env.push_back("TOBREL_FAILING_FORKS=3");
  // A sanitizer runtime must come first; the preloaded library is not instrumented.
  const char* asan = getenv("ASAN_OPTIONS");
  options.env.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":verify_asan_link_order=0");
  auto launcher = Process::start(launcherArgs(apps.dir.path()), options);
  const pid_t pid = launcher->pid();
  launcher->write("idle\nidle\nidle\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return countOf(launcher->err(), "MESSAGE: nbChild 0\n") == 3; }, kWaitMs))
      << launcher->err();
  EXPECT_TRUE(tobrel_test::childrenOf(pid).empty());
  launcher->write("idle\nidle\nidle\nidle\n");
  ASSERT_TRUE(launcher->waitFor(Stream::kOut, kRefusal, kWaitMs)) << launcher->err();
  EXPECT_EQ(running(pid).size(), 3u);
  EXPECT_EQ(countOf(launcher->out(), kRefusal), 1);
}

// A reader of the launcher's output that has gone (a log collector that died, a closed
// terminal) must not end it: it reads and launches on, its lines lost, and still ends
// normally at an empty line.
TEST(LauncherOutput, AReaderThatHasGoneLeavesTheLauncherRunning) {
  const struct {
    const char* name;
    bool errGone, outGone;
  } cases[] = {
      {"standard error", true, false},   // its first log line goes there
      {"standard output", false, true},  // the refusal line goes there
      {"both", true, true},
  };
  Apps apps;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> args = launcherArgs(apps.dir.path());
    const bool errGone = c.errGone, outGone = c.outGone;
    auto launcher = Process::start(
        [&args, errGone, outGone]() {
          int gone[2];
          if (pipe(gone) != 0) return 126;
          close(gone[0]);
          if (outGone) dup2(gone[1], 1);
          if (errGone) dup2(gone[1], 2);
          close(gone[1]);
          std::vector<char*> argv;
          for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
          argv.push_back(nullptr);
          tobrel_test::execProgram(argv.data());
          return 127;
        },
        tobrel_test::launcherRunOptions());
    const pid_t pid = launcher->pid();
    launcher->write("idle\nidle\nidle\n");
    ASSERT_TRUE(launcher->waitUntil([&] { return running(pid).size() == 3 || !launcher->running(); }, kWaitMs));
    if (running(pid).size() != 3) {
      ADD_FAILURE() << "3 apps not launched: " << launcher->wait(kWaitMs).describe();
      continue;
    }
    launcher->write("idle\n\n");  // refused, then the end
    RunResult r = launcher->wait(kWaitMs);
    EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
    if (!outGone) {
      EXPECT_EQ(countOf(r.out, kRefusal), 1);
    }
    if (!errGone) {
      EXPECT_THAT(r.err, HasSubstr("MESSAGE: TobrelVM buffer:vide -> break\n"));
    }
  }
}
