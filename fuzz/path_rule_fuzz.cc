// The path rule for script-supplied paths and toLower, over any bytes: an accepted path holds
// only letters, digits, "_-/." with no "..", and never names the access list; toLower keeps
// the length and lower-cases exactly the ASCII capitals.
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "utils.h"

namespace {

bool allowedByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '/' || c == '.';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Both functions take NUL-terminated text: what follows a zero byte is not theirs to see.
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(strlen(text.c_str()));

  if (isForbiddenPath(text.c_str()) == 0) {
    if (text.find("descriptor.xml") != std::string::npos || text.find("..") != std::string::npos) abort();
    for (unsigned char c : text)
      if (!allowedByte(c)) abort();
  }

  std::string lowered = text;
  toLower(&lowered[0]);
  if (strlen(lowered.c_str()) != text.size()) abort();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const unsigned char expected = c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
    if (static_cast<unsigned char>(lowered[i]) != expected) abort();
  }
  return 0;
}
