// TobrelVM's logging: every GLib message of the process goes to syslog (identity "TobrelVM",
// LOG_LOCAL1) and, under the "--debug=" threshold, to standard error as "LEVEL: text".
#ifndef TOBREL_VM_CORE_LOG_H
#define TOBREL_VM_CORE_LOG_H

#include <glib.h>
#include <stddef.h>

#include <string>

struct LauncherOptions;

// Opens syslog and installs logHandler as GLib's default handler with `options` as user data.
void openTobrelLog(LauncherOptions* options);

// The GLib default log handler; `data` is the LauncherOptions. The domain is not looked at.
// Every secret of the app is masked first (maskLogSecrets). A fatal message (ERROR) aborts
// the process once it is written.
void logHandler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data);

// The most of a line that goes to syslog in one datagram: a longer line is cut there and ends
// with a mark that says so (standard error still gets it whole). Without the cut the C library
// cannot send it and writes it to the console instead, which blocks for as long as that takes.
constexpr size_t kSyslogLineBytes = 8192;

// Logs `text` as it is. Before openTobrelLog, and for ERROR or any level with the fatal flag,
// this is g_log(G_LOG_DOMAIN, level, "%s", text). Otherwise the line goes straight to logHandler
// with the options that openTobrelLog installed, without GLib's copy, domain lookup and locking
// (for the lines that every device event writes), and so without what g_log would apply on the
// way: a handler set for the domain (g_log_set_handler), the fatal masks (g_log_set_always_fatal,
// g_log_set_fatal_mask, G_DEBUG=fatal-warnings) and a default handler installed after
// openTobrelLog. TobrelVM sets none of these.
void logText(GLogLevelFlags level, const char* text);

// The level table: the name written on standard error ("" for any value other than the four
// plain levels, so ERROR, CRITICAL and flagged levels too) and the syslog priority.
const char* logLevelName(int level);
int logPriority(int level);

// True when a message of `level` is echoed under `debugLevel`: debugLevel in 0..30 and
// level <= 2^debugLevel.
bool logEchoes(int debugLevel, int level);

// The app's secrets (service tokens and signing secrets, as the daemon hands them over): every
// log line shows each of them as "***", wherever a line prints one: its bytes, percent-encoded,
// as the UTF-8 text of a string holding one character per byte, and the bytes or that text
// escaped as a message's text form (the link's trace) writes a string field.
// Empty texts are ignored. The list lives as long as the process, which serves one app.
void addLogSecret(const std::string& secret);
// `message` with every known secret replaced by "***"; the message itself when none occurs.
std::string maskLogSecrets(const char* message);
// Forgets every secret. For tests.
void clearLogSecrets();

#endif
