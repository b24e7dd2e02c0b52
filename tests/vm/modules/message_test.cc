// The message and contact natives in a real app child against the message-daemon stand-in:
// refused and sent calls (message.new's own check order and its printed text form), the ids
// taken from an id set, and the one-shot handlers with the objects they build.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_app.h"
#include "temp_dir.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::DeviceApp;
using tobrel_test::kConnect;
using tobrel_test::CallCase;
using tobrel_test::expectOutcomes;
using tobrel_test::tryCalls;

namespace {

const char* const kHeard = "function () { log('heard'); }";

// The cases' calls after "tobrel.", FN standing for a function that logs "heard".
std::vector<CallCase> onTobrel(std::vector<CallCase> cases) {
  for (CallCase& c : cases)
    for (size_t at = c.call.find("FN"); at != std::string::npos; at = c.call.find("FN", at))
      c.call.replace(at, 2, kHeard);
  return tobrel_test::prefixed("tobrel.", cases);
}

}  // namespace

// The shape is tested before interactive mode, but message.new tests its argument types only
// after it; get, delete and markAsRead warn before they throw.
TEST(Message, ShapeComesBeforeInteractiveMode) {
  const std::vector<CallCase> cases = onTobrel({
      {"message.list()", "threw Wrong arguments"},
      {"message.list(1)", "threw Wrong arguments"},
      {"message.list(FN, FN)", "threw Wrong arguments"},
      {"message.list(FN)", "threw Must be in interactive mode"},
      {"message.get(['a'])", "threw Wrong arguments"},
      {"message.get('a', FN)", "threw Wrong arguments"},
      {"message.delete(['a'], FN, 3)", "threw Wrong arguments"},
      {"message.markAsRead(null, FN)", "threw Wrong arguments"},
      {"message.get(['a'], FN)", "threw Must be in interactive mode"},
      {"message.delete({}, FN)", "threw Must be in interactive mode"},
      {"message.markAsRead([], FN)", "threw Must be in interactive mode"},
      {"message.new('a')", "threw Wrong arguments"},
      {"message.new('a', 'b', 'c')", "threw Wrong arguments"},
      {"message.new(5, 6)", "threw Must be in interactive mode"},
      {"message.new(5, 6, FN)", "threw Must be in interactive mode"},
      {"message.new(5, 6, 'c', 'd')", "threw Must be in interactive mode"},
      {"contact.get()", "threw Wrong arguments"},
      {"contact.get(FN, 1)", "threw Wrong arguments"},
      {"contact.get({})", "threw Wrong arguments"},
      {"contact.get(FN)", "threw Must be in interactive mode"},
  });
  DeviceApp device;
  ASSERT_TRUE(device.start(std::string(kConnect) + tryCalls(cases, "before") +
                               "tobrel.start(function () { log('granted'); });\n",
                           {"message", "contact"}));
  ASSERT_TRUE(device.waitGranted());
  expectOutcomes(device, cases, "before");
  EXPECT_EQ(device.countLog("WARNING: Wrong arguments\n"), 4);
  EXPECT_EQ(device.sent("").size(), 1u) << "only the START";
}

