// TobrelVM's log handler: the level table, the "--debug=" echo threshold and what reaches
// syslog (identity, facility, priority, process id), in-process and from the real launcher.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "app_child.h"
#include "log.h"
#include "nusk-message.pb.h"
#include "syslog_capture.h"
#include "tobrel_data.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::Process;
using tobrel_test::RunOptions;
using tobrel_test::RunResult;
using tobrel_test::Stream;
using tobrel_test::SyslogCapture;
using tobrel_test::SyslogRecord;

TEST(LogTable, NamesAndPriorities) {
  const struct {
    int level;
    const char* name;
    int priority;
  } cases[] = {
      {G_LOG_LEVEL_WARNING, "WARNING", LOG_WARNING},
      {G_LOG_LEVEL_MESSAGE, "MESSAGE", LOG_NOTICE},
      {G_LOG_LEVEL_INFO, "INFO", LOG_INFO},
      {G_LOG_LEVEL_DEBUG, "DEBUG", LOG_DEBUG},
      {G_LOG_LEVEL_ERROR | G_LOG_FLAG_FATAL, "", LOG_DEBUG},
      {G_LOG_LEVEL_CRITICAL, "", LOG_DEBUG},
      {G_LOG_LEVEL_WARNING | G_LOG_FLAG_FATAL, "", LOG_DEBUG},
      {1 << 8, "", LOG_DEBUG},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(logLevelName(c.level), c.name) << c.level;
    EXPECT_EQ(logPriority(c.level), c.priority) << c.level;
  }
}

TEST(LogTable, EchoThreshold) {
  const struct {
    int debugLevel, level;
    bool echoed;
  } cases[] = {
      {7, G_LOG_LEVEL_DEBUG, true},    {7, 1 << 8, false},         {5, G_LOG_LEVEL_MESSAGE, true},
      {5, G_LOG_LEVEL_WARNING, true},  {5, G_LOG_LEVEL_INFO, false}, {5, G_LOG_LEVEL_DEBUG, false},
      {5, 6, true},                    {0, 1, true},               {0, 2, false},
      {30, 1 << 30, true},             {31, 1, false},             {-1, 1, false},
      {1000, 1, false},
  };
  for (const auto& c : cases) EXPECT_EQ(logEchoes(c.debugLevel, c.level), c.echoed) << c.debugLevel << "/" << c.level;
}

namespace {

// Logs one line per level through GLib in a child whose syslog is captured.
RunResult logEveryLevel(int debugLevel, SyslogCapture* syslog) {
  RunOptions options;
  options.syslog = syslog;
  return tobrel_test::runFunction(
      [debugLevel]() {
        LauncherOptions launcher;
        launcher.debugLevel = debugLevel;
        openTobrelLog(&launcher);
        g_warning("w");
        g_message("m");
        g_info("i");
        g_debug("d");
        g_critical("c");
        g_log("OtherDomain", G_LOG_LEVEL_MESSAGE, "other %d", 2);
        g_error("fatal %d", 1);
        return 0;
      },
      options);
}

// What the child wrote on standard error: under an emulator, without the line in which the
// emulator itself reports the signal that ended it.
std::string childErr(const RunResult& r) {
  const std::string report = "qemu: uncaught target signal";
  const size_t at = r.err.rfind(report);
  if (!tobrel_test::underEmulator() || at == std::string::npos || r.err.find('\n', at) + 1 != r.err.size())
    return r.err;
  return r.err.substr(0, at);
}

}  // namespace

TEST(LogHandler, EchoesUnderTheThresholdAndSendsEverythingToSyslog) {
  const struct {
    int debugLevel;
    std::string echoed;
  } cases[] = {
      {7, "WARNING: w\nMESSAGE: m\nINFO: i\nDEBUG: d\n: c\nMESSAGE: other 2\n: fatal 1\n"},
      {5, "WARNING: w\nMESSAGE: m\n: c\nMESSAGE: other 2\n: fatal 1\n"},
      {4, "WARNING: w\n: c\n: fatal 1\n"},
      {3, ": c\n: fatal 1\n"},
      {31, ""},
  };
  for (const auto& c : cases) {
    SyslogCapture syslog;
    RunResult r = logEveryLevel(c.debugLevel, &syslog);
    EXPECT_EQ(r.signal, SIGABRT) << r.describe();  // g_error ends the process
    EXPECT_EQ(childErr(r), c.echoed) << "--debug=" << c.debugLevel;
    std::vector<std::pair<std::string, int>> got;
    for (const SyslogRecord& rec : syslog.records()) {
      EXPECT_EQ(rec.ident, "TobrelVM");
      EXPECT_EQ(rec.facility, LOG_LOCAL1);
      got.emplace_back(rec.message, rec.severity);
    }
    const std::vector<std::pair<std::string, int>> expected = {
        {"w", LOG_WARNING}, {"m", LOG_NOTICE}, {"i", LOG_INFO},       {"d", LOG_DEBUG},
        {"c", LOG_DEBUG},   {"other 2", LOG_NOTICE}, {"fatal 1", LOG_DEBUG}};
    EXPECT_EQ(got, expected) << "--debug=" << c.debugLevel;
  }
}

