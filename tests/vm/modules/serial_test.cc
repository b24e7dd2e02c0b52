// The serial natives in a real app child against the message-daemon stand-in: open__'s baud
// rules, write__'s fields, and listener objects whose onMessage is looked up at every line,
// with the lines each delivery writes on standard output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_app.h"

using ::testing::HasSubstr;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;
using tobrel_test::kConnectAndStart;

namespace {

const char* const kDelivery = "call onMessage\ncast\narg0\ncall onMessage\n";

std::string opened(const std::string& port, int baud) {
  return "open { port: \"" + port + "\" baud: " + std::to_string(baud) + " }";
}

std::string written(const std::string& port, const std::string& data, const std::string& base) {
  return "write { port: \"" + port + "\" data: \"" + data + "\" base: \"" + base + "\" }";
}

}  // namespace

TEST(Serial, CallsAreRefusedOrSentWithTheirRequest) {
  const std::vector<CallCase> cases = {
      {"open__()", "threw Wrong arguments", ""},
      {"open__('ttyS0')", "returned undefined", opened("ttyS0", 9600)},
      {"open__('ttyS0', 115200)", "returned undefined", opened("ttyS0", 115200)},
      {"open__('p', 5.0)", "returned undefined", opened("p", 5)},
      {"open__('p', -2147483648)", "returned undefined", opened("p", -2147483648)},
      {"open__('p', 1.5)", "threw arg 2 is Integer baudrate", ""},
      {"open__('p', '9600')", "threw arg 2 is Integer baudrate", ""},
      {"open__('p', 2147483648)", "threw arg 2 is Integer baudrate", ""},
      {"open__('p', -0)", "threw arg 2 is Integer baudrate", ""},
      {"open__('p', undefined)", "threw arg 2 is Integer baudrate", ""},
      // with three arguments the second is not looked at
      {"open__('p', 'fast', 1)", "returned undefined", opened("p", 9600)},
      {"open__('p', 19200, 1)", "returned undefined", opened("p", 9600)},
      {"open__(7)", "returned undefined", opened("7", 9600)},
      // one byte per character: the low 8 bits of U+20AC
      {"open__('\\u20ac')", "returned undefined", opened("\\254", 9600)},
      {"open__({toString: function () { throw 'no port'; }})", "threw no port", ""},
      {"write__('ttyS0', 'hex', 'a1b2')", "returned undefined", written("ttyS0", "a1b2", "hex")},
      {"write__('p')", "returned undefined", written("p", "undefined", "undefined")},
      {"write__()", "returned undefined", written("undefined", "undefined", "undefined")},
      {"write__('p', 'b', '\\u20ac', 'extra')", "returned undefined", written("p", "\\254", "b")},
      {"write__('p', 'b', {toString: function () { throw 'no data'; }})", "threw no data", ""},
      {"write__('p', 'b', 'a\\u0000b')", "returned undefined", written("p", "a\\000b", "b")},
      {"write__(1, 2, 3)", "returned undefined", written("1", "3", "2")},
  };
  DeviceApp device;
  tobrel_test::expectCallTable(device, "serial", cases, {"serial"});
}

// Only open__'s own argument tests come before interactive mode; write__ tests nothing else
// and addListener__ nothing at all.
TEST(Serial, BeforeInteractiveModeNothingIsSent) {
  DeviceApp device;
  ASSERT_TRUE(device.start("var s = tobrel.serial;\n" + tobrel_test::tryCall("open none", "s.open__()") +
                               tobrel_test::tryCall("open fraction", "s.open__('p', 1.5)") +
                               tobrel_test::tryCall("open", "s.open__('p', 9600)") +
                               tobrel_test::tryCall("write", "s.write__()") +
                               tobrel_test::tryCall("listener", "s.addListener__(42)") + kConnectAndStart,
                           {"serial"}));
  ASSERT_TRUE(device.waitGranted());
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{
                                    "open none threw Wrong arguments",
                                    "open fraction threw arg 2 is Integer baudrate",
                                    "open threw Must be in interactive mode",
                                    "write threw Must be in interactive mode",
                                    "listener returned undefined",
                                    "granted",
                                }));
  EXPECT_EQ(device.app().out(), "dans c++\n");
  EXPECT_EQ(device.msgd().received().size(), 1u) << "the START alone";
}

