// The HTTP reply's character set: any bytes as a reply's header text and body, scanned for
// their charset declaration and converted to UTF-8 in place as the client does; and any body
// converted from a few stateful and multi-byte charsets. A conversion that succeeds leaves
// valid UTF-8 with one NUL after it, in a buffer that holds it.
#include <glib.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "fuzz_common.h"
#include "http.h"

namespace {

void checkBuffer(const CurlBuffer& buffer) {
  if (buffer.data == nullptr) return;
  if (buffer.len >= buffer.capacity || buffer.data[buffer.len] != '\0') abort();
}

// Valid UTF-8 throughout; a NUL from the source text is a character like any other.
bool validUtf8(const char* text, size_t len) {
  for (size_t at = 0; at < len;) {
    const size_t chunk = strnlen(text + at, len - at);
    if (!g_utf8_validate(text + at, static_cast<gssize>(chunk), nullptr)) return false;
    at += chunk + 1;
  }
  return true;
}

const char* const kCharsets[] = {"ISO-8859-1", "UTF-16", "UTF-7", "SHIFT_JIS", "ISO-2022-JP", "GB18030", "UTF-32", "BIG5"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::quietLogs();
  return 0;
}

// Input: one byte that picks a charset, two bytes of header length, the header, the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const char* charset = kCharsets[data[0] % (sizeof kCharsets / sizeof kCharsets[0])];
  const size_t headerLen = std::min<size_t>((data[1] << 8) | data[2], size - 3);
  const char* header = reinterpret_cast<const char*>(data + 3);
  const char* body = header + headerLen;
  const size_t bodyLen = size - 3 - headerLen;

  // Nothing collected leaves a buffer without storage, as a reply without a header or body does.
  CurlBuffer headerBuffer, bodyBuffer;
  if (headerLen > 0) headerBuffer.assign(header, headerLen);
  if (bodyLen > 0) bodyBuffer.assign(body, bodyLen);
  std::string name;
  if (findCharset(bodyBuffer.data, bodyBuffer.len, headerBuffer.data, headerBuffer.len, &name)) {
    if (name.empty() || name.size() > 50) abort();
  }
  decodeReplyBody(&bodyBuffer, headerBuffer);
  checkBuffer(bodyBuffer);

  CurlBuffer converted;
  size_t inLeft = 0, outLeft = 0;
  if (convertToUtf8(charset, body, bodyLen, &converted, &inLeft, &outLeft) == Conversion::kConverted) {
    checkBuffer(converted);
    if (converted.data == nullptr || !validUtf8(converted.data, converted.len))
      abort();
  }
  return 0;
}
