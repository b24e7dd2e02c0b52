// The HTTP request's header lines: any bytes as header names and values (the input after its
// first byte, split at each occurrence of that byte, so that a zero byte can sit inside a
// name or value), each checked and made into its line and put on a libcurl header list as the
// client does. A pair is refused exactly when its name is not a token or its value holds a
// control character other than tab, and for CR or LF the cause says so; the list holds every
// other line in order, each exactly "name: value", whole and never more than one line.
#include <curl/curl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "http.h"

namespace {

bool breaksLine(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// RFC 9110's token: one or more of these.
bool isToken(const std::string& text) {
  static const std::string kMarks = "!#$%&'*+-.^_`|~";
  if (text.empty()) return false;
  for (char c : text) {
    const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && kMarks.find(c) == std::string::npos) return false;
  }
  return true;
}

bool holdsControl(const std::string& text) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7f) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::vector<std::string> parts = tobrel_fuzz::separatedPairs(data + 1, size - 1, data[0]);

  curl_slist* list = nullptr;
  std::vector<std::string> lines;
  for (size_t i = 0; i < parts.size(); i += 2) {
    const std::string& name = parts[i];
    const std::string& value = parts[i + 1];
    const char* fault = headerLineFault(name, value);
    if ((fault != nullptr) != (!isToken(name) || holdsControl(value))) abort();
    if (breaksLine(name) && strcmp(fault, "CR or LF in a header name") != 0) abort();
    if (!breaksLine(name) && breaksLine(value) && strcmp(fault, "CR or LF in a header value") != 0) abort();
    if (fault != nullptr) continue;
    const std::string line = headerLine(name, value);
    if (line != name + ": " + value || breaksLine(line)) abort();
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) abort();
    list = grown;
    lines.push_back(line);
  }
  // Each item whole: a zero byte would have cut it.
  size_t n = 0;
  for (const curl_slist* item = list; item != nullptr; item = item->next, ++n)
    if (n >= lines.size() || lines[n].size() != strlen(item->data) || lines[n] != item->data) abort();
  if (n != lines.size()) abort();
  curl_slist_free_all(list);
  return 0;
}
