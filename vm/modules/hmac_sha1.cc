// SHA-1, HMAC-SHA1 and Base64, written from FIPS 180-1, RFC 2104 and RFC 4648, and the
// signHMACSHA1 native. Nothing here has C linkage: the engine's library exports C names of
// its own that a plain name could clash with.
#include "hmac_sha1.h"

#include <string.h>

#include <algorithm>

#include "script.h"

using v8::FunctionCallbackInfo;
using v8::Isolate;
using v8::Value;

namespace {

const std::string kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline uint32_t rotateLeft(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

// The text as C code would see it: up to its first NUL byte.
std::string upToNul(const std::string& text) { return text.substr(0, strnlen(text.c_str(), text.size())); }

}  // namespace

Sha1Hash::Sha1Hash() : block(workspace) { reset(); }

Sha1Hash::~Sha1Hash() { reset(); }

void Sha1Hash::reset() {
  state[0] = 0x67452301;
  state[1] = 0xEFCDAB89;
  state[2] = 0x98BADCFE;
  state[3] = 0x10325476;
  state[4] = 0xC3D2E1F0;
  count[0] = count[1] = 0;
}

void Sha1Hash::update(const unsigned char* data, uint32_t len) {
  uint32_t j = (count[0] >> 3) & 63;
  const uint32_t bits = len << 3;
  if ((count[0] += bits) < bits) ++count[1];
  count[1] += len >> 29;
  uint32_t i = 0;
  if (j + len > 63) {
    i = 64 - j;
    memcpy(&buffer[j], data, i);
    transform(buffer);
    for (; i + 63 < len; i += 64) transform(&data[i]);
    j = 0;
  }
  if (len > i) memcpy(&buffer[j], &data[i], len - i);
}

void Sha1Hash::transform(const unsigned char* data) {
  for (int t = 0; t < 16; ++t) {
    block[t] = static_cast<uint32_t>(data[4 * t]) << 24 | static_cast<uint32_t>(data[4 * t + 1]) << 16 |
               static_cast<uint32_t>(data[4 * t + 2]) << 8 | static_cast<uint32_t>(data[4 * t + 3]);
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t w;
    if (t < 16) {
      w = block[t];
    } else {
      // The schedule lives in the sixteen words, each overwritten once it is no longer needed.
      w = rotateLeft(block[(t + 13) & 15] ^ block[(t + 8) & 15] ^ block[(t + 2) & 15] ^ block[t & 15], 1);
      block[t & 15] = w;
    }
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t next = rotateLeft(a, 5) + f + e + w + k;
    e = d;
    d = c;
    c = rotateLeft(b, 30);
    b = a;
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

void Sha1Hash::final() {
  unsigned char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(count[i < 4 ? 1 : 0] >> ((3 - (i & 3)) * 8));
  const unsigned char one = 0x80, zero = 0;
  update(&one, 1);
  while ((count[0] & 511) != 448) update(&zero, 1);
  update(length, 8);
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<unsigned char>(state[i >> 2] >> ((3 - (i & 3)) * 8));
  // Leave nothing of the message behind, the compression's working words included.
  memset(buffer, 0, sizeof buffer);
  memset(state, 0, sizeof state);
  memset(count, 0, sizeof count);
  memset(length, 0, sizeof length);
  transform(buffer);
}

void Sha1Hash::copyDigest(unsigned char* out) const { memcpy(out, digest, sizeof digest); }

HmacSha1::~HmacSha1() {
  memset(keyBlock, 0, sizeof keyBlock);
  memset(ipad, 0, sizeof ipad);
  memset(opad, 0, sizeof opad);
  memset(innerDigest, 0, sizeof innerDigest);
}

void HmacSha1::updateAll(const unsigned char* data, size_t len) {
  constexpr size_t kPiece = 1u << 30;
  while (len > 0) {
    const size_t piece = std::min(len, kPiece);
    update(data, static_cast<uint32_t>(piece));
    data += piece;
    len -= piece;
  }
}

void HmacSha1::compute(const unsigned char* text, size_t textLength, const unsigned char* key, size_t keyLength,
                       unsigned char* out) {
  memset(keyBlock, 0, sizeof keyBlock);
  memset(ipad, 0x36, sizeof ipad);
  memset(opad, 0x5C, sizeof opad);
  if (keyLength > sizeof keyBlock) {
    reset();
    updateAll(key, keyLength);
    final();
    copyDigest(keyBlock);
  } else if (keyLength > 0) {
    memcpy(keyBlock, key, keyLength);
  }
  for (size_t i = 0; i < sizeof ipad; ++i) {
    ipad[i] ^= keyBlock[i];
    opad[i] ^= keyBlock[i];
  }
  // Streamed: the text is hashed where it lies, so no work buffer limits its length.
  reset();
  update(ipad, sizeof ipad);
  updateAll(text, textLength);
  final();
  copyDigest(innerDigest);
  reset();
  update(opad, sizeof opad);
  update(innerDigest, sizeof innerDigest);
  final();
  copyDigest(out);
}

std::string base64Encode(const unsigned char* data, size_t length) {
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < length; i += 3) {
    const uint32_t group = static_cast<uint32_t>(data[i]) << 16 | static_cast<uint32_t>(data[i + 1]) << 8 | data[i + 2];
    out += kBase64Alphabet[(group >> 18) & 63];
    out += kBase64Alphabet[(group >> 12) & 63];
    out += kBase64Alphabet[(group >> 6) & 63];
    out += kBase64Alphabet[group & 63];
  }
  if (i < length) {
    const bool two = i + 1 < length;
    const uint32_t group = static_cast<uint32_t>(data[i]) << 16 | (two ? static_cast<uint32_t>(data[i + 1]) << 8 : 0);
    out += kBase64Alphabet[(group >> 18) & 63];
    out += kBase64Alphabet[(group >> 12) & 63];
    out += two ? kBase64Alphabet[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string signBase64(const std::string& wholeText, const std::string& wholeKey) {
  const std::string text = upToNul(wholeText), key = upToNul(wholeKey);
  HmacSha1 hmac;
  unsigned char output[kSha1DigestSize] = {};
  hmac.compute(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
               reinterpret_cast<const unsigned char*>(key.data()), key.size(), output);
  return base64Encode(output, sizeof output);
}

void SignHMACSHA1(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 2) return throwText(isolate, "SignHMACSHA1: Wrong arguments");
  std::string text, key;
  if (!asciiValue(isolate, args[0], &text) || !asciiValue(isolate, args[1], &key)) return;
  args.GetReturnValue().Set(newString(isolate, signBase64(text, key).c_str()));
}
