// The speech recognition natives in a real app child against the message-daemon stand-in:
// which calls are refused or sent, the wait for the result behind plain responses, and the
// result object built from the first recognition.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_child.h"
#include "device_app.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;
using tobrel_test::expectOutcomes;
using tobrel_test::kConnect;
using tobrel_test::tryCalls;

namespace {

// A function that logs "<name> heard <result as JSON>".
std::string heard(const std::string& name) {
  return "function (r) { log('" + name + " heard ' + JSON.stringify(r)); }";
}

// Runs an app that asks for one recognition per entry of `answers`, answers request i with
// the message part `answers[i]` (text form) and waits until the last function has heard it.
void hearAnswers(DeviceApp& device, const std::vector<std::string>& answers) {
  std::string js = std::string(kConnect) + "tobrel.start(function () {\n";
  for (size_t i = 0; i < answers.size(); ++i)
    js += "  tobrel.asr.string('g', 'fr', " + heard(std::to_string(i)) + ");\n";
  js += "});\n";
  ASSERT_TRUE(device.start(js, {"asr"}));
  ASSERT_TRUE(device.waitSent("asr", answers.size()));
  const auto requests = device.sent("asr");
  for (size_t i = 0; i < answers.size(); ++i) ASSERT_TRUE(device.answer(requests[i], answers[i]));
  ASSERT_TRUE(device.waitLog(std::to_string(answers.size() - 1) + " heard "));
}

}  // namespace

// Before interactive mode only the shape is tested; file is never refused for that; after
// the grant the accepted calls reach the daemon with their texts as UTF-8.
TEST(Asr, CallsAreRefusedOrSent) {
  struct Case {
    const char* call;
    const char* before;  // outcome before interactive mode
    const char* after;   // outcome once granted
  };
  const std::vector<Case> cases = {
      {"string('g', 'fr')", "threw Wrong arguments", "threw Wrong arguments"},
      {"string('g', 'fr', 'no')", "threw Wrong arguments", "threw Wrong arguments"},
      {"string('g', 'fr', function () {}, 4)", "threw Wrong arguments", "threw Wrong arguments"},
      {"string('g', 'fr', HEARD)", "threw Must be in interactive mode", "returned undefined"},
      {"string(42, {toString: function () { return 'fr-FR'; }}, HEARD)", "threw Must be in interactive mode",
       "returned undefined"},
      {"string('\\u00e9t\\u00e9 \\u2603', 'fr', HEARD)", "threw Must be in interactive mode", "returned undefined"},
      {"string({toString: function () { throw 'boom'; }}, 'fr', HEARD)", "threw Must be in interactive mode",
       "threw boom"},
      {"file()", "threw Wrong arguments", "threw Wrong arguments"},
      {"file('a.abnf', 'no')", "threw Wrong arguments", "threw Wrong arguments"},
      {"file('a.abnf', HEARD, 3)", "threw Wrong arguments", "threw Wrong arguments"},
      {"file('grammars/a.abnf')", "returned undefined", "returned undefined"},
      {"file('a.abnf', HEARD)", "returned undefined", "returned undefined"},
      {"file('../secret.abnf')", "threw access denied: ../secret.abnf", "threw access denied: ../secret.abnf"},
      // log() writes one byte per character; the WARNING shows the UTF-8 path.
      {"file('caf\\u00e9')", "threw access denied: caf\xe9", "threw access denied: caf\xe9"},
  };
  std::vector<CallCase> before, after;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string call =
        "tobrel.asr." + tobrel_test::replaceAll(cases[i].call, "HEARD", heard("fn" + std::to_string(i)));
    before.push_back({call, cases[i].before});
    after.push_back({call, cases[i].after});
  }
  DeviceApp device;
  ASSERT_TRUE(device.control("reply asr silent"));
  ASSERT_TRUE(device.start(std::string(kConnect) + tryCalls(before, "before") + "tobrel.start(function () {\n" +
                               tryCalls(after, "after") + "log('done');\n});\n",
                           {"asr"}));
  ASSERT_TRUE(device.waitLog("JSLOG: done"));
  expectOutcomes(device, before, "before");
  expectOutcomes(device, after, "after");
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: ASR: grammar[g]\n"));
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: ASR: grammarFile[grammars/a.abnf]\n"));
  EXPECT_THAT(device.log(), HasSubstr("WARNING: access denied: ../secret.abnf\n"));
  EXPECT_THAT(device.log(), HasSubstr("WARNING: access denied: caf\xc3\xa9\n"));
  // file sends nothing and never calls its function.
  ASSERT_TRUE(device.waitSent("asr", 3));
  std::vector<std::string> frames;
  for (const auto& f : device.sent("asr")) frames.push_back(f.msg.asr().ShortDebugString());
  EXPECT_EQ(frames, (std::vector<std::string>{"dictionary: \"g\" lang: \"fr\"", "dictionary: \"42\" lang: \"fr-FR\"",
                                              "dictionary: \"\\303\\251t\\303\\251 \\342\\230\\203\" lang: \"fr\""}));
  EXPECT_EQ(device.sent("").size(), 4u) << "START and the three requests";
  EXPECT_THAT(device.log(), Not(HasSubstr(" heard ")));
}

