// Semantic result conversion: XML elements into properties of a script object.
#include "semantic.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>
#include <vector>

#include "script_env.h"
#include "temp_dir.h"

namespace {

class SemanticTest : public ::testing::Test {
 protected:
  // Parses `xml` into a target that already holds {keep: 1, a: "old"} and returns its JSON.
  std::string convert(const std::string& xml) {
    env.run("var target = {keep: 1, a: 'old'};");
    parseSemantic(env.isolate(), xml.c_str(), target());
    return env.run("JSON.stringify(target)");
  }
  v8::Local<v8::Object> target() {
    v8::Local<v8::Context> context = env.context();
    return context->Global()
        ->Get(context, v8::String::NewFromUtf8Literal(env.isolate(), "target"))
        .ToLocalChecked()
        .As<v8::Object>();
  }
  tobrel_test::ScriptEnv env;
};

TEST_F(SemanticTest, ConvertsElementsToProperties) {
  const struct {
    const char* what;
    const char* xml;
    const char* json;
  } cases[] = {
      {"nested", "<semantic><city>Paris</city><when><day>today</day></when></semantic>",
       R"({"keep":1,"a":"old","semantic":{"city":"Paris","when":{"day":"today"}}})"},
      {"root is a property", "<a>new</a>", R"({"keep":1,"a":"new"})"},
      {"replaces an existing one", "<keep>2</keep>", R"({"keep":"2","a":"old"})"},
      {"leaf values stay strings", "<s><n>5</n><b>true</b></s>", R"({"keep":1,"a":"old","s":{"n":"5","b":"true"}})"},
      {"last of repeated siblings", "<s><x>1</x><x>2</x><y>3</y><x>4</x></s>",
       R"({"keep":1,"a":"old","s":{"x":"4","y":"3"}})"},
      {"attributes dropped", "<s><c id=\"1\" v=\"2\"/><d id=\"3\">t</d></s>",
       R"({"keep":1,"a":"old","s":{"c":"","d":"t"}})"},
      {"root attributes dropped", "<s lang=\"fr\"><c>1</c></s>", R"({"keep":1,"a":"old","s":{"c":"1"}})"},
      {"text beside child elements dropped", "<s>before<c>1</c>after</s>", R"({"keep":1,"a":"old","s":{"c":"1"}})"},
      {"spaces kept", "<s><c>  two words \n</c></s>", R"({"keep":1,"a":"old","s":{"c":"  two words \n"}})"},
      {"references and cdata joined", "<s><c>a&amp;b&#233;<![CDATA[<x>]]></c></s>",
       R"({"keep":1,"a":"old","s":{"c":"a&bé<x>"}})"},
      {"comments and instructions skipped", "<s><!--c--><?pi d?><c>1<!--x-->2</c></s>",
       R"({"keep":1,"a":"old","s":{"c":"12"}})"},
      {"utf-8 text", "<s><c>café 東京</c></s>", R"({"keep":1,"a":"old","s":{"c":"café 東京"}})"},
      {"declared encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><s><c>caf\xe9</c></s>",
       R"({"keep":1,"a":"old","s":{"c":"café"}})"},
      {"deep nesting", "<s><a><b><c><d>z</d></c></b></a></s>",
       R"({"keep":1,"a":"old","s":{"a":{"b":{"c":{"d":"z"}}}}})"},
      {"prefixed names use the local name", "<s xmlns:p=\"urn:p\"><p:c>1</p:c></s>",
       R"({"keep":1,"a":"old","s":{"c":"1"}})"},
      {"own property, not the prototype", "<s><__proto__><x>1</x></__proto__></s>",
       R"({"keep":1,"a":"old","s":{"__proto__":{"x":"1"}}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(convert(c.xml), c.json) << c.what;
}

// The predefined entities and character references resolve, with or without a document type
// declaration; an external subset is never read, so what it declares stays unknown.
TEST_F(SemanticTest, PredefinedAndCharacterReferencesResolve) {
  tobrel_test::TempDir dir;
  const std::string dtd = dir.write("s.dtd", "<!ENTITY e \"from the subset\">");
  const struct {
    const char* what;
    std::string xml;
    const char* json;
  } cases[] = {
      {"predefined", "<s><c>&amp;&lt;&gt;&quot;&apos;</c></s>", R"({"keep":1,"a":"old","s":{"c":"&<>\"'"}})"},
      {"decimal and hexadecimal", "<s><c>&#233;&#xE9;&#x1F600;&#65;</c></s>",
       R"({"keep":1,"a":"old","s":{"c":"éé😀A"}})"},
      {"in a document type without entities", "<!DOCTYPE s [<!ELEMENT s ANY>]><s><c>&lt;&#65;</c></s>",
       R"({"keep":1,"a":"old","s":{"c":"<A"}})"},
      {"external subset not read", "<!DOCTYPE s SYSTEM \"file://" + dtd + "\"><s><c>&amp;&e;</c></s>",
       R"({"keep":1,"a":"old","s":{"c":"&"}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(convert(c.xml), c.json) << c.what;
}

// A document that declares any entity fails like a malformed one, whether it uses the entity or
// not: one entity referenced many times would grow a small text without bound.
TEST_F(SemanticTest, DocumentDeclaringEntitiesIsRefused) {
  std::string refs;
  for (int i = 0; i < 2000; ++i) refs += "&e;";
  const std::string bomb = "<!DOCTYPE s [<!ENTITY e \"" + std::string(1000, 'x') + "\">]><s><c>" + refs + "</c></s>";
  const struct {
    const char* what;
    std::string xml;
  } cases[] = {
      {"internal entity", "<!DOCTYPE s [<!ENTITY e \"word\">]><s><c>&e;</c></s>"},
      {"referenced thousands of times", bomb},
      {"declared, never used", "<!DOCTYPE s [<!ENTITY e \"word\">]><s><c>1</c></s>"},
      {"in an attribute", "<!DOCTYPE s [<!ENTITY e \"word\">]><s><c a=\"&e;\">1</c></s>"},
      {"parameter entity", "<!DOCTYPE s [<!ENTITY % p \"<!ENTITY e 'word'>\"> %p;]><s><c>&e;</c></s>"},
      {"external system entity", "<!DOCTYPE s [<!ENTITY e SYSTEM \"/etc/hostname\">]><s><c>&e;</c></s>"},
      {"external public entity",
       "<!DOCTYPE s [<!ENTITY e PUBLIC \"-//t//e\" \"http://127.0.0.1:9/e\">]><s><c>&e;</c></s>"},
      {"unparsed entity", "<!DOCTYPE s [<!NOTATION n SYSTEM \"n\"><!ENTITY e SYSTEM \"x\" NDATA n>]><s><c>1</c></s>"},
  };
  for (const auto& c : cases) {
    env.clearLogs();
    const std::string json = convert(c.xml);
    EXPECT_EQ(json.substr(0, 200), R"({"keep":1,"a":"old"})") << c.what;
    EXPECT_TRUE(env.loggedAt(G_LOG_LEVEL_MESSAGE, "ASR: parseSemantic: Failed to parse document")) << c.what;
    EXPECT_FALSE(env.logged("ASR: parseSemantic: succeed parse document")) << c.what;
    EXPECT_TRUE(env.loggedAt(G_LOG_LEVEL_DEBUG, "ASR: parseSemantic: a document that declares entities is refused"))
        << c.what;
  }
}

void countXmlError(void* count, xmlErrorPtr) { ++*static_cast<int*>(count); }

// libxml2's own account of a bad document is a DEBUG line of the app's log, under the
// threshold and masking of every line. Another handler of the process is put back after it.
TEST_F(SemanticTest, ParserMessagesGoToTheLog) {
  int others = 0;
  xmlSetStructuredErrorFunc(&others, countXmlError);
  convert("<s><c>1</d></s>");
  EXPECT_TRUE(env.loggedAt(G_LOG_LEVEL_DEBUG,
                           "ASR: parseSemantic: noname.xml:1: Opening and ending tag mismatch: c line 1 and d"))
      << ::testing::PrintToString(env.messages(G_LOG_LEVEL_DEBUG));
  EXPECT_EQ(others, 0);
  EXPECT_EQ(xmlStructuredError, countXmlError);
  EXPECT_EQ(xmlStructuredErrorContext, &others);
  xmlSetStructuredErrorFunc(nullptr, nullptr);
}

TEST_F(SemanticTest, MalformedTextLeavesTargetUnchanged) {
  for (const char* xml : {"", "not xml", "<s><c>1</c>", "<s></t>", "<s/><t/>", "<s a=1/>", "<?xml version=\"1.0\"?>"})
    EXPECT_EQ(convert(xml), R"({"keep":1,"a":"old"})") << xml;
}

// The walk's lines, one per element and one per level walked; nothing for other nodes.
TEST_F(SemanticTest, LogsTheWalk) {
  const struct {
    const char* xml;
    std::vector<std::string> lines;
  } cases[] = {
      {"<s><!--c--><c>Paris</c><w><d/></w></s>",
       {"ASR: parseSemantic: size:38", "ASR: parseSemantic: succeed parse document", "node type: print_element_names",
        "node type: Element, name: s\n", "node type: print_element_names", "node type: Element, name: c\n",
        "node type: Element, content: Paris\n", "node type: Element, name: w\n", "node type: print_element_names",
        "node type: Element, name: d\n", "node type: Element, content: \n"}},
      {"<s>", {"ASR: parseSemantic: size:3", "ASR: parseSemantic: Failed to parse document"}},
      {"", {"ASR: parseSemantic: size:0", "ASR: parseSemantic: Failed to parse document"}},
  };
  for (const auto& c : cases) {
    env.clearLogs();
    convert(c.xml);
    EXPECT_EQ(env.messages(G_LOG_LEVEL_MESSAGE), c.lines) << c.xml;
  }
}

TEST_F(SemanticTest, NoNodeDoesNothing) {
  env.run("var target = {keep: 1};");
  print_element_names(env.isolate(), nullptr, target());
  EXPECT_EQ(env.run("JSON.stringify(target)"), R"({"keep":1})");
}

}  // namespace
