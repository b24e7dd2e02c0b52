// The log handler of TobrelVM: level table, stderr echo threshold and syslog routing.
#include "log.h"

#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>

#include "tobrel_data.h"

void openTobrelLog(LauncherOptions* options) {
  openlog("TobrelVM", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
  g_log_set_default_handler(logHandler, options);
}

const char* logLevelName(int level) {
  switch (level) {
    case G_LOG_LEVEL_WARNING: return "WARNING";
    case G_LOG_LEVEL_MESSAGE: return "MESSAGE";
    case G_LOG_LEVEL_INFO: return "INFO";
    case G_LOG_LEVEL_DEBUG: return "DEBUG";
    default: return "";
  }
}

int logPriority(int level) {
  switch (level) {
    case G_LOG_LEVEL_WARNING: return LOG_WARNING;
    case G_LOG_LEVEL_MESSAGE: return LOG_NOTICE;
    case G_LOG_LEVEL_INFO: return LOG_INFO;
    default: return LOG_DEBUG;
  }
}

bool logEchoes(int debugLevel, int level) {
  // Bounded so the shift stays defined; other numbers echo nothing.
  return debugLevel >= 0 && debugLevel <= 30 && static_cast<long>(level) <= (1L << debugLevel);
}

void logHandler(const gchar* /*domain*/, GLogLevelFlags level, const gchar* message, gpointer data) {
  const auto* options = static_cast<const LauncherOptions*>(data);
  const int value = static_cast<int>(level);
  if (options != nullptr && logEchoes(options->debugLevel, value)) {
    fprintf(stderr, "%s: %s\n", logLevelName(value), message);
  }
  syslog(logPriority(value), "%s", message);
  // A fatal line (g_error) ends the process with an abort; GLib itself would raise SIGTRAP,
  // which reads as a debugger breakpoint rather than the deliberate end it is.
  if ((level & G_LOG_FLAG_FATAL) != 0) abort();
}
