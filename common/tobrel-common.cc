// tobrel-common: GLib's default log handler writing to syslog under the caller's threshold,
// with every message above the error level echoed on standard output.
#include "tobrel-common.h"

#include <stdio.h>
#include <string.h>
#include <syslog.h>

namespace {

// A line that does not fit in one datagram is written by the C library, synchronously, to the
// console (LOG_CONS): seconds per megabyte, the daemon frozen meanwhile. Its syslog copy is cut
// to a length that every datagram holds, mark included; standard output still gets it whole.
constexpr size_t kSyslogMessageLimit = 8192;
constexpr char kCutMark[] = " [cut]";

// GLib levels to syslog priorities; several level bits at once, or none, count as a notice.
int log_level_to_priority(GLogLevelFlags level) {
  switch (level & ~(G_LOG_FLAG_RECURSION | G_LOG_FLAG_FATAL)) {
    case G_LOG_LEVEL_ERROR:
    case G_LOG_LEVEL_CRITICAL:
      return LOG_ERR;
    case G_LOG_LEVEL_WARNING:
      return LOG_WARNING;
    case G_LOG_LEVEL_MESSAGE:
      return LOG_NOTICE;
    case G_LOG_LEVEL_INFO:
      return LOG_INFO;
    case G_LOG_LEVEL_DEBUG:
      return LOG_DEBUG;
    default:
      return LOG_NOTICE;
  }
}

void toSyslog(int priority, const gchar *message) {
  if (strnlen(message, kSyslogMessageLimit + 1) <= kSyslogMessageLimit) {
    syslog(priority, "%s", message);
    return;
  }
  size_t keep = kSyslogMessageLimit - (sizeof kCutMark - 1);
  // Not inside a UTF-8 sequence: back to the start of the character that would be split, at most
  // three bytes back, so that a message that is not UTF-8 keeps its syslog copy.
  for (int back = 0; back < 3 && keep > 0 && (static_cast<unsigned char>(message[keep]) & 0xC0) == 0x80; ++back)
    --keep;
  syslog(priority, "%.*s%s", static_cast<int>(keep), message, kCutMark);
}

}  // namespace

extern "C" void init_tobrel_log(const char *ident, gint *threshold) {
  openlog(ident, LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
  g_log_set_default_handler(g_log_handler, threshold);
}

extern "C" void g_log_handler(const gchar * /*log_domain*/, GLogLevelFlags log_level,
                              const gchar *message, gpointer user_data) {
  const int priority = log_level_to_priority(log_level);
  if (priority <= *static_cast<const gint *>(user_data)) toSyslog(priority, message);
  // The echo looks at the level value whole, flags included: only an error-level message
  // without the fatal flag stays off standard output.
  if (static_cast<int>(log_level) > 5) puts(message);
  // GLib ends the process once a fatal message is handled, and the buffer of an output that is
  // a file or pipe would go with it, this echo and the ones before it.
  if (log_level & G_LOG_FLAG_FATAL) fflush(stdout);
}
