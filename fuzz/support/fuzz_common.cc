// Quiet logging, input splitting and inputs on sockets for the fuzz targets (see fuzz_common.h).
#include "fuzz_common.h"

#include <glib.h>
#include <google/protobuf/stubs/logging.h>
#include <libxml/parser.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tobrel_fuzz {

namespace {

void dropLogLine(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
  // What ends the run is worth seeing beside the fuzzer's report.
  if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) != 0)
    fprintf(stderr, "%s: %s\n", domain != nullptr ? domain : "(default)", message);
}

// The protobuf library logs every message that lacks a required field; a fatal one still aborts.
void dropProtobufLine(google::protobuf::LogLevel, const char*, int, const std::string&) {}

void dropXmlError(void*, const char*, ...) {}

}  // namespace

void quietLogs() {
  g_log_set_default_handler(dropLogLine, nullptr);
  // A critical is a broken precondition inside GLib: a finding, not noise.
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL));
  google::protobuf::SetLogHandler(dropProtobufLine);
  xmlSetGenericErrorFunc(nullptr, dropXmlError);
}

std::vector<std::string> separatedPairs(const uint8_t* data, size_t size, uint8_t separator) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == separator) {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  if (parts.size() % 2 != 0) parts.emplace_back();
  return parts;
}

std::vector<std::string> zeroSeparatedPairs(const uint8_t* data, size_t size) { return separatedPairs(data, size, 0); }

bool socketWithInput(const uint8_t* data, size_t size, int pair[2]) {
  if (size > 65536) return false;
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) abort();
  for (size_t written = 0; written < size;) {
    const ssize_t n = write(pair[1], data + written, size - written);
    if (n <= 0) abort();
    written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace tobrel_fuzz