TEST(LogHandler, LauncherAndAppChildrenLogUnderTheirOwnProcessIds) {
  tobrel_test::TempDir apps;
  tobrel_test::writeApp(apps, "hi", "log('hi'); exit();\n");
  SyslogCapture syslog;
  RunOptions options;
  options.syslog = &syslog;
  auto launcher = Process::start({TOBRELVM_PATH, "--debug=5", "--app_folder=" + apps.path()}, options);
  launcher->write("hi PLAIN x\n");
  ASSERT_TRUE(launcher->waitUntil([&] { return !syslog.find("EXIT").empty(); }, 15000)) << launcher->err();
  launcher->write("\n");
  RunResult r = launcher->wait(15000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();

  // The stderr echo stops at MESSAGE under --debug=5; syslog still gets DEBUG.
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: TobrelVM started...\n"));
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: params: " + apps.path() + "\n"));
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: JSLOG: hi\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("DEBUG:")));

  const auto started = syslog.find("TobrelVM started...");
  const auto split = syslog.find("setCmdLine hi PLAIN x");
  const auto jslog = syslog.find("JSLOG: hi");
  const auto exited = syslog.find("EXIT");
  ASSERT_EQ(started.size(), 1u);
  ASSERT_EQ(split.size(), 1u);
  ASSERT_EQ(jslog.size(), 1u);
  ASSERT_EQ(exited.size(), 1u);
  EXPECT_EQ(started[0].pid, launcher->pid());
  EXPECT_EQ(started[0].severity, LOG_NOTICE);
  EXPECT_EQ(split[0].pid, launcher->pid());
  EXPECT_EQ(split[0].severity, LOG_DEBUG);
  EXPECT_NE(jslog[0].pid, launcher->pid());
  EXPECT_EQ(jslog[0].severity, LOG_NOTICE);
  EXPECT_EQ(exited[0].pid, jslog[0].pid);
  for (const SyslogRecord& rec : syslog.records()) {
    EXPECT_EQ(rec.ident, "TobrelVM") << rec.raw;
    EXPECT_EQ(rec.facility, LOG_LOCAL1) << rec.raw;
  }
}

// A line longer than one syslog datagram holds reaches syslog cut, with a mark, and standard
// error whole; a line of exactly the bound goes whole to both. A cut never splits a character.
TEST(LogHandler, ALongLineIsCutForSyslogOnlyAndMarked) {
  std::string accented, wide, widest;
  for (int i = 0; i < 5000; ++i) accented += "\xc3\xa9";  // two bytes each
  for (int i = 0; i < 3000; ++i) wide += "\xe2\x82\xac";  // three
  for (int i = 0; i < 2500; ++i) widest += "\xf0\x9f\x98\x80";  // four
  const struct {
    std::string line;
    bool cut;
    bool utf8;
  } cases[] = {
      {std::string(kSyslogLineBytes, 'a'), false, true},
      {std::string(kSyslogLineBytes + 1, 'b'), true, true},
      {accented, true, true},
      {wide, true, true},
      {widest, true, true},
      {std::string(1 << 20, 'c'), true, true},  // far past what the C library can send at all
      {std::string(9000, '\x80'), true, false},  // no character starts anywhere
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.size());
    SyslogCapture syslog;
    RunOptions options;
    options.syslog = &syslog;
    const std::string line = c.line;
    RunResult r = tobrel_test::runFunction(
        [line]() {
          LauncherOptions launcher;
          openTobrelLog(&launcher);
          g_debug("%s", line.c_str());
          g_message("after");
          return 0;
        },
        options);
    ASSERT_TRUE(r.exited && r.exitCode == 0) << r.describe();
    EXPECT_EQ(r.err, "DEBUG: " + line + "\nMESSAGE: after\n");
    const std::vector<SyslogRecord>& records = syslog.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].message, "after");
    const std::string& sent = records[0].message;
    if (!c.cut) {
      EXPECT_EQ(sent, line);
      continue;
    }
    const std::string mark = "... [cut, " + std::to_string(line.size()) + " bytes in all]";
    ASSERT_GT(sent.size(), mark.size());
    EXPECT_LE(sent.size(), kSyslogLineBytes);
    EXPECT_GE(sent.size(), kSyslogLineBytes - 3);  // at most the three bytes of a split character
    EXPECT_EQ(sent.substr(sent.size() - mark.size()), mark);
    const std::string kept = sent.substr(0, sent.size() - mark.size());
    EXPECT_EQ(kept, line.substr(0, kept.size()));
    if (c.utf8) {
      EXPECT_NE(static_cast<unsigned char>(line[kept.size()]) & 0xC0, 0x80) << "a character was split";
    }
  }
}

