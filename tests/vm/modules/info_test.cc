// tobrel.info in a real app child against the message-daemon stand-in: on every app, its log
// line between the shape and the interactive test, the wait for the information, one call,
// and an object of plain string properties whatever the keys.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_app.h"

using ::testing::HasSubstr;
using tobrel_test::DeviceApp;
using tobrel_test::kConnect;
using tobrel_test::tryCall;

namespace {

std::string heard(const std::string& name) {
  return "function (i) { log('" + name + " heard ' + JSON.stringify(i) + ' ' + Object.keys(i).map(function (k) {"
         " return typeof i[k]; }).join()); }";
}

}  // namespace

TEST(Info, LogsBetweenTheShapeAndTheInteractiveTest) {
  DeviceApp device;
  // No access word: every app has it.
  ASSERT_TRUE(device.start(std::string(kConnect) + tryCall("none", "tobrel.info()") +
                               tryCall("text", "tobrel.info('x')") +
                               tryCall("two", "tobrel.info(function () {}, 1)") +
                               "log('shaped');\n" + tryCall("early", "tobrel.info(function () {})") +
                               "log('keys ' + Object.keys(tobrel).join());\n"
                               "tobrel.start(function () { log('granted'); });\n",
                           {}));
  ASSERT_TRUE(device.waitGranted());
  for (const char* tag : {"none", "text", "two"})
    EXPECT_THAT(device.log(), HasSubstr(std::string("JSLOG: ") + tag + " threw Wrong arguments\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: shaped\nMESSAGE: ConfigTobrelGet\n"
                                      "MESSAGE: JSLOG: early threw Must be in interactive mode\n"));
  EXPECT_EQ(device.countLog("ConfigTobrelGet"), 1);
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: keys ping,connect,start,stop,info,random\n"));
  EXPECT_EQ(device.sent("").size(), 1u) << "only the START";
}

// Messages without the information leave the request waiting; the first with it calls the
// function once with one string property per pair, a later key winning.
TEST(Info, WaitsForTheInformationAndActsOnce) {
  struct Case {
    std::vector<std::string> answers;  // sent in order, each in NuskMsg text form
    const char* heard;                 // JSON, then the type of each property
  };
  const std::vector<Case> cases = {
      {{"response { code: OK }", "response { code: ERROR }",
        R"(tobrelinfo_response { infos { key: "serial" value: "0042" } infos { key: "n" value: "1" } )"
        R"(infos { key: "__proto__" value: "x" } infos { key: "serial" value: "0043" } )"
        R"(infos { key: "toString" value: "t" } })",
        R"(tobrelinfo_response { infos { key: "again" value: "1" } })"},
       R"({"serial":"0043","n":"1","__proto__":"x","toString":"t"} string,string,string,string)"},
      {{"tobrelinfo_response { }"}, "{} "},
      {{"pendingmessage: true", R"(response { code: OK } tobrelinfo_response { infos { key: "k" } })"},
       R"({"k":""} string)"},
  };
  std::string js = std::string(kConnect) + "tobrel.start(function () {\n";
  for (size_t i = 0; i < cases.size(); ++i) js += "  tobrel.info(" + heard(std::to_string(i)) + ");\n";
  js += "});\n";
  DeviceApp device;
  ASSERT_TRUE(device.control("reply tobrelinfo_query silent"));
  ASSERT_TRUE(device.start(js, {}));
  ASSERT_TRUE(device.waitSent("tobrelinfo_query", cases.size()));
  const auto requests = device.sent("tobrelinfo_query");
  for (size_t i = 0; i < cases.size(); ++i)
    for (const std::string& answer : cases[i].answers) ASSERT_TRUE(device.answer(requests[i], answer));
  ASSERT_TRUE(device.waitLog("WARNING: NO CORRELATION FOUND"));
  ASSERT_TRUE(device.waitLog("JSLOG: 2 heard"));
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(device.countLog("JSLOG: " + std::to_string(i) + " heard "), 1);
    EXPECT_THAT(device.log(), HasSubstr("JSLOG: " + std::to_string(i) + " heard " + cases[i].heard + "\n"));
  }
  EXPECT_EQ(device.countLog("MESSAGE: InfoTobrelCallbackFunction: has_tobrelinfo_response false\n"), 3);
  EXPECT_THAT(device.log(), HasSubstr("DEBUG: InfoTobrelCallbackFunction has_tobrelinfo size : 5\n"));
  EXPECT_EQ(device.countLog("WARNING: NO CORRELATION FOUND"), 1);
}