// A request waits behind any number of messages without a result, whatever their response;
// the first result calls the function once, and a later one finds no handler.
TEST(Asr, WaitsForTheResultAndActsOnce) {
  const std::vector<std::string> firsts = {"response { code: OK }", "response { code: ERROR }",
                                           "response { code: BUSY }", "response { }", "pendingmessage: true"};
  std::string js = std::string(kConnect) + "tobrel.start(function () {\n";
  for (size_t i = 0; i < firsts.size(); ++i)
    js += "  tobrel.asr.string('g" + std::to_string(i) + "', 'fr', " + heard("r" + std::to_string(i)) + ");\n";
  js += "});\n";
  DeviceApp device;
  ASSERT_TRUE(device.control("reply asr silent"));
  ASSERT_TRUE(device.start(js, {"asr"}));
  ASSERT_TRUE(device.waitSent("asr", firsts.size()));
  const auto requests = device.sent("asr");
  for (size_t i = 0; i < firsts.size(); ++i) {
    ASSERT_TRUE(device.answer(requests[i], firsts[i]));
    ASSERT_TRUE(device.answer(requests[i], firsts[i]));
  }
  ASSERT_TRUE(device.waitLog("ASR: AsrCallback end", 2 * firsts.size()));
  EXPECT_THAT(device.log(), Not(HasSubstr(" heard ")));
  EXPECT_EQ(device.countLog("MESSAGE: ASR: AsrCallback: response : OK\n"), 2);
  EXPECT_EQ(device.countLog("MESSAGE: ASR: AsrCallback: response : ERROR\n"), 2);
  EXPECT_EQ(device.countLog("MESSAGE: ASR: AsrCallback: has_response false\n"), 2);
  for (size_t i = 0; i < firsts.size(); ++i) {
    const std::string text = "r" + std::to_string(i);
    ASSERT_TRUE(device.answer(requests[i], "asrCallback { recognition { text: \"" + text + "\" confident: 5 } }"));
    ASSERT_TRUE(device.answer(requests[i], "asrCallback { recognition { text: \"again\" confident: 6 } }"));
  }
  ASSERT_TRUE(device.waitLog("WARNING: NO CORRELATION FOUND", firsts.size()));
  for (size_t i = 0; i < firsts.size(); ++i) {
    const std::string name = "r" + std::to_string(i);
    EXPECT_EQ(device.countLog("JSLOG: " + name + " heard "), 1) << name;
    EXPECT_THAT(device.log(), HasSubstr("JSLOG: " + name + " heard {\"text\":\"" + name + "\",\"confident\":5}\n"));
  }
}

