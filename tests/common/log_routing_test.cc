// tobrel-common's routing, observed the way a daemon's users see it: real syslog datagrams on a
// private /dev/log, and the process's standard output.
#include <gtest/gtest.h>
#include <syslog.h>
#include <unistd.h>

#include <functional>
#include <sstream>

#include "process.h"
#include "syslog_capture.h"
#include "tobrel-common.h"

using SyslogLine = tobrel_test::SyslogRecord;

namespace {

class LogRouting : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tobrel_test::SyslogCapture::available()) GTEST_SKIP() << "no private mount namespace";
  }
};

// What `body` logged, run in a child of its own with a private /dev/log.
struct CapturedRun {
  std::vector<SyslogLine> syslog;
  std::string out;  // the child's standard output
  tobrel_test::RunResult result;
};

CapturedRun runWithPrivateSyslog(const std::function<void()> &body) {
  tobrel_test::SyslogCapture syslog;
  tobrel_test::RunOptions options;
  options.syslog = &syslog;
  CapturedRun run;
  run.result = tobrel_test::runFunction(
      [&body] {
        body();
        return 0;
      },
      options);
  run.out = run.result.out;
  run.syslog = syslog.records();
  return run;
}

std::vector<std::string> lines(const std::string &out) {
  std::vector<std::string> v;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

const SyslogLine *find(const CapturedRun &run, const std::string &message) {
  for (const SyslogLine &l : run.syslog)
    if (l.message == message) return &l;
  return nullptr;
}

// One message of each level; GLib's own API for all but the error level, which GLib always
// makes fatal, so it is handed to the handler the way GLib would (value 6) without the abort.
// Values GLib's API will not pass (several level bits, none) go to the handler directly too.
struct Level {
  int flags;  // as an int: user-defined levels lie outside the C++ range of GLogLevelFlags
  const char *text;
  int priority;
  bool via_glib;
};
const Level kLevels[] = {
    {G_LOG_LEVEL_ERROR | G_LOG_FLAG_FATAL, "an error", LOG_ERR, false},
    {G_LOG_LEVEL_CRITICAL, "a critical", LOG_ERR, true},
    {G_LOG_LEVEL_WARNING, "a warning", LOG_WARNING, true},
    {G_LOG_LEVEL_MESSAGE, "a message", LOG_NOTICE, true},
    {G_LOG_LEVEL_INFO, "an info", LOG_INFO, true},
    {G_LOG_LEVEL_DEBUG, "a debug", LOG_DEBUG, true},
    {G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE, "two level bits", LOG_NOTICE, false},
    {1 << G_LOG_LEVEL_USER_SHIFT, "a user level", LOG_NOTICE, true},
    {0, "no level bit", LOG_NOTICE, false},
};

void logEveryLevel(gint threshold_value) {
  static gint threshold;
  threshold = threshold_value;
  init_tobrel_log("LevelTest", &threshold);
  for (const Level &l : kLevels) {
    if (l.via_glib)
      g_log(nullptr, GLogLevelFlags(l.flags), "%s", l.text);
    else
      g_log_handler(nullptr, GLogLevelFlags(l.flags), l.text, &threshold);
  }
}

}  // namespace

TEST_F(LogRouting, PriorityOfEachLevelUnderThresholds) {
  for (gint threshold : {7, 5, 0}) {
    SCOPED_TRACE("threshold " + std::to_string(threshold));
    CapturedRun run = runWithPrivateSyslog([threshold] { logEveryLevel(threshold); });
    ASSERT_TRUE(run.result.exited && run.result.exitCode == 0) << run.result.describe();
    size_t expected = 0;
    for (const Level &l : kLevels) {
      SCOPED_TRACE(l.text);
      const SyslogLine *got = find(run, l.text);
      if (l.priority <= threshold) {
        ++expected;
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got->severity, l.priority);
      } else {
        EXPECT_EQ(got, nullptr);
      }
    }
    EXPECT_EQ(run.syslog.size(), expected);
    // Standard output does not depend on the threshold: every one of these values exceeds 5
    // but the last, which carries no level bit at all.
    std::vector<std::string> want;
    for (const Level &l : kLevels)
      if (l.flags > 5) want.push_back(l.text);
    EXPECT_EQ(lines(run.out), want);
  }
}

