// The button and RFID listeners in a real app child against the message-daemon stand-in:
// which listeners stay, what their functions receive, and what a throwing function does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_app.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::DeviceApp;
using tobrel_test::kConnectAndStart;

namespace {

// Every listener of the app logs "<name>:<what it received>"; `seen` is added last, so once it
// has logged an event every listener before it has had that event too.
const char* const kNamedListeners =
    "function named(name, result) {\n"
    "  return function (what) { log(name + ':' + (typeof what === 'string' ? what : what.id)); return result; };\n"
    "}\n";

}  // namespace

// A listener stays only while its function returns boolean true; a function that throws is
// reported and dropped, and the others go on.
TEST(Listeners, OnlyBooleanTrueKeepsAListener) {
  struct Case {
    const char* name;
    const char* result;  // what the function returns (script text)
    int calls;           // calls after three button events
  };
  const std::vector<Case> cases = {
      {"yes", "true", 3},       {"undefined", "undefined", 1}, {"false", "false", 1}, {"one", "1", 1},
      {"text", "'true'", 1},    {"object", "{}", 1},            {"boxed", "new Boolean(true)", 1},
  };
  std::string js = std::string(kNamedListeners);
  for (const Case& c : cases)
    js += std::string("tobrel.button.addListener(named('") + c.name + "', " + c.result + "));\n";
  js += "tobrel.button.addListener(function (t) { log('thrower:' + t); throw 'listener failed'; });\n"
        "tobrel.button.addListener(named('seen', true));\n";
  js += kConnectAndStart;
  DeviceApp device;
  ASSERT_TRUE(device.start(js, {"button"}));
  ASSERT_TRUE(device.waitGranted());
  for (const char* type : {"SIMPLE", "DOUBLE", "TRIPLE"})
    ASSERT_TRUE(device.control(std::string("button last ") + type));
  ASSERT_TRUE(device.waitLog("JSLOG: seen:TRIPLE"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(device.countLog(std::string("JSLOG: ") + c.name + ":"), c.calls);
    EXPECT_THAT(device.log(), HasSubstr(std::string("JSLOG: ") + c.name + ":SIMPLE\n"));
  }
  EXPECT_EQ(device.countLog("JSLOG: thrower:"), 1);
  EXPECT_THAT(device.log(), HasSubstr("WARNING: "));
  EXPECT_THAT(device.log(), HasSubstr("listener failed"));
  EXPECT_EQ(device.countLog("JSLOG: seen:"), 3);
}

TEST(Listeners, ButtonFunctionsHearThePressTypeAndOnlyButtonEvents) {
  DeviceApp device;
  ASSERT_TRUE(device.start(std::string(kNamedListeners) +
                               // removed by its first button event, whatever came before it
                               "tobrel.button.addListener(named('once', undefined));\n"
                               "var twice = named('twice', true);\n"
                               "tobrel.button.addListener(twice);\n"
                               "tobrel.button.addListener(named('between', true));\n"
                               "tobrel.button.addListener(twice);\n"
                               "tobrel.rfid.addListener(named('rfid', true));\n" +
                               "tobrel.connect('127.0.0.1', PORT);\n"
                               "tobrel.start(function () { log('granted'); tobrel.led.light('x'); });\n",
                           {"button", "rfid", "led"}));
  ASSERT_TRUE(device.waitGranted());
  // A command's reply and an RFID event carry no buttonCallback: they leave "once" in place.
  ASSERT_TRUE(device.waitSent("led.light", 1));
  ASSERT_TRUE(device.control("rfid last tag1"));
  ASSERT_TRUE(device.waitLog("JSLOG: rfid:tag1"));
  const std::vector<std::string> types = {"SIMPLE", "DOUBLE", "TRIPLE", "MULTIPLE", "LONG_START", "LONG_STOP"};
  for (const std::string& type : types) ASSERT_TRUE(device.control("button last " + type));
  ASSERT_TRUE(device.waitLog("JSLOG: between:LONG_STOP"));
  ASSERT_TRUE(device.waitLog("JSLOG: twice:LONG_STOP", 2));
  // "once" went with the first press; the function added twice is called twice per event, in
  // the order of the additions; no button event reached the RFID listener.
  std::vector<std::string> expected = {"granted", "rfid:tag1", "once:SIMPLE"};
  for (const std::string& type : types) {
    for (const char* name : {"twice:", "between:", "twice:"}) expected.push_back(name + type);
  }
  EXPECT_EQ(device.scriptLog(), expected);
}

TEST(Listeners, AddListenerTakesExactlyOneFunction) {
  const std::vector<std::string> calls = {
      "addListener()", "addListener(1)", "addListener('function () {}')", "addListener({})",
      "addListener(hear, hear)", "addListener(hear, 1)",
  };
  std::string js =
      "function hear(what) { log('heard ' + what); return true; }\n";
  for (const char* module : {"button", "rfid"}) {
    for (size_t i = 0; i < calls.size(); ++i) {
      js += std::string("try { tobrel.") + module + "." + calls[i] + "; log('" + module + " " + std::to_string(i) +
            " accepted'); } catch (e) { log('" + module + " " + std::to_string(i) + " ' + e); }\n";
    }
  }
  js += "tobrel.button.addListener(function (t) { log('last ' + t); return true; });\n";
  js += kConnectAndStart;
  DeviceApp device;
  ASSERT_TRUE(device.start(js, {"button", "rfid"}));
  ASSERT_TRUE(device.waitGranted());
  ASSERT_TRUE(device.control("rfid last t"));
  ASSERT_TRUE(device.control("button last SIMPLE"));
  ASSERT_TRUE(device.waitLog("JSLOG: last SIMPLE"));
  for (const char* module : {"button", "rfid"}) {
    for (size_t i = 0; i < calls.size(); ++i) {
      SCOPED_TRACE(std::string(module) + "." + calls[i]);
      EXPECT_THAT(device.log(),
                  HasSubstr(std::string("JSLOG: ") + module + " " + std::to_string(i) + " Wrong arguments\n"));
    }
  }
  EXPECT_THAT(device.log(), Not(HasSubstr("JSLOG: heard"))) << "no refused call added a listener";
  // Nothing was sent for the listeners: the daemon saw the START alone.
  EXPECT_EQ(device.msgd().received().size(), 1u);
}

// The tag object: only the fields that the event has, in a fixed order, built in a context of
// its own; text fields end at their first zero byte. The listener is added before the link is
// up and hears events once it is.
TEST(Listeners, RfidFunctionsGetOneObjectPerTag) {
  struct Case {
    std::string event;  // control line for the stand-in
    const char* json;   // JSON.stringify of what the function received
  };
  const std::vector<Case> cases = {
      {"send last rfidCallback { id: \"only\" }", R"({"id":"only"})"},
      {"send last rfidCallback { id: \"d0021a\" content: \"ab\\000cd\" direction: OUT app: 7 type: TREVOS"
       " pict: -3 color: BROWN }",
       R"({"id":"d0021a","direction":"OUT","app":7,"type":"TREVOS","pict":-3,"color":"BROWN","content":"ab"})"},
      {"send last rfidCallback { color: DARK_YELLOW type: NONE_TYPE id: \"x\\000y\" content: \"caf\\303\\251\" }",
       R"({"id":"x","type":"NONE_TYPE","color":"DARK_YELLOW","content":"caf\u00e9"})"},
      {"send last rfidCallback { id: \"e\" content: \"\" pict: 0 }", R"({"id":"e","pict":0,"content":""})"},
      {"rfid last 1234 IN LAMINA RED", R"({"id":"1234","direction":"IN","type":"LAMINA","color":"RED"})"},
  };
  DeviceApp device;
  ASSERT_TRUE(device.start("var n = 0;\n"
                           "tobrel.rfid.addListener(function (tag) {\n"
                           "  n++;\n"
                           // log() writes one byte per character: other characters go as \u escapes
                           "  var text = JSON.stringify(tag).replace(/[^\\x00-\\x7f]/g, function (c) {\n"
                           "    return '\\\\u' + ('000' + c.charCodeAt(0).toString(16)).slice(-4); });\n"
                           "  log('tag ' + n + ' ' + text + ' ' + (tag.constructor === Object));\n"
                           "  return true;\n"
                           "});\n" +
                               std::string(kConnectAndStart),
                           {"rfid"}));
  ASSERT_TRUE(device.waitGranted());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].event);
    ASSERT_TRUE(device.control(cases[i].event));
    ASSERT_TRUE(device.waitLog("JSLOG: tag " + std::to_string(i + 1) + " "));
    EXPECT_THAT(device.log(), HasSubstr("JSLOG: tag " + std::to_string(i + 1) + " " + cases[i].json + " false\n"));
  }
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE: RFID: RfidMsgCallback\nMESSAGE: RFID: RfidMsgCallback : d0021a\n"));
}

