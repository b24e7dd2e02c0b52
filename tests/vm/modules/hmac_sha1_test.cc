// SHA-1, HMAC-SHA1 and Base64 against the published vectors, fed whole and in awkward pieces,
// and the signHMACSHA1 native's conversions and limits in an app context.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hmac_sha1.h"
#include "script_env.h"

namespace {

std::string hex(const unsigned char* bytes, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  return out;
}

const unsigned char* bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

// SHA-1 of `text`, fed in pieces of `piece` bytes (0: all at once).
std::string sha1Hex(const std::string& text, size_t piece = 0) {
  Sha1Hash hash;
  if (piece == 0) piece = text.size() + 1;
  for (size_t at = 0; at < text.size(); at += piece)
    hash.update(bytes(text) + at, static_cast<uint32_t>(std::min(piece, text.size() - at)));
  hash.final();
  unsigned char digest[kSha1DigestSize];
  hash.copyDigest(digest);
  return hex(digest, sizeof digest);
}

std::string hmacHex(const std::string& text, const std::string& key) {
  HmacSha1 hmac;
  unsigned char out[kSha1DigestSize] = {};
  hmac.compute(bytes(text), text.size(), bytes(key), key.size(), out);
  return hex(out, sizeof out);
}

// FIPS 180-1's messages; the padding boundary (55, 56, 63, 64 bytes) is where a wrong length
// word or a missed extra block shows. Each is also fed one byte and 7 bytes at a time.
TEST(Sha1Hash, StandardMessagesWholeAndInPieces) {
  const struct {
    std::string text;
    const char* digest;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(sha1Hex(c.text), c.digest);
    EXPECT_EQ(sha1Hex(c.text, 1), c.digest);
    EXPECT_EQ(sha1Hex(c.text, 7), c.digest);
  }
}

TEST(Sha1Hash, ResetStartsAFreshMessage) {
  Sha1Hash hash;
  hash.update(bytes("junk"), 4);
  hash.reset();
  hash.update(bytes("abc"), 3);
  hash.final();
  unsigned char first[kSha1DigestSize];
  hash.copyDigest(first);
  hash.reset();
  hash.update(bytes("abc"), 3);
  hash.final();
  unsigned char second[kSha1DigestSize];
  hash.copyDigest(second);
  EXPECT_EQ(hex(first, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(second, 20), hex(first, 20));
}

// RFC 2202's HMAC-SHA1 cases: short keys, a 25-byte key, and 80-byte keys that are hashed first.
TEST(HmacSha1, Rfc2202Vectors) {
  std::string key4;
  for (int i = 1; i <= 25; ++i) key4 += static_cast<char>(i);
  const struct {
    std::string key, text;
    const char* mac;
  } cases[] = {
      {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {key4, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(hmacHex(c.text, c.key), c.mac);
  }
  // One object computes several times: nothing of the last key or text stays behind.
  HmacSha1 hmac;
  unsigned char out[kSha1DigestSize];
  hmac.compute(bytes("x"), 1, bytes(std::string(80, 'k')), 80, out);
  hmac.compute(bytes("Hi There"), 8, bytes(std::string(20, '\x0b')), 20, out);
  EXPECT_EQ(hex(out, 20), "b617318655057264e28bc0b6fb378c8ef146be00");
}

TEST(Base64, Rfc4648VectorsAndADigest) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}, {"ab", "YWI="}, {"abc", "YWJj"}, {std::string("\xfb\xff\x00\x3e", 4), "+/8APg=="},
  };
  for (const auto& c : cases) EXPECT_EQ(base64Encode(bytes(c.in), c.in.size()), c.out) << c.in;
  const std::string digest = base64Encode(bytes(std::string(20, '\xff')), 20);
  EXPECT_EQ(digest.size(), 28u);
  EXPECT_EQ(digest.back(), '=');
}

// The native in a script: counts, conversions to one byte per character up to the first NUL,
// key lengths around the block size and texts beyond the old 4032-byte work buffer.
TEST(SignHMACSHA1, ScriptCallsGiveTheStandardSignature) {
  tobrel_test::ScriptEnv env;
  env.setNative("signHMACSHA1", SignHMACSHA1);
  ASSERT_EQ(env.run("function letters(n, first) { var s = '';"
                    " for (var i = 0; i < n; i++) s += String.fromCharCode(first + i % 26); return s; }"),
            "undefined");
  const struct {
    const char* call;
    const char* result;
  } cases[] = {
      {"signHMACSHA1('', '')", "+9sdGxiqbAgyS31ktx+3Y3BpDh0="},
      {"signHMACSHA1('message', letters(64, 97))", "G0Zf+wTcXDGTwGoqKvOfSMi3Njc="},
      {"signHMACSHA1('message', letters(65, 97))", "EY3gCpzBlU3DH+loFMQGK9PMO0I="},
      {"signHMACSHA1('message', letters(200, 97))", "/SEC1xoYeCqGkER7ckPLdA4H+zM="},
      {"signHMACSHA1(letters(4032, 65), 'key')", "eCOGUocWGskzOAiocVLnueRpseA="},
      {"signHMACSHA1(letters(4033, 65), 'key')", "Eu0Az544Mmt9Z42RmE/Rs65nHZY="},
      {"signHMACSHA1(letters(100000, 65), 'key')", "HhS8y9NBK/WAuAGXC31dWukmfgY="},
      {"signHMACSHA1(12.5, 1e21)", "5uxGYIMawWUBdXFtJIcNiwtiakM="},
      {"signHMACSHA1('12.5', '1e+21')", "5uxGYIMawWUBdXFtJIcNiwtiakM="},
      {"signHMACSHA1('ab\\0cd', 'k\\0zz')", "ix7Xzz4IVJqOJi1Z99KqNkqFd/c="},
      {"signHMACSHA1('\\u00e9A', '\\u00ff')", "9AQ7H/DxotT1w+dA9poTI265Jtg="},
      {"signHMACSHA1('\\u01e9A', '\\u01ff')", "9AQ7H/DxotT1w+dA9poTI265Jtg="},
      {"signHMACSHA1()", "threw: SignHMACSHA1: Wrong arguments"},
      {"signHMACSHA1('a')", "threw: SignHMACSHA1: Wrong arguments"},
      {"signHMACSHA1('a', 'b', 'c')", "threw: SignHMACSHA1: Wrong arguments"},
      {"signHMACSHA1({toString: function () { throw 'boom'; }}, 'k')", "threw: boom"},
      {"signHMACSHA1('t', {toString: function () { throw 'key boom'; }})", "threw: key boom"},
  };
  for (const auto& c : cases) EXPECT_EQ(env.run(c.call), c.result) << c.call;
}

}  // namespace