TEST_F(LogRouting, EchoOnStandardOutputFollowsTheWholeLevelValue) {
  struct Case {
    int value;
    bool echoed;
  };
  const Case cases[] = {
      {G_LOG_LEVEL_ERROR, false},                                           // 4
      {G_LOG_LEVEL_ERROR | G_LOG_FLAG_RECURSION, false},                    // 5
      {G_LOG_LEVEL_ERROR | G_LOG_FLAG_FATAL, true},                         // 6
      {G_LOG_LEVEL_ERROR | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION, true},  // 7
      {G_LOG_LEVEL_CRITICAL, true},
      {G_LOG_LEVEL_WARNING, true},
      {G_LOG_LEVEL_MESSAGE, true},
      {G_LOG_LEVEL_INFO, true},
      {G_LOG_LEVEL_DEBUG, true},
      {G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE, true},
  };
  CapturedRun run = runWithPrivateSyslog([&cases] {
    static gint threshold = LOG_DEBUG;
    init_tobrel_log("EchoTest", &threshold);
    for (const Case &c : cases)
      g_log_handler("AnyDomain", GLogLevelFlags(c.value), ("value " + std::to_string(c.value)).c_str(),
                    &threshold);
  });
  std::vector<std::string> want;
  for (const Case &c : cases)
    if (c.echoed) want.push_back("value " + std::to_string(c.value));
  EXPECT_EQ(lines(run.out), want);
  // The error level reaches syslog at LOG_ERR whatever its flags.
  for (int v = 4; v <= 7; ++v) {
    const SyslogLine *l = find(run, "value " + std::to_string(v));
    ASSERT_NE(l, nullptr) << v;
    EXPECT_EQ(l->severity, LOG_ERR);
  }
}

TEST_F(LogRouting, IdentityFacilityAndPid) {
  CapturedRun run = runWithPrivateSyslog([] {
    static gint threshold = LOG_NOTICE;
    init_tobrel_log("Voice", &threshold);
    g_message("hello %d", static_cast<int>(getpid()));
  });
  ASSERT_EQ(run.syslog.size(), 1u);
  const SyslogLine &l = run.syslog[0];
  EXPECT_EQ(l.facility, LOG_LOCAL1);
  EXPECT_EQ(l.severity, LOG_NOTICE);
  EXPECT_EQ(l.ident, "Voice");
  EXPECT_EQ(l.message, "hello " + std::to_string(l.pid));
}

TEST_F(LogRouting, MessageTextIsWrittenUnchangedAndDomainNowhere) {
  const std::string tricky = "100% of %s and %d and %n stay";
  CapturedRun run = runWithPrivateSyslog([&tricky] {
    static gint threshold = LOG_DEBUG;
    init_tobrel_log("FormatTest", &threshold);
    g_log("GLib-GObject", G_LOG_LEVEL_WARNING, "%s", tricky.c_str());
    g_log(nullptr, G_LOG_LEVEL_DEBUG, "%s", tricky.c_str());
    g_log("MyDomain", G_LOG_LEVEL_MESSAGE, "trailing newline\n");
  });
  ASSERT_EQ(run.syslog.size(), 3u);
  EXPECT_EQ(run.syslog[0].message, tricky);
  EXPECT_EQ(run.syslog[0].severity, LOG_WARNING);
  EXPECT_EQ(run.syslog[1].message, tricky);
  EXPECT_EQ(run.syslog[1].severity, LOG_DEBUG);
  EXPECT_EQ(run.syslog[2].message.rfind("trailing newline", 0), 0u);
  EXPECT_EQ(run.out, tricky + "\n" + tricky + "\ntrailing newline\n\n");
  for (const SyslogLine &l : run.syslog) {
    EXPECT_EQ(l.raw.find("GLib-GObject"), std::string::npos);
    EXPECT_EQ(l.raw.find("MyDomain"), std::string::npos);
  }
}

