// The runner as daemon tests use it: one output file for both streams, environment removal,
// waiting for text on either stream, running() and stop(); and the whole-file helpers.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "process.h"
#include "temp_dir.h"

using tobrel_test::Process;
using tobrel_test::RunOptions;
using tobrel_test::RunResult;

namespace {

std::vector<std::string> shell(const std::string &script) { return {"/bin/sh", "-c", script}; }

RunOptions toFile() {
  RunOptions options;
  options.outputToFile = true;
  return options;
}

// Polls without reading any output, as a test busy elsewhere would.
bool endsWithin(Process &process, int ms) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (!process.running()) return true;
    usleep(10000);
  }
  return false;
}

}  // namespace

TEST(OutputFile, HoldsBothStreamsInTheOrderWritten) {
  const RunResult r = tobrel_test::runProgram(shell("echo one; echo two >&2; echo three"), toFile());
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  EXPECT_EQ(r.out, "one\ntwo\nthree\n");
  EXPECT_EQ(r.err, "");
}

TEST(OutputFile, ChildNeverWaitsForTheTestToRead) {
  // Far more than a pipe holds; nobody reads until the child has ended.
  auto p = Process::start(shell("head -c 300000 /dev/zero | tr '\\000' x; echo; echo end >&2"), toFile());
  ASSERT_TRUE(endsWithin(*p, 10000));
  const std::string out = p->output();
  EXPECT_EQ(out.size(), 300000u + 5);
  EXPECT_EQ(out.substr(out.size() - 5), "\nend\n");
  const RunResult r = p->wait(1000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  EXPECT_EQ(r.out, out);
}

TEST(Environment, EntriesSetOrRemoveInOrder) {
  setenv("TOBREL_INHERITED", "from the test", 1);
  struct Case {
    std::vector<std::string> env;
    const char *seen;
  };
  const Case cases[] = {
      {{}, "from the test|unset"},
      {{"TOBREL_INHERITED"}, "unset|unset"},
      {{"TOBREL_INHERITED", "TOBREL_INHERITED=again"}, "again|unset"},
      {{"TOBREL_SET=1", "TOBREL_SET"}, "from the test|unset"},
      {{"TOBREL_SET", "TOBREL_SET=", "TOBREL_INHERITED=x=y"}, "x=y|"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.seen);
    RunOptions options;
    options.env = c.env;
    const RunResult r =
        tobrel_test::runProgram(shell("printf '%s|%s' \"${TOBREL_INHERITED-unset}\" \"${TOBREL_SET-unset}\""), options);
    EXPECT_EQ(r.out, c.seen) << r.err;
  }
  unsetenv("TOBREL_INHERITED");
}

TEST(WaitForOutput, FindsTextOnEitherStream) {
  for (bool file : {false, true}) {
    SCOPED_TRACE(file ? "file" : "pipes");
    RunOptions options;
    options.outputToFile = file;
    auto p = Process::start(shell("echo first; sleep 0.2; echo second >&2; exec sleep 30"), options);
    EXPECT_TRUE(p->waitForOutput("second", 5000)) << p->output();
    EXPECT_NE(p->output().find("first"), std::string::npos);
    EXPECT_FALSE(p->waitForOutput("never written", 100));
    EXPECT_TRUE(p->running());
  }
}

TEST(Running, EndIsSeenWithoutWaitAndItsStatusKept) {
  auto p = Process::start(shell("exit 7"), RunOptions());
  ASSERT_TRUE(endsWithin(*p, 5000));
  EXPECT_FALSE(p->running());
  const RunResult r = p->wait(1000);
  EXPECT_FALSE(r.timedOut);
  EXPECT_TRUE(r.exited && r.exitCode == 7) << r.describe();
}

TEST(Stop, TermFirstThenKillAfterTheGrace) {
  struct Case {
    const char *what;
    const char *onTerm;
    bool exited;
    int code;  // exit status, or the signal that ended it
    bool termSeen;
  };
  const Case cases[] = {
      {"ends on TERM", "echo term; exit 3", true, 3, true},
      {"ignores TERM", "", false, SIGKILL, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto p = Process::start(shell(std::string("trap '") + c.onTerm + "' TERM; echo up; while :; do sleep 0.05; done"),
                            toFile());
    ASSERT_TRUE(p->waitForOutput("up", 5000));
    const RunResult r = p->stop(500);
    EXPECT_EQ(r.exited, c.exited) << r.describe();
    EXPECT_EQ(r.exited ? r.exitCode : r.signal, c.code) << r.describe();
    EXPECT_EQ(r.out.find("term") != std::string::npos, c.termSeen) << r.out;
    EXPECT_FALSE(p->running());
    // Stopping again is harmless and reports the same end.
    const RunResult again = p->stop();
    EXPECT_EQ(again.exited, r.exited);
    EXPECT_EQ(again.exited ? again.exitCode : again.signal, c.code);
  }
}

TEST(WholeFiles, RoundTripAndErrors) {
  tobrel_test::TempDir dir;
  const std::string bytes("a\0b\nc", 5);
  tobrel_test::writeFile(dir.path() + "/f", bytes);
  EXPECT_EQ(tobrel_test::readFile(dir.path() + "/f"), bytes);
  tobrel_test::writeFile(dir.path() + "/f", "");
  EXPECT_EQ(tobrel_test::readFile(dir.path() + "/f"), "");
  EXPECT_EQ(tobrel_test::readFile(dir.path() + "/missing"), "");
  EXPECT_THROW(tobrel_test::writeFile(dir.path() + "/no/such/folder", "x"), std::runtime_error);
}
