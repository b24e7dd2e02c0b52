// The path rule for script-supplied paths, in-place lowercasing and UUID texts.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "utils.h"

TEST(IsForbiddenPath, Table) {
  const struct {
    const char* path;
    int refused;
  } cases[] = {
      {"lib/util.js", 0},       {"./lib/a-b_c.js", 0},    {"/etc/x", 0},         {".hidden", 0},
      {"", 0},                  {"a.b.c", 0},             {"a./.b", 0},          {"Descriptor.xml", 0},
      {"../x", 1},              {"a..b", 1},              {"lib/..", 1},         {"lib/descriptor.xml", 1},
      {"descriptor.xml.bak", 1}, {"my file.js", 1},       {"a\\b", 1},           {"tab\there", 1},
      {"semi;colon", 1},        {"x\n", 1},               {"caf\xc3\xa9.js", 1},  {"\x80", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(isForbiddenPath(c.path), c.refused) << '"' << c.path << '"';
}

TEST(ToLower, Table) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"AbC-09", "abc-09"},
      {"", ""},
      {"ABCDEF0123-XYZ", "abcdef0123-xyz"},
      // Bytes of 128 and above are left as they are (and must not be read as negative).
      {"\xC9t\xE9 A", "\xC9t\xE9 a"},
  };
  for (const auto& c : cases) {
    std::string text = c.in;
    toLower(&text[0]);
    EXPECT_EQ(text, c.out);
  }
}

TEST(GenerateUuid, LowercaseCanonicalFormAndFresh) {
  std::set<std::string> seen;
  for (int i = 0; i < 2; ++i) {
    char buf[37];
    generateUuid(buf);
    const std::string uuid(buf);
    ASSERT_EQ(uuid.size(), 36u);
    for (size_t pos = 0; pos < uuid.size(); ++pos) {
      if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
        EXPECT_EQ(uuid[pos], '-') << uuid;
      } else {
        EXPECT_TRUE(isxdigit(static_cast<unsigned char>(uuid[pos])) && !isupper(static_cast<unsigned char>(uuid[pos]))) << uuid;
      }
    }
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 2u);
}
