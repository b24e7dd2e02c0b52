// The log handler of TobrelVM: level table, stderr echo threshold and syslog routing.
#include "log.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include <google/protobuf/text_format.h>
#include <google/protobuf/wrappers.pb.h>

#include <algorithm>
#include <vector>

#include "percent_encode.h"
#include "tobrel_data.h"

namespace {

// Each secret in every form a line may print it in, longest first, so that a secret inside
// another is never left half masked.
std::vector<std::string>& secretForms() {
  static std::vector<std::string> forms;
  return forms;
}

// The UTF-8 text of a script string that holds `bytes` one character per byte, as the natives
// store secrets: what a line shows when such a string is converted to UTF-8.
std::string oneCharacterPerByteUtf8(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

// What the link's trace (a message's text form) shows for a string field holding `bytes`,
// without the quotes: the printer escapes quotes, backslashes, control characters and bytes
// from 0x80 up, so a secret that a message carries in a field of no secret name shows there
// in that form. Taken from the printer itself, so the two always agree.
std::string traceEscaped(const std::string& bytes) {
  google::protobuf::StringValue holder;
  holder.set_value(bytes);
  std::string printed;
  google::protobuf::TextFormat::PrintFieldValueToString(holder, holder.GetDescriptor()->FindFieldByNumber(1), -1,
                                                        &printed);
  if (printed.size() < 2 || printed.front() != '"' || printed.back() != '"') return bytes;
  return printed.substr(1, printed.size() - 2);
}

// The handler's data once openTobrelLog has made logHandler GLib's default handler.
LauncherOptions* g_installedOptions = nullptr;

// Sends one line to syslog, cut to kSyslogLineBytes with a mark when it is longer.
void syslogLine(int priority, const char* text) {
  const size_t length = strlen(text);
  if (length <= kSyslogLineBytes) {
    syslog(priority, "%s", text);
    return;
  }
  char mark[64];
  const int markLength = snprintf(mark, sizeof mark, "... [cut, %zu bytes in all]", length);
  size_t keep = kSyslogLineBytes - static_cast<size_t>(markLength);
  // Never half a UTF-8 character: back off to the start of the one the cut falls in. A
  // character holds at most four bytes, so at most three come off; bytes that are no UTF-8
  // must not take the whole line with them.
  for (int i = 0; i < 3 && keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80; ++i) --keep;
  syslog(priority, "%.*s%s", static_cast<int>(keep), text, mark);
}

}  // namespace

void addLogSecret(const std::string& secret) {
  if (secret.empty()) return;
  std::vector<std::string>& forms = secretForms();
  forms.push_back(secret);
  // As URLs, bodies and signing keys carry it: the HTTP client's percent-encoding.
  forms.push_back(percentEncode(secret));
  forms.push_back(oneCharacterPerByteUtf8(secret));
  forms.push_back(traceEscaped(secret));
  forms.push_back(traceEscaped(oneCharacterPerByteUtf8(secret)));
  std::sort(forms.begin(), forms.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  forms.erase(std::unique(forms.begin(), forms.end()), forms.end());
}

void clearLogSecrets() { secretForms().clear(); }

std::string maskLogSecrets(const char* message) {
  std::string text = message != nullptr ? message : "";
  for (const std::string& form : secretForms()) {
    for (size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 3))
      text.replace(at, form.size(), "***");
  }
  return text;
}

void openTobrelLog(LauncherOptions* options) {
  openlog("TobrelVM", LOG_PID | LOG_CONS | LOG_NDELAY, LOG_LOCAL1);
  g_log_set_default_handler(logHandler, options);
  g_installedOptions = options;
}

void logText(GLogLevelFlags level, const char* text) {
  if (g_installedOptions != nullptr && (level & (G_LOG_FLAG_FATAL | G_LOG_LEVEL_ERROR)) == 0) {
    logHandler(G_LOG_DOMAIN, level, text, g_installedOptions);
  } else {
    g_log(G_LOG_DOMAIN, level, "%s", text);
  }
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
  // Every event writes several lines: an app without secrets is spared a copy of each.
  std::string masked;
  const char* text = message;
  if (!secretForms().empty()) {
    masked = maskLogSecrets(message);
    text = masked.c_str();
  }
  if (options != nullptr && logEchoes(options->debugLevel, value)) {
    fprintf(stderr, "%s: %s\n", logLevelName(value), text);
  }
  syslogLine(logPriority(value), text);
  // A fatal line (g_error) ends the process with an abort; GLib itself would raise SIGTRAP,
  // which reads as a debugger breakpoint rather than the deliberate end it is.
  if ((level & G_LOG_FLAG_FATAL) != 0) abort();
}