// The syslog cut backs off to the start of the UTF-8 character it falls in, which is at most
// three bytes back: a line that is no UTF-8 at all keeps its syslog copy.
TEST(LogHandler, TheSyslogCutBacksOffAtMostOneCharacter) {
  constexpr size_t kLength = 9000;  // one mark length for every case
  const std::string mark = "... [cut, " + std::to_string(kLength) + " bytes in all]";
  const size_t room = kSyslogLineBytes - mark.size();
  // `character` placed to start `before` bytes ahead of the cut, between runs of 'a'.
  auto across = [&](const std::string& character, size_t before) {
    std::string line = std::string(room - before, 'a') + character;
    return line + std::string(kLength - line.size(), 'a');
  };
  const std::string two = "\xc3\xa9", three = "\xe2\x82\xac", four = "\xf0\x9f\x98\x80";
  const struct {
    const char* name;
    std::string line;
    size_t keptMin, keptMax;
  } cases[] = {
      {"only continuation bytes", std::string(kLength, '\x80'), room - 3, room},
      {"continuation bytes after text", std::string(100, 'a') + std::string(kLength - 100, '\x80'), room - 3, room},
      {"2 bytes, cut after 1", across(two, 1), room - 1, room - 1},
      {"3 bytes, cut after 1", across(three, 1), room - 1, room - 1},
      {"3 bytes, cut after 2", across(three, 2), room - 2, room - 2},
      {"4 bytes, cut after 1", across(four, 1), room - 1, room - 1},
      {"4 bytes, cut after 2", across(four, 2), room - 2, room - 2},
      {"4 bytes, cut after 3", across(four, 3), room - 3, room - 3},
      {"4 bytes ending at the cut", across(four, 4), room, room},
  };
  SyslogCapture syslog;
  RunOptions options;
  options.syslog = &syslog;
  std::vector<std::string> lines;
  for (const auto& c : cases) lines.push_back(c.line);
  RunResult r = tobrel_test::runFunction(
      [&lines]() {
        LauncherOptions launcher;
        launcher.debugLevel = -1;  // standard error is not what this is about
        openTobrelLog(&launcher);
        for (const std::string& line : lines) g_debug("%s", line.c_str());
        return 0;
      },
      options);
  ASSERT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  const std::vector<SyslogRecord>& records = syslog.records();
  ASSERT_EQ(records.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.line.size(), kLength);
    const std::string& sent = records[i].message;
    ASSERT_GE(sent.size(), mark.size());
    EXPECT_EQ(sent.substr(sent.size() - mark.size()), mark);
    const std::string kept = sent.substr(0, sent.size() - mark.size());
    EXPECT_GE(kept.size(), c.keptMin);
    EXPECT_LE(kept.size(), c.keptMax);
    EXPECT_EQ(kept, c.line.substr(0, kept.size()));
  }
}

// Secrets are masked in every form a line may print them: raw and percent-encoded (URLs, bodies,
// signing keys), and for bytes beyond ASCII the UTF-8 text of the one-character-per-byte string
// that holds them; a secret inside a longer one never leaves the rest in clear.
TEST(LogSecrets, EveryFormIsMasked) {
  clearLogSecrets();
  addLogSecret("");  // an empty credential masks nothing
  addLogSecret("tok&en 1");
  addLogSecret("abc");
  addLogSecret("xxabcxx");
  addLogSecret("t\xc3\xa9\xe9");  // UTF-8 e-acute, then a byte that is no UTF-8
  const struct {
    const char* line;
    const char* masked;
  } cases[] = {
      {"no secret here", "no secret here"},
      {"URL https://a.b/?access_token=tok&en 1", "URL https://a.b/?access_token=***"},
      {"urlEncode : Encoded URL: tok%26en%201\n", "urlEncode : Encoded URL: ***\n"},
      {"body a=b&access_token=tok%26en%201", "body a=b&access_token=***"},
      {"abc and abc, xxabcxx", "*** and ***, ***"},
      {"ab c", "ab c"},
      {"raw t\xc3\xa9\xe9.", "raw ***."},
      {"encoded t%C3%A9%E9.", "encoded ***."},
      {"as text t\xc3\x83\xc2\xa9\xc3\xa9.", "as text ***."},
  };
  for (const auto& c : cases) EXPECT_EQ(maskLogSecrets(c.line), c.masked) << c.line;
  clearLogSecrets();
  EXPECT_EQ(maskLogSecrets("abc"), "abc");
}

// The link's trace writes a message's text form, which escapes quotes, backslashes, control
// characters and every byte from 0x80 up: a secret in a field of no secret name, whatever
// bytes it holds, is masked in that form too.
TEST(LogSecrets, TheTextFormOfAMessageShowsNoSecret) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  const std::vector<std::string> secrets = {everyByte, "tok\351en", "q\"uo'te\\", "t\xc3\xa9"};
  for (const std::string& secret : secrets) {
    clearLogSecrets();
    addLogSecret(secret);
    net::zolvek::nusk::message::NuskMsg msg;
    msg.set_id("x");
    msg.mutable_rfidcallback()->set_id(secret);
    msg.mutable_rfidcallback()->set_content("<" + secret + ">");
    EXPECT_EQ(maskLogSecrets(msg.DebugString().c_str()),
              "id: \"x\"\nrfidCallback {\n  id: \"***\"\n  content: \"<***>\"\n}\n")
        << msg.DebugString();
  }
  clearLogSecrets();
}