// The result object: the first recognition's semantic properties, then text and confident.
TEST(Asr, ResultObjectComesFromTheFirstRecognition) {
  struct Case {
    const char* result;  // the asrCallback part, text form
    const char* object;  // what the function hears, as JSON
  };
  const std::vector<Case> cases = {
      {R"(recognition { text: "go" confident: 80 semantic: "<result><city>Paris</city><when><day>today</day></when></result>" })",
       R"({"result":{"city":"Paris","when":{"day":"today"}},"text":"go","confident":80})"},
      {R"(recognition { text: "go" confident: 80 semantic: "<text><a>1</a></text>" })", R"({"text":"go","confident":80})"},
      {R"(recognition { text: "go" confident: 80 semantic: "<confident>9</confident>" })",
       R"({"confident":80,"text":"go"})"},
      {R"(recognition { text: "go" confident: -3 semantic: "<result><city>Par" })", R"({"text":"go","confident":-3})"},
      {R"(recognition { text: "go" confident: 1 semantic: "<__proto__>x</__proto__>" })",
       R"({"__proto__":"x","text":"go","confident":1})"},
      {R"(recognition { text: "caf\303\251" confident: 1 })", "{\"text\":\"caf\xe9\",\"confident\":1}"},  // log() writes one byte per character
      {R"(recognition { text: "no confidence" })", R"({"text":"no confidence","confident":0})"},
      {R"(recognition { confident: 7 })", R"({"text":"","confident":7})"},
      {R"(recognition { text: "first" confident: 1 } recognition { text: "second" confident: 2 semantic: "<s>x</s>" })",
       R"({"text":"first","confident":1})"},
      {"", R"({"text":"","confident":0})"},
  };
  std::vector<std::string> answers;
  for (const Case& c : cases) answers.push_back(std::string("asrCallback { ") + c.result + " }");
  DeviceApp device;
  hearAnswers(device, answers);
  if (HasFatalFailure()) return;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].result);
    EXPECT_THAT(device.log(), HasSubstr("JSLOG: " + std::to_string(i) + " heard " + cases[i].object + "\n"));
  }
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: ASR: AsrCallback: recognition_size = 0\n"));
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: ASR: AsrCallback: recognition(0).has_confident() false\n"));
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: ASR: AsrCallback: recognition(0).has_semantic() false\n"));
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: ASR: parseSemantic: Failed to parse document\n"));
}

// A peer's semantic text may not declare entities: a few kilobytes that reference one entity
// thousands of times would otherwise reach the script as megabytes. The predefined entities and
// character references still resolve.
TEST(Asr, SemanticDeclaringEntitiesIsRefused) {
  std::string refs;
  for (int i = 0; i < 2000; ++i) refs += "&e;";
  struct Case {
    std::string semantic;  // single quotes only: it stands inside a text-form string
    const char* object;
  };
  const std::vector<Case> cases = {
      {"<!DOCTYPE s [<!ENTITY e '" + std::string(1000, 'x') + "'>]><s><c>" + refs + "</c></s>",
       R"({"text":"go","confident":1})"},
      {"<!DOCTYPE s [<!ENTITY e SYSTEM '/etc/hostname'>]><s><c>&e;</c></s>", R"({"text":"go","confident":1})"},
      {"<s><c>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;</c></s>", R"({"s":{"c":"&<>\"'AB"},"text":"go","confident":1})"},
  };
  std::vector<std::string> answers;
  for (const Case& c : cases)
    answers.push_back("asrCallback { recognition { text: \"go\" confident: 1 semantic: \"" + c.semantic + "\" } }");
  DeviceApp device;
  hearAnswers(device, answers);
  if (HasFatalFailure()) return;
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_LOG(device.log(), "JSLOG: " + std::to_string(i) + " heard " + cases[i].object + "\n");
  }
  EXPECT_EQ(device.countLog("MESSAGE: ASR: parseSemantic: Failed to parse document\n"), 2);
}

// A peer's semantic text with one start tag of 100,000 attributes kept the app from reading any
// frame, STOP included, for twenty seconds: it is refused at once, and a STOP sent right behind
// it is read.
TEST(Asr, WideSemanticLeavesTheLinkRead) {
  std::string wide = "<s";
  for (int i = 0; i < 100000; ++i) wide += " a" + std::to_string(i) + "=''";
  wide += "><c>1</c></s>";
  DeviceApp device;
  ASSERT_TRUE(device.start(std::string(kConnect) + "tobrel.start(function () {\n  tobrel.asr.string('g', 'fr', " +
                               heard("wide") + ");\n});\n",
                           {"asr"}));
  ASSERT_TRUE(device.waitSent("asr", 1));
  ASSERT_TRUE(device.answer(device.sent("asr")[0],
                            "asrCallback { recognition { text: \"go\" confident: 1 semantic: \"" + wide + "\" } }"));
  ASSERT_TRUE(device.control("stop last"));
  EXPECT_TRUE(device.waitLog("WARNING: interactive mode stopped, autokill in 300000ms")) << device.log().substr(0, 2000);
  EXPECT_LOG(device.log(), "JSLOG: wide heard {\"text\":\"go\",\"confident\":1}\n");
  EXPECT_LOG(device.log(), "MESSAGE: ASR: parseSemantic: Failed to parse document\n");
}
