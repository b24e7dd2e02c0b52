// HMAC-SHA1 signing: our own SHA-1 (FIPS 180-1), HMAC over it (RFC 2104) and the standard
// Base64 encoder (RFC 4648), and the global script function signHMACSHA1 built on them. The
// social module's Twitter signing uses the same three pieces.
#ifndef TOBREL_VM_MODULES_HMAC_SHA1_H
#define TOBREL_VM_MODULES_HMAC_SHA1_H

#include <stddef.h>
#include <stdint.h>
#include <v8.h>

#include <string>

constexpr size_t kSha1DigestSize = 20;

class Sha1Hash {
 public:
  Sha1Hash();
  ~Sha1Hash();
  Sha1Hash(const Sha1Hash&) = delete;
  Sha1Hash& operator=(const Sha1Hash&) = delete;

  void reset();
  void update(const unsigned char* data, uint32_t len);
  // Pads, keeps the result in the digest and wipes the rest: reset before the next message.
  void final();
  void copyDigest(unsigned char* out) const;  // kSha1DigestSize bytes

 protected:
  void transform(const unsigned char* data);

 private:
  uint32_t state[5];
  uint32_t count[2];  // message length in bits, low word first
  unsigned char buffer[64];
  unsigned char digest[kSha1DigestSize];
  uint32_t workspace[16];
  uint32_t* block;
};

// One HMAC-SHA1 computation. Both hashes are streamed, so text and key may have any length.
class HmacSha1 : public Sha1Hash {
 public:
  HmacSha1() = default;
  ~HmacSha1();

  void compute(const unsigned char* text, size_t textLength, const unsigned char* key, size_t keyLength,
               unsigned char* out);

 private:
  // Feeds any length, in pieces that fit update's 32-bit count.
  void updateAll(const unsigned char* data, size_t len);

  unsigned char ipad[64];
  unsigned char opad[64];
  unsigned char innerDigest[kSha1DigestSize];
  unsigned char keyBlock[64];
};

// RFC 4648 section 4, padded with "=", no line breaks.
std::string base64Encode(const unsigned char* data, size_t length);

// Base64 of HMAC-SHA1(key, text), each taken as bytes up to its first NUL: 28 characters.
std::string signBase64(const std::string& text, const std::string& key);

// signHMACSHA1(text, key)
void SignHMACSHA1(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
