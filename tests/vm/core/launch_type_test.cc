// The `launchType` object: field split, the RFID / ASR / plain forms and the `semantic` accessor.
#include "launch_type.h"

#include <gtest/gtest.h>

#include "script_env.h"

namespace {

class LaunchTypeTest : public ::testing::Test {
 protected:
  // Makes `launchType` on the global object from the given text.
  void make(const std::string& text) {
    v8::Local<v8::ObjectTemplate> t = v8::ObjectTemplate::New(env.isolate());
    createLaunchTypeTemplate(env.isolate(), t, text);
    env.setGlobal("launchType", t->NewInstance(env.context()).ToLocalChecked());
  }
  tobrel_test::ScriptEnv env;
};

TEST(SplitLaunchType, SplitsAtEverySemicolon) {
  using V = std::vector<std::string>;
  const struct {
    const char* text;
    V fields;
  } cases[] = {
      {"", V{}},
      {"ASR", V{"ASR"}},
      {"a;b", V{"a", "b"}},
      {"a;;b", V{"a", "", "b"}},
      {"a;b;", V{"a", "b"}},
      {";", V{""}},
      {";a", V{"", "a"}},
      {"a;;", V{"a", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitLaunchType(c.text), c.fields) << c.text;
}

TEST_F(LaunchTypeTest, BuildsObjectByLaunchForm) {
  const struct {
    const char* text;
    const char* json;  // JSON.stringify(launchType): own enumerable properties in order
  } cases[] = {
      {"RFID;d0021a;app7;TAG;p;red;xyz",
       R"({"name":"RFID","id":"d0021a","app":"app7","type":"TAG","pict":"p","color":"red","data":"xyz"})"},
      {"RFID", R"({"name":"RFID","id":"","app":"","type":"","pict":"","color":"","data":""})"},
      {"RFID;1;;3", R"({"name":"RFID","id":"1","app":"","type":"3","pict":"","color":"","data":""})"},
      {"RFIDX;a;b;c;d;e;f;g;h", R"({"name":"RFID","id":"a","app":"b","type":"c","pict":"d","color":"e","data":"f"})"},
      {"rfid;1", R"({"name":"rfid;1"})"},
      {"RFI;1", R"({"name":"RFI;1"})"},
      {"", R"({"name":""})"},
      {"boot", R"({"name":"boot"})"},
      {"ASR;hello;x",
       R"({"name":"ASR","text":"hello","semantic":"x","rawSemantic":"<semantic>x</semantic>","confident":50})"},
      {"ASR", R"({"name":"ASR","text":"","semantic":"","rawSemantic":"<semantic></semantic>","confident":50})"},
      {"ASRX;t;<c>Paris</c>;ignored",
       R"({"name":"ASR","text":"t","semantic":{"c":"Paris"},"rawSemantic":"<semantic><c>Paris</c></semantic>","confident":50})"},
      {"ASR;t;<c>a</c<d>", R"({"name":"ASR","text":"t","rawSemantic":"<semantic><c>a</c<d></semantic>","confident":50})"},
      {"AS;1", R"({"name":"AS;1"})"},
      {"ASR;caf\xc3\xa9", R"({"name":"ASR","text":"café","semantic":"","rawSemantic":"<semantic></semantic>","confident":50})"},
  };
  for (const auto& c : cases) {
    make(c.text);
    EXPECT_EQ(env.run("JSON.stringify(launchType)"), c.json) << c.text;
  }
}

TEST_F(LaunchTypeTest, AsrValueTypes) {
  make("ASR;hi;<n>5</n>");
  EXPECT_EQ(env.run("[typeof launchType.confident, typeof launchType.semantic.n, Object.keys(launchType).join()].join()"),
            "number,string,name,text,semantic,rawSemantic,confident");
}

TEST_F(LaunchTypeTest, SemanticIsParsedAgainAtEveryRead) {
  make("ASR;hi;<city>Paris</city>");
  const struct {
    const char* script;
    const char* result;
  } steps[] = {
      {"launchType.semantic.city", "Paris"},
      {"launchType.semantic === launchType.semantic", "false"},
      {"launchType.semantic.city = 'Rome'; launchType.semantic.city", "Paris"},
      {"launchType.semantic = 'ignored'; launchType.semantic.city", "Paris"},
      {"launchType.rawSemantic = '<semantic><city>Oslo</city><n>2</n></semantic>'; "
       "JSON.stringify(launchType.semantic)", R"({"city":"Oslo","n":"2"})"},
      {"launchType.rawSemantic = '<other>1</other>'; typeof launchType.semantic", "undefined"},
      {"launchType.rawSemantic = 'broken <'; typeof launchType.semantic", "undefined"},
      {"launchType.rawSemantic = {toString: function () { return '<semantic>obj</semantic>'; }}; launchType.semantic",
       "obj"},
      {"launchType.rawSemantic = {toString: function () { throw 'no text'; }}; launchType.semantic", "threw: no text"},
      {"delete launchType.rawSemantic; typeof launchType.semantic", "undefined"},
      {"var get = Object.getOwnPropertyDescriptor(launchType, 'semantic').get;"
       "get.call({rawSemantic: '<semantic>o</semantic>'})", "o"},
      {"[typeof get(), typeof get.call(1), typeof get.call(this)].join()", "undefined,undefined,undefined"},
  };
  for (const auto& s : steps) EXPECT_EQ(env.run(s.script), s.result) << s.script;
}

}  // namespace
