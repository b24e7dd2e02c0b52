// The access list: which words a descriptor.xml grants, and how an unreadable one ends the app.
#include "descriptor.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_dir.h"

namespace {

class DescriptorTest : public ::testing::Test {
 protected:
  tobrel_test::TempDir files;
};

std::string accessList(const std::string& accesses) {
  return "<?xml version=\"1.0\"?>\n<descriptor><accesses>" + accesses + "</accesses></descriptor>\n";
}

struct GrantCase {
  const char* what;
  std::string xml;
  const char* word;
  bool granted;
};

TEST_F(DescriptorTest, GrantsOnlyExactWordsUnderTheExpectedPath) {
  const GrantCase cases[] = {
      {"listed word", accessList("<access>led</access><access>http</access>"), "http", true},
      {"unlisted word", accessList("<access>led</access><access>http</access>"), "ears", false},
      {"upper case", accessList("<access>LED</access>"), "led", false},
      {"space before", accessList("<access> led</access>"), "led", false},
      {"space after", accessList("<access>led </access>"), "led", false},
      {"prefix only", accessList("<access>le</access>"), "led", false},
      {"longer word", accessList("<access>leds</access>"), "led", false},
      {"word given twice", accessList("<access>led</access><access>led</access>"), "led", true},
      {"cdata text", accessList("<access><![CDATA[led]]></access>"), "led", true},
      {"entity in text", accessList("<access>t&amp;t</access>"), "t&t", true},
      {"no access element", accessList(""), "led", false},
      {"no accesses element", "<descriptor><access>led</access></descriptor>", "led", false},
      {"other root", "<app><accesses><access>led</access></accesses></app>", "led", false},
      {"root in a namespace",
       "<descriptor xmlns=\"urn:tobrel\"><accesses><access>led</access></accesses></descriptor>", "led", false},
      {"prefixed root", "<d:descriptor xmlns:d=\"urn:tobrel\"><accesses><access>led</access></accesses></d:descriptor>",
       "led", false},
      {"other things around", "<descriptor name=\"x\"><title>led</title><accesses>\n  <access>led</access>\n"
                              "  <other>ears</other></accesses></descriptor>", "led", true},
      {"text beside accesses is no word", "<descriptor><accesses>ears<access>led</access></accesses></descriptor>",
       "ears", false},
  };
  for (const GrantCase& c : cases) {
    Descriptor d(files.write("descriptor.xml", c.xml).c_str());
    EXPECT_EQ(d.hasAccess(c.word), c.granted) << c.what;
  }
}

// Elements without a text as their first child give no word; they must neither crash the
// comparison nor hide the words that follow them.
TEST_F(DescriptorTest, AccessWithoutTextGrantsNothing) {
  const std::string xml = accessList(
      "<access/><access></access><access><b>ears</b></access><access><!--c-->tts</access>"
      "<access><?pi x?>dock</access><access>led</access>");
  Descriptor d(files.write("descriptor.xml", xml).c_str());
  ASSERT_EQ(d.accessCount(), 6);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(d.accessName(i), nullptr) << i;
  EXPECT_STREQ(d.accessName(5), "led");
  EXPECT_EQ(d.accessName(6), nullptr);
  EXPECT_EQ(d.accessName(-1), nullptr);
  for (const char* word : {"", "ears", "tts", "dock", "b"}) EXPECT_FALSE(d.hasAccess(word)) << word;
  EXPECT_TRUE(d.hasAccess("led"));
}

TEST_F(DescriptorTest, KeepsDocumentRootAndCount) {
  Descriptor d(files.write("descriptor.xml", accessList("<access>a</access><access>b</access>")).c_str());
  ASSERT_NE(d.doc, nullptr);
  ASSERT_NE(d.root, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(d.root->name), "descriptor");
  EXPECT_EQ(d.accessCount(), 2);
  EXPECT_STREQ(d.accessName(1), "b");
}

TEST_F(DescriptorTest, UnreadableFileEndsTheProcessWithStatusZero) {
  const struct {
    const char* what;
    std::string path;
  } cases[] = {
      {"missing", files.path() + "/absent.xml"},
      {"empty", files.write("empty.xml", "")},
      {"not well-formed", files.write("broken.xml", "<descriptor><accesses></descriptor>")},
      {"not xml", files.write("text.xml", "led http\n")},
      {"a folder", files.path()},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT({ Descriptor d(c.path.c_str()); fprintf(stderr, "survived\n"); abort(); },
                ::testing::ExitedWithCode(0), "")
        << c.what;
  }
}

}  // namespace
