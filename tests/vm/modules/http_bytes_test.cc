// The HTTP client's byte-level pieces on their own: the URL-encoded body, the charset scan and
// the conversion to UTF-8 (the request and reply paths are tested end to end in http_test.cc).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http.h"
#include "process.h"

using tobrel_test::repeat;

// Escaping can triple a pair: the body must hold every escaped byte however long the values,
// and the trailing "&" goes only when a pair was written.
TEST(HttpBytes, UrlEncodedBodyHoldsEveryEscapedPair) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string body;
  };
  std::vector<std::pair<std::string, std::string>> blanks;
  std::string blankBody;
  for (int i = 0; i < 3000; ++i) {
    blanks.push_back({" ", " "});
    blankBody += std::string(i == 0 ? "" : "&") + "%20=%20";
  }
  const std::vector<Case> cases = {
      {"no pair", {}, ""},
      {"plain and UTF-8", {{"a", "x y"}, {"b", "\xc3\xa9"}}, "a=x%20y&b=%C3%A9"},
      {"unreserved kept", {{"k-._~", "AZaz09-._~"}}, "k-._~=AZaz09-._~"},
      {"reserved escaped", {{"a&b", "=?/+%\n"}}, "a%26b=%3D%3F%2F%2B%25%0A"},
      {"NUL kept", {{"n", std::string("a\0b", 3)}}, "n=a%00b"},
      {"4000 e-acute", {{"v", repeat("\xc3\xa9", 4000)}}, "v=" + repeat("%C3%A9", 4000)},
      {"3000 pairs of blanks", blanks, blankBody},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UrlEncodedBody body;
    for (const auto& pair : c.pairs) body.append(pair.first, pair.second);
    EXPECT_EQ(body.finish(), c.body);
    EXPECT_EQ(body.written(), c.pairs.empty() ? 0 : c.body.size() + 1);
  }
  // The body reports growth once a pair no longer fits its first 8192 bytes.
  UrlEncodedBody body;
  EXPECT_FALSE(body.append("a", std::string(8000, 'x')));
  EXPECT_TRUE(body.append("b", std::string(300, ' ')));
}

TEST(HttpBytes, CharsetComesFromTheBodyDeclarationThenTheHeader) {
  struct Case {
    const char* what;
    std::string body, header;
    std::string name;  // empty: none found
  };
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=windows-1252\r\n\r\n";
  const std::string padding(200, ' ');
  const std::vector<Case> cases = {
      {"declaration first", "<?xml version='1.0' encoding='iso-8859-1'?><a/>", header, "ISO-8859-1"},
      {"double quotes", "<?xml version=\"1.0\" encoding=\"utf-8\"?>", "", "UTF-8"},
      {"declaration after byte 200", padding + "<?xml encoding='iso-8859-1'?>", header, "WINDOWS-1252"},
      {"keyword across byte 200", std::string(195, ' ') + "encoding='koi8-r'", header, "WINDOWS-1252"},
      {"header, quoted", "x", "Content-Type: text/plain; charset=\"koi8-r\"\r\n", "KOI8-R"},
      {"unquoted declaration", "encoding=latin1 rest", "", "LATIN1"},
      {"name ends at a quote", "x", "Content-Type: a; charset=utf-8'junk\r\n", "UTF-8"},
      {"blanks before the name", "encoding=   cp1252\n", "", "CP1252"},
      {"at most 50 characters", "encoding=" + std::string(60, 'a'), "", std::string(50, 'A')},
      {"keyword at the very end of the body", "<?xml encoding", header, ""},
      {"keyword then one character", "<?xml encoding=", header, ""},
      {"keyword then blanks", "encoding=   ", header, ""},
      {"only quotes after it", "encoding=''", header, ""},
      {"header keyword at the end", "x", "Content-Type: text/plain; charset", ""},
      {"header keyword then one character", "x", "Content-Type: text/plain; charset=", ""},
      {"neither", "plain text", "HTTP/1.1 200 OK\r\n\r\n", ""},
      {"empty body and header", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string name;
    const bool found = findCharset(c.body.data(), c.body.size(), c.header.data(), c.header.size(), &name);
    EXPECT_EQ(found, !c.name.empty());
    if (found) {
      EXPECT_EQ(name, c.name);
    }
  }
  // No collected bytes at all (a 204 without headers): nothing to read, nothing found.
  std::string name;
  EXPECT_FALSE(findCharset(nullptr, 0, nullptr, 0, &name));
}

// Text where every byte needs two UTF-8 bytes must be converted whole, not given up on.
TEST(HttpBytes, ConversionGrowsItsRoomAndReportsRealFailures) {
  struct Case {
    const char* what;
    const char* charset;
    std::string in;
    Conversion result;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"accented Latin-1", "ISO-8859-1", repeat("\xe9", 20000), Conversion::kConverted, repeat("\xc3\xa9", 20000)},
      {"windows-1252 euro", "WINDOWS-1252", "caf\xe9 \x80", Conversion::kConverted, "caf\xc3\xa9 \xe2\x82\xac"},
      {"three bytes per byte", "WINDOWS-1252", repeat("\x80", 1000), Conversion::kConverted,
       repeat("\xe2\x82\xac", 1000)},
      {"NUL passes", "ISO-8859-1", std::string("a\0b", 3), Conversion::kConverted, std::string("a\0b", 3)},
      {"unknown charset", "X-NO-SUCH-SET", "abc", Conversion::kUnknownCharset, ""},
      {"invalid byte", "ASCII", "ab\xe9", Conversion::kFailed, ""},
      {"incomplete last character", "UTF-16LE", "a\0b", Conversion::kFailed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CurlBuffer out;
    size_t inLeft = 99, outLeft = 99;
    EXPECT_EQ(convertToUtf8(c.charset, c.in.data(), c.in.size(), &out, &inLeft, &outLeft), c.result);
    if (c.result != Conversion::kConverted) {
      EXPECT_EQ(out.data, nullptr);
      continue;
    }
    EXPECT_EQ(std::string(out.data, out.len), c.out);
    EXPECT_EQ(out.data[out.len], '\0');
    EXPECT_EQ(inLeft, 0u);
  }
}

TEST(HttpBytes, CollectorKeepsEveryDeliveryWithANulAfterIt) {
  CurlBuffer collector;
  EXPECT_EQ(curlWriteCallback(const_cast<char*>("ab"), 1, 2, &collector), 2u);
  EXPECT_EQ(curlWriteCallback(const_cast<char*>(""), 1, 0, &collector), 0u);
  std::string big(100000, 'x');
  big[5] = '\0';
  EXPECT_EQ(curlWriteCallback(&big[0], 4, 25000, &collector), 100000u);
  ASSERT_EQ(collector.len, 100002u);
  EXPECT_EQ(std::string(collector.data, collector.len), "ab" + big);
  EXPECT_EQ(collector.data[collector.len], '\0');
}
