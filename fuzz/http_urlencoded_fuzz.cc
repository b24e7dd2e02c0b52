// The HTTP form's URL-encoded body: any bytes as name and value pairs (split at each zero
// byte), appended as the form builder appends them. The body is the pairs' percent-encoded
// names and values joined by "=" and "&", only letters, digits, "-._~" and escapes appear in
// them, and decoding each gives back the bytes it was made from.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "fuzz_common.h"
#include "http.h"
#include "percent_encode.h"

namespace {

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // the encoder writes upper-case digits only
}

// The bytes an encoded text stands for; aborts on anything the encoder must not write.
std::string decode(const std::string& encoded) {
  std::string out;
  for (size_t i = 0; i < encoded.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(encoded[i]);
    if (unreserved(c)) {
      out += static_cast<char>(c);
      continue;
    }
    if (c != '%' || i + 2 >= encoded.size() || hexValue(encoded[i + 1]) < 0 || hexValue(encoded[i + 2]) < 0)
      abort();
    const unsigned char byte = static_cast<unsigned char>(hexValue(encoded[i + 1]) * 16 + hexValue(encoded[i + 2]));
    if (unreserved(byte)) abort();  // escaped although it needed no escape
    out += static_cast<char>(byte);
    i += 2;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = tobrel_fuzz::zeroSeparatedPairs(data, size);

  UrlEncodedBody body;
  std::string expected;
  for (size_t i = 0; i < parts.size(); i += 2) {
    const size_t before = body.written();
    body.append(parts[i], parts[i + 1]);
    const std::string pair = body.text().substr(before);
    if (pair.empty() || pair.back() != '&') abort();
    const size_t equals = pair.find('=');
    if (equals == std::string::npos) abort();
    if (decode(pair.substr(0, equals)) != parts[i] ||
        decode(pair.substr(equals + 1, pair.size() - equals - 2)) != parts[i + 1])
      abort();
    if (percentEncode(parts[i]) != pair.substr(0, equals)) abort();
    expected += (i > 0 ? "&" : "") + pair.substr(0, pair.size() - 1);
  }
  if (body.written() != body.text().size() || body.finish() != expected) abort();
  return 0;
}