// The object's onMessage is read afresh for each line and called with (object, port, data)
// and itself as the receiver; it keeps the object registered only by returning true.
TEST(Serial, ListenerObjectsHearEachLineThroughTheirCurrentOnMessage) {
  DeviceApp device;
  ASSERT_TRUE(device.start("var obj = {};\n"
                           "function first(o, port, data) {\n"
                           "  log('first ' + (o === obj) + ' ' + (this === first) + ' [' + port + '] [' + data + ']');\n"
                           "  obj.onMessage = second;\n"
                           "  return true;\n"
                           "}\n"
                           "function second(o, port, data) {\n"
                           "  log('second [' + port + '] [' + encodeURIComponent(data) + '] ' + arguments.length);\n"
                           "  return data !== 'last';\n"
                           "}\n"
                           "obj.onMessage = first;\n"
                           "tobrel.serial.addListener__(obj);\n"
                           // messages are handled in order: a press logged means every line before it is done
                           "tobrel.button.addListener(function (t) { log('button ' + t); return true; });\n" +
                               std::string(kConnectAndStart),
                           {"serial", "button"}));
  ASSERT_TRUE(device.waitGranted());
  ASSERT_TRUE(device.control("serial last ttyS0 hello  world"));
  ASSERT_TRUE(device.waitLog("JSLOG: first "));
  // Neither another event nor a reply is a line: nothing is called and nothing is written.
  ASSERT_TRUE(device.control("button last SIMPLE"));
  ASSERT_TRUE(device.control("send last serialCallback { readline { port: \"u\" data: \"caf\\303\\251\" } }"));
  ASSERT_TRUE(device.control("send last serialCallback { }"));
  ASSERT_TRUE(device.control("serial last ttyS1 last"));
  ASSERT_TRUE(device.control("serial last ttyS1 unheard"));
  ASSERT_TRUE(device.control("send last serialCallback { readline { port: \"v\" data: \"after\" } }"));
  ASSERT_TRUE(device.control("button last DOUBLE"));
  ASSERT_TRUE(device.waitLog("JSLOG: button DOUBLE"));
  EXPECT_EQ(device.scriptLog(), (std::vector<std::string>{
                                    "granted",
                                    "first true true [ttyS0] [hello  world]",
                                    "button SIMPLE",
                                    "second [u] [caf%C3%A9] 3",
                                    "second [] [] 3",
                                    "second [ttyS1] [last] 3",
                                    "button DOUBLE",
                                }));
  // The removal is seen on standard output: the later lines deliver nothing.
  std::string out = "dans c++\n";
  for (int i = 0; i < 4; ++i) out += kDelivery;
  ASSERT_TRUE(device.app().waitFor(tobrel_test::Stream::kOut, out, 10000)) << device.app().out();
  EXPECT_EQ(device.app().out(), out);
}

// A listener that cannot be called (not an object, no function under onMessage, a throwing
// getter) or whose onMessage throws is removed at its first line; the others and the app go on.
TEST(Serial, ListenersThatCannotBeCalledOrThrowAreRemoved) {
  DeviceApp device;
  ASSERT_TRUE(device.start("var s = tobrel.serial;\n"
                           "s.addListener__(5);\n"
                           "s.addListener__({});\n"
                           "s.addListener__({onMessage: function () { log('thrower'); throw 'bad line'; }});\n"
                           "s.addListener__({get onMessage() { log('getter'); throw 'no handler'; }});\n"
                           "s.addListener__();\n"
                           "s.addListener__({onMessage: function (o, port, data) { log('good ' + data); return true; }});\n" +
                               std::string(kConnectAndStart),
                           {"serial"}));
  ASSERT_TRUE(device.waitGranted());
  ASSERT_TRUE(device.control("serial last p one"));
  ASSERT_TRUE(device.waitLog("JSLOG: good one"));
  ASSERT_TRUE(device.control("serial last p two"));
  ASSERT_TRUE(device.waitLog("JSLOG: good two"));
  EXPECT_EQ(device.scriptLog(),
            (std::vector<std::string>{"granted", "thrower", "getter", "good one", "good two"}));
  EXPECT_THAT(device.log(), HasSubstr("bad line"));
  EXPECT_THAT(device.log(), HasSubstr("no handler"));
  std::string out;
  for (int i = 0; i < 6; ++i) out += "dans c++\n";
  // First line: each listener in order goes as far as it can; the second reaches only the last.
  out += "call onMessage\ncast\n";                  // 5
  out += "call onMessage\ncast\narg0\n";            // {}: onMessage undefined
  out += kDelivery;                                 // the thrower is called
  out += "call onMessage\ncast\narg0\n";            // the getter throws
  out += "call onMessage\ncast\n";                  // undefined
  out += std::string(kDelivery) + kDelivery;        // the good one, both lines
  ASSERT_TRUE(device.app().waitFor(tobrel_test::Stream::kOut, out, 10000)) << device.app().out();
  EXPECT_EQ(device.app().out(), out);
}

// A line reaches the script whole: zero bytes stay in the port and the data (as write__ sends
// them), and the bytes are read as UTF-8.
TEST(Serial, LinesKeepEveryByteUpToTheirEnd) {
  struct Case {
    const char* readline;  // the peer's readline, in text form
    const char* heard;     // port and data as the listener logs them
  };
  const std::vector<Case> cases = {
      {R"(port: "ttyS0" data: "a\000b")", "[ttyS0] [a%00b] 3"},
      {R"(port: "tty\000S1" data: "\000")", "[tty%00S1] [%00] 1"},
      {R"(port: "p" data: "end\000\000")", "[p] [end%00%00] 5"},
      {R"(port: "p" data: "caf\303\251\000\303\251")", "[p] [caf%C3%A9%00%C3%A9] 6"},
      {R"(port: "p" data: "\377a")", "[p] [%EF%BF%BDa] 2"},
  };
  DeviceApp device;
  ASSERT_TRUE(device.start("tobrel.serial.addListener__({onMessage: function (o, port, data) {\n"
                           "  log('[' + encodeURIComponent(port) + '] [' + encodeURIComponent(data) + '] ' +"
                           " data.length);\n"
                           "  return true;\n"
                           "}});\n" +
                               std::string(kConnectAndStart),
                           {"serial"}));
  ASSERT_TRUE(device.waitGranted());
  std::vector<std::string> expected = {"granted"};
  for (const Case& c : cases) {
    ASSERT_TRUE(device.control(std::string("send last serialCallback { readline { ") + c.readline + " } }"));
    expected.push_back(c.heard);
  }
  // Lines are handled in order: once the last is heard, all are.
  ASSERT_TRUE(device.waitLog(std::string("JSLOG: ") + cases.back().heard));
  EXPECT_EQ(device.scriptLog(), expected);
}