TEST_F(LogRouting, ThresholdIsReadAgainForEveryMessage) {
  CapturedRun run = runWithPrivateSyslog([] {
    static gint threshold = LOG_DEBUG;
    init_tobrel_log("ThresholdTest", &threshold);
    g_debug("first");
    threshold = LOG_NOTICE;
    g_debug("second");
    g_message("third");
    threshold = LOG_DEBUG;
    g_debug("fourth");
    threshold = -1;
    g_critical("fifth");
  });
  std::vector<std::string> got;
  for (const SyslogLine &l : run.syslog) got.push_back(l.message);
  EXPECT_EQ(got, (std::vector<std::string>{"first", "third", "fourth"}));
  EXPECT_EQ(lines(run.out), (std::vector<std::string>{"first", "second", "third", "fourth", "fifth"}));
}

// A line longer than one datagram would go to the console, synchronously; syslog gets a cut
// copy that says so, never split inside a character, and standard output the whole line.
TEST_F(LogRouting, LongMessagesAreCutForSyslogOnly) {
  const std::string kept(8186, 'k');  // 8 KiB less the mark
  struct Case {
    const char *what;
    std::string message;
    std::string in_syslog;
  };
  const Case cases[] = {
      {"exactly 8 KiB", std::string(8192, 'w'), std::string(8192, 'w')},
      {"one byte more", kept + "123456" + "7", kept + " [cut]"},
      {"2 MB", kept + std::string(2 << 20, 'x'), kept + " [cut]"},
      {"a character across the cut", kept.substr(1) + "\xc3\xa9" + std::string(100, 'y'),
       kept.substr(1) + " [cut]"},
      {"a four-byte character across the cut", kept.substr(3) + "\xf0\x9f\x98\x80" + std::string(100, 'y'),
       kept.substr(3) + " [cut]"},
      // No character starts anywhere: the cut backs off no further than a character could reach.
      {"9,000 bytes that are not UTF-8", std::string(9000, '\x80'), std::string(8183, '\x80') + " [cut]"},
      {"a %s in the kept part", "%s%d" + kept.substr(4) + std::string(10, 'z'),
       "%s%d" + kept.substr(4) + " [cut]"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CapturedRun run = runWithPrivateSyslog([&c] {
      static gint threshold = LOG_DEBUG;
      init_tobrel_log("LongTest", &threshold);
      g_debug("%s", c.message.c_str());
      g_message("after it");
    });
    ASSERT_TRUE(run.result.exited && run.result.exitCode == 0) << run.result.describe();
    ASSERT_EQ(run.syslog.size(), 2u);
    EXPECT_TRUE(run.syslog[0].message == c.in_syslog)
        << run.syslog[0].message.size() << " bytes: ..." << run.syslog[0].message.substr(8150);
    EXPECT_EQ(run.syslog[0].severity, LOG_DEBUG);
    EXPECT_EQ(run.syslog[1].message, "after it");
    EXPECT_TRUE(run.out == c.message + "\nafter it\n") << run.out.size() << " bytes";
  }
}

// GLib ends the process after a fatal message: with standard output a pipe, that message and
// those before it must have been written by then.
TEST_F(LogRouting, FatalMessagesReachAPipedStandardOutput) {
  struct Case {
    const char *what;
    std::function<void()> fatal;
  };
  const Case cases[] = {
      {"error", [] { g_error("the end"); }},
      {"critical made fatal", [] {
         g_log_set_always_fatal(GLogLevelFlags(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL));
         g_critical("the end");
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    CapturedRun run = runWithPrivateSyslog([&c] {
      // Buffered as a program's output on a pipe is, whatever this test's own output is.
      setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
      static gint threshold = LOG_NOTICE;
      init_tobrel_log("FatalTest", &threshold);
      g_message("before the end");
      g_debug("below the threshold");
      c.fatal();
    });
    EXPECT_FALSE(run.result.exited) << run.result.describe();
    EXPECT_EQ(run.out, "before the end\nbelow the threshold\nthe end\n");
    ASSERT_NE(find(run, "the end"), nullptr);
    EXPECT_EQ(find(run, "the end")->severity, LOG_ERR);
  }
}
