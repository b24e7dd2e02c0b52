// LogCapture: an in-process GLib default log handler that records instead of printing.
#include "log_capture.h"

namespace tobrel_test {

LogCapture::LogCapture() {
  previous_ = g_log_set_default_handler(handler, this);
  previousData_ = nullptr;
}

LogCapture::~LogCapture() { g_log_set_default_handler(previous_, previousData_); }

void LogCapture::handler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer self) {
  static_cast<LogCapture*>(self)->entries_.push_back(
      LogEntry{static_cast<int>(level), domain != nullptr ? domain : "", message != nullptr ? message : ""});
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