// What message.new sends (and prints), and the ids of get, delete and markAsRead.
TEST(Message, RequestsCarryTheirArgumentsAsOneBytePerCharacterText) {
  // `sent`: the frame's tobrelMessageQuery in text form.
  const std::vector<CallCase> cases = onTobrel({
      {"message.new({uuid: 'u1', objects: ['7', 8]}, 'hi', FN)", "returned undefined",
       R"(action: NEW message { header { to { objects { idDB: "7" } objects { idDB: "8" } uuid: "u1" } } content { type: TEXT content: "hi" } })"},
      {"message.new({objects: []}, 'x')", "returned undefined",
       R"(action: NEW message { header { to { uuid: "undefined" } } content { type: TEXT content: "x" } })"},
      {"message.new({uuid: 'u', objects: []}, 'x', 'third', 'fourth')", "returned undefined",
       R"(action: NEW message { header { to { uuid: "u" } } content { type: TEXT content: "x" } })"},
      {"message.new({uuid: '\\u00e9', objects: ['\\u20ac']}, '\\u00fc')", "returned undefined",
       R"(action: NEW message { header { to { objects { idDB: "\254" } uuid: "\351" } } content { type: TEXT content: "\374" } })"},
      {"message.new(5, 'x')", "threw Arg[0] Must be object", ""},
      {"message.new({get uuid() { log('uuid read'); return 'u'; }, objects: []}, 5)", "threw Arg[0] Must be string",
       ""},
      {"message.new({uuid: 'u'}, 'x')", "threw Wrong arguments", ""},
      {"message.new({uuid: 'u', objects: '78'}, 'x')", "threw Wrong arguments", ""},
      {"message.new({uuid: 'u', objects: {length: 1, 0: 'a'}}, 'x')", "threw Wrong arguments", ""},
      {"message.new({uuid: {toString: function () { throw 'boom'; }}, objects: []}, 'x')", "threw boom", ""},
      {"message.new({uuid: 'u', objects: [{toString: function () { throw 'late'; }}]}, 'x')", "threw late", ""},
      {"message.get(['m2', 'm1'], FN)", "returned undefined", R"(action: GET id: "m2" id: "m1")"},
      {"message.get(inherits, FN)", "returned undefined", R"(action: GET id: "o1" id: "p1")"},
      {"message.delete({}, FN)", "returned undefined", "action: DELETE"},
      {"message.markAsRead({a: 5, b: true}, FN)", "returned undefined", R"(action: READ id: "5" id: "true")"},
      {"message.get({a: {toString: function () { throw 'bad id'; }}}, FN)", "threw bad id", ""},
      {"message.list(FN)", "returned undefined", "action: LIST"},
  });
  DeviceApp device;
  ASSERT_TRUE(device.control("reply * silent"));
  ASSERT_TRUE(device.start(std::string(kConnect) +
                               "var inherits = Object.create({p: 'p1'});\ninherits.o = 'o1';\n"
                               "tobrel.start(function () {\n" +
                               tryCalls(cases, "after") + "log('done');\n});\n",
                           {"message"}));
  ASSERT_TRUE(device.waitLog("JSLOG: done"));
  expectOutcomes(device, cases, "after");
  // The recipient was read before the text was found not to be a string.
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: uuid read\nMESSAGE: JSLOG: after 5 threw Arg[0] Must be string\n"));
  const std::vector<std::string> expected = tobrel_test::expectedBodies(cases);
  ASSERT_TRUE(device.waitSent("tobrelMessageQuery", expected.size()));
  std::vector<std::string> got;
  std::string printed;
  for (const auto& f : device.sent("tobrelMessageQuery")) {
    got.push_back(f.msg.tobrelmessagequery().ShortDebugString());
    if (f.kind == "tobrelMessageQuery.NEW") printed += f.msg.DebugString();
  }
  EXPECT_EQ(got, expected);
  // message.new prints each request's text form on standard output, nothing else.
  ASSERT_TRUE(device.app().waitUntil([&]() { return device.app().out().size() >= printed.size(); }, 5000));
  EXPECT_EQ(device.app().out(), printed);
  EXPECT_THAT(device.log(), Not(HasSubstr("JSLOG: heard")));
}

