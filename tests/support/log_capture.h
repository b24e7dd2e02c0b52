// Test support: collect the GLib log messages of the test process itself while in scope.
// Installs itself as GLib's default handler (every domain without a handler of its own) and
// puts GLib's own default handler back when destroyed. Fatal levels still abort, as in GLib.
//
//   tobrel_test::LogCapture logs;
//   data.setCmdLine("app1 PLAIN x");
//   EXPECT_TRUE(logs.has(G_LOG_LEVEL_DEBUG, "APP NAME app1"));
#ifndef TOBREL_TESTS_SUPPORT_LOG_CAPTURE_H
#define TOBREL_TESTS_SUPPORT_LOG_CAPTURE_H

#include <glib.h>

#include <string>
#include <vector>

namespace tobrel_test {

struct LogEntry {
  int level;  // GLib level bits, flags included
  std::string domain;
  std::string message;
};

class LogCapture {
 public:
  // With `echoWarnings`, warnings and worse also go to standard error (for death tests).
  explicit LogCapture(bool echoWarnings = false);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<LogEntry>& entries() const { return entries_; }
  bool has(int level, const std::string& message) const;
  // How many messages (at any level) equal `message`; whether one contains `part`.
  int count(const std::string& message) const;
  bool hasPart(const std::string& part) const;
  // Messages logged at `level`, in order.
  std::vector<std::string> messages(int level) const;
  void clear() { entries_.clear(); }

 private:
  static void handler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer self);
  std::vector<LogEntry> entries_;
  bool echoWarnings_;
  GLogFunc previous_;
  gpointer previousData_;
};

}  // namespace tobrel_test

#endif
