// The HTTP request's header lines: any bytes as header names and values (split at each zero
// byte), each checked and made into its line and put on a libcurl header list as the client
// does. A pair is refused exactly when its name or value holds CR or LF; the list holds every
// other line in order, each exactly "name: value" and never more than one line.
#include <curl/curl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "http.h"

namespace {

bool breaksLine(const std::string& text) {
  for (char c : text)
    if (c == '\r' || c == '\n') return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = tobrel_fuzz::zeroSeparatedPairs(data, size);

  curl_slist* list = nullptr;
  std::vector<std::string> lines;
  for (size_t i = 0; i < parts.size(); i += 2) {
    const bool refused = headerLineFault(parts[i], parts[i + 1]) != nullptr;
    if (refused != (breaksLine(parts[i]) || breaksLine(parts[i + 1]))) abort();
    if (refused) continue;
    const std::string line = headerLine(parts[i], parts[i + 1]);
    if (line != parts[i] + ": " + parts[i + 1] || breaksLine(line)) abort();
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) abort();
    list = grown;
    lines.push_back(line);
  }
  size_t n = 0;
  for (const curl_slist* item = list; item != nullptr; item = item->next, ++n)
    if (n >= lines.size() || lines[n] != item->data) abort();
  if (n != lines.size()) abort();
  curl_slist_free_all(list);
  return 0;
}
