// LogCapture: an in-process GLib default log handler that records instead of printing.
#include "log_capture.h"

#include <stdio.h>

namespace tobrel_test {

LogCapture::LogCapture(bool echoWarnings) : echoWarnings_(echoWarnings) {
  previous_ = g_log_set_default_handler(handler, this);
  previousData_ = nullptr;
}

LogCapture::~LogCapture() { g_log_set_default_handler(previous_, previousData_); }

void LogCapture::handler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer self) {
  auto* capture = static_cast<LogCapture*>(self);
  capture->entries_.push_back(
      LogEntry{static_cast<int>(level), domain != nullptr ? domain : "", message != nullptr ? message : ""});
  if (capture->echoWarnings_ && (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) != 0)
    fprintf(stderr, "%s\n", message != nullptr ? message : "");
}

int LogCapture::count(const std::string& message) const {
  int n = 0;
  for (const LogEntry& e : entries_) n += e.message == message ? 1 : 0;
  return n;
}

bool LogCapture::hasPart(const std::string& part) const {
  for (const LogEntry& e : entries_) {
    if (e.message.find(part) != std::string::npos) return true;
  }
  return false;
}

bool LogCapture::has(int level, const std::string& message) const {
  for (const LogEntry& e : entries_) {
    if ((e.level & G_LOG_LEVEL_MASK) == level && e.message == message) return true;
  }
  return false;
}

std::vector<std::string> LogCapture::messages(int level) const {
  std::vector<std::string> found;
  for (const LogEntry& e : entries_) {
    if ((e.level & G_LOG_LEVEL_MASK) == level) found.push_back(e.message);
  }
  return found;
}

}  // namespace tobrel_test