// One message with both events reaches both kinds of listener; an RFID function that throws
// is dropped while the app and the other listeners go on.
TEST(Listeners, ButtonAndRfidListenersShareTheMessagesAndAThrowingOneIsDropped) {
  DeviceApp device;
  ASSERT_TRUE(device.start(std::string(kNamedListeners) +
                               "tobrel.rfid.addListener(function (tag) {\n"
                               "  log('thrower:' + tag.id); throw new Error('bad tag'); });\n"
                               "tobrel.rfid.addListener(named('rfid', true));\n"
                               "tobrel.button.addListener(named('button', true));\n" +
                               kConnectAndStart,
                           {"button", "rfid"}));
  ASSERT_TRUE(device.waitGranted());
  ASSERT_TRUE(device.control("send last buttonCallback { type: DOUBLE } rfidCallback { id: \"both\" }"));
  ASSERT_TRUE(device.waitLog("JSLOG: button:DOUBLE"));
  ASSERT_TRUE(device.control("rfid last second"));
  ASSERT_TRUE(device.waitLog("JSLOG: rfid:second"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: rfid:both\n"));
  EXPECT_EQ(device.countLog("JSLOG: thrower:"), 1);
  EXPECT_THAT(device.log(), HasSubstr("WARNING: "));
  EXPECT_THAT(device.log(), HasSubstr("Error: bad tag"));
}