// The list handler waits behind replies without a list (or with an empty one), acts on the
// first list once, and builds {header, content} entries in the schema's order of meaning.
TEST(Message, ListsComeFromTheStandInsStore) {
  tobrel_test::TempDir dir;
  const std::string data = dir.write("data.txt", R"(
tobrelMessageResponse {
  tobrelMessageList {
    header { id: "m1" date: 1700000000 status: UNREAD
             from { uuid: "c1" objects { idDB: "7" name: "home" } objects { idDB: "8" } firstname: "Ana" } }
    content { type: TEXT content: "hi" }
  }
  tobrelMessageList {
    header { id: "m2" status: READ to { uuid: "me" } }
    content { type: SOUND header: "h" content: "snd" }
  }
  tobrelMessageList { content { type: XML content: "<x/>" } }
  tobrelMessageList { header { id: "m4" } }
}
)");
  DeviceApp device({"--data", data});
  // Each list comes after a plain response, and once more after that.
  ASSERT_TRUE(device.control("later tobrelMessageQuery.LIST data"));
  ASSERT_TRUE(device.control("later tobrelMessageQuery.LIST data"));
  ASSERT_TRUE(device.start(std::string(kConnect) +
                               "function ids(list) {\n"
                               "  return list.map(function (m) { return m.header.id + ':' + m.header.status; }).join();\n"
                               "}\n"
                               "tobrel.start(function () {\n"
                               "  tobrel.message.list(function (l) {\n"
                               "    log('list ' + JSON.stringify(l));\n"
                               "    tobrel.message.markAsRead(['m1'], function (r) {\n"
                               "      log('read ' + ids(r));\n"
                               "      tobrel.message.delete(['m4', 'nope'], function (d) {\n"
                               "        log('deleted ' + ids(d));\n"
                               "        tobrel.message.list(function (l2) {\n"
                               "          log('after ' + ids(l2));\n"
                               "          tobrel.message.get(['nope'], function (g) { log('late ' + ids(g)); });\n"
                               "        });\n"
                               "      });\n"
                               "    });\n"
                               "  });\n"
                               "});\n",
                           {"message"}));
  ASSERT_TRUE(device.waitLog("JSLOG: after"));
  EXPECT_THAT(device.log(),
              HasSubstr("JSLOG: list "
                        R"([{"header":{"id":"m1","date":1700000000,"status":0,)"
                        R"("from":{"firstname":"Ana","uuid":"c1","objects":[{"id":"7","name":"home"},{"id":"8"}]}},)"
                        R"("content":{"type":"TEXT","content":"hi"}},)"
                        R"({"header":{"id":"m2","date":0,"status":1,"to":{"uuid":"me","objects":[]}},)"
                        R"("content":{"type":"SOUND","content":"snd","header":"h"}},)"
                        R"({"header":{},"content":{"type":"XML","content":"<x/>"}},)"
                        R"({"header":{"id":"m4","date":0,"status":0},"content":{}}])"
                        "\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: read m1:1\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: deleted m4:0\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: after m1:1,m2:1,undefined:undefined\n"));
  // The GET of an unknown id is answered with an empty list: it keeps waiting.
  ASSERT_TRUE(device.waitSent("tobrelMessageQuery.GET", 1));
  ASSERT_TRUE(device.waitLog("has_tobrelmessageresponse false or list empty. abort", 3));
  ASSERT_TRUE(device.answer(device.sent("tobrelMessageQuery.GET")[0],
                            R"(tobrelMessageResponse { tobrelMessageList { header { id: "m9" to { } } } })"));
  ASSERT_TRUE(device.waitLog("JSLOG: late m9:0"));
  EXPECT_EQ(device.countLog("WARNING: MessageCallbackFunction : has_tobrelmessageresponse false or list empty. abort\n"),
            3);
  // The second list of each LIST request found nothing to call.
  EXPECT_EQ(device.countLog("WARNING: NO CORRELATION FOUND\n"), 2);
  for (const char* name : {"list", "read", "deleted", "after"})
    EXPECT_EQ(device.countLog(std::string("JSLOG: ") + name + " "), 1) << name;
}

// contact.get acts on the first message naming it, whatever it holds: a plain response gives
// an empty array, and the list after it finds no handler.
TEST(Contact, TheFirstMessageIsTheAnswer) {
  DeviceApp device;
  ASSERT_TRUE(device.control("later getcontactList contactList { contacts { firstname: \"late\" } }"));
  ASSERT_TRUE(device.start(std::string(kConnect) +
                               "tobrel.start(function () {\n"
                               "  tobrel.contact.get(function (c) { log('contacts ' + JSON.stringify(c)); });\n"
                               "});\n",
                           {"contact"}));
  ASSERT_TRUE(device.waitLog("WARNING: NO CORRELATION FOUND"));
  EXPECT_EQ(device.countLog("JSLOG: contacts "), 1);
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: contacts []\n"));
}

TEST(Contact, ObjectsKeepTheirOrderAndOnlyThePartsThatAreSet) {
  tobrel_test::TempDir dir;
  const std::string data = dir.write("data.txt", R"(
contactList {
  contacts { uuid: "c1" alias: "Nan" objects { idDB: "7" name: "home" } objects { idDB: "8" }
             lastname: "Lopez" firstname: "Ana" }
  contacts { }
  contacts { alias: "Bo" objects { name: "no id" } }
}
)");
  DeviceApp device({"--data", data});
  ASSERT_TRUE(device.start(std::string(kConnect) +
                               "tobrel.start(function () {\n"
                               "  tobrel.contact.get(function (c) { log('contacts ' + JSON.stringify(c)); });\n"
                               "});\n",
                           {"contact"}));
  ASSERT_TRUE(device.waitLog("JSLOG: contacts "));
  EXPECT_THAT(device.log(),
              HasSubstr("JSLOG: contacts "
                        R"([{"firstname":"Ana","lastname":"Lopez","alias":"Nan","uuid":"c1",)"
                        R"("objects":[{"id":"7","name":"home"},{"id":"8"}]},)"
                        R"({"objects":[]},)"
                        R"({"alias":"Bo","objects":[{"id":"","name":"no id"}]}])"
                        "\n"));
}
