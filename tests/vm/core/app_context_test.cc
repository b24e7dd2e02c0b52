// What an app child's context gets from its folder and its launch request: the access list
// gate, `launchType` and `params`, run as real app children over fixture app folders.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <syslog.h>

#include <map>
#include <string>

#include "app_child.h"
#include "modules.h"
#include "nusk-message.pb.h"
#include "syslog_capture.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::RunResult;
using tobrel_test::TempDir;

namespace {

using net::zolvek::nusk::message::ConfigApp;
using net::zolvek::nusk::message::ConfigInstance;

tobrel_test::AppChildOptions fast() {
  tobrel_test::AppChildOptions options;
  options.run.env.push_back(tobrel_test::kFastTimers);
  return options;
}

RunResult runApp(const std::string& mainJs, const std::map<std::string, std::string>& files,
                 const std::string& request = "app PLAIN inst") {
  TempDir apps;
  tobrel_test::writeApp(apps, "app", mainJs, files);
  return tobrel_test::runAppChild(apps.path(), request, fast());
}

// The JSLOG line that main.js wrote for `expr`, then exit().
std::string logged(const RunResult& r) {
  const std::string mark = "MESSAGE: JSLOG: ";
  const size_t at = r.err.find(mark);
  if (at == std::string::npos) return "<no log line>";
  const size_t end = r.err.find('\n', at);
  return r.err.substr(at + mark.size(), end - at - mark.size());
}

std::string logAndExit(const std::string& expr) { return "log(" + expr + ");\nexit();\n"; }

// Every module object of the binding table, on `tobrel` or on the global object.
const char* const kProbeModules =
    "['led','ears','tts','webcam','asr','multimedia','button','rfid','t2t','message','contact','serial','dock']"
    ".filter(function (n) { return n in tobrel; }).concat('http' in this ? ['http'] : []).join() || 'none'";

TEST(AppAccessList, GrantsNoModuleWithoutAnExactWordUnderTheExpectedPath) {
  const struct {
    const char* what;
    const char* xml;
  } cases[] = {
      {"no access element", "<descriptor><accesses/></descriptor>"},
      {"unknown word", "<descriptor><accesses><access>camera</access></accesses></descriptor>"},
      {"case and spaces", "<descriptor><accesses><access>LED</access><access> ears</access>"
                          "<access>http </access></accesses></descriptor>"},
      {"elements without text", "<descriptor><accesses><access/><access><x>led</x></access>"
                                "<access><!--c-->http</access></accesses></descriptor>"},
      {"other root", "<app><accesses><access>led</access><access>http</access></accesses></app>"},
      {"root in a namespace",
       "<descriptor xmlns=\"urn:tobrel\"><accesses><access>led</access><access>http</access></accesses></descriptor>"},
  };
  for (const auto& c : cases) {
    RunResult r = runApp(logAndExit(kProbeModules), {{"descriptor.xml", c.xml}});
    EXPECT_EQ(logged(r), "none") << c.what << "\n" << r.err;
    EXPECT_TRUE(r.exited && r.exitCode == 0) << c.what << ": " << r.describe();
  }
}

// Each object of the binding table as the app sees it: "name=methods" or "name=-" when absent.
std::string probeTable() {
  std::string js = "[";
  for (const ModuleRow& row : moduleTable()) {
    const std::string holder = row.host == ModuleHost::Tobrel ? "tobrel" : "this";
    js += "'" + std::string(row.name) + "=' + ('" + row.name + "' in " + holder + " ? Object.keys(" + holder + "." +
          row.name + ").join() : '-'),";
  }
  return js + "].join(' ')";
}

// What the table promises for an app granted `granted` (every word, or none).
std::string expectedTable(bool granted) {
  std::string out;
  for (const ModuleRow& row : moduleTable()) {
    const bool present =
        row.host == ModuleHost::StartUp || (moduleBuilt(row) && (granted || row.access == nullptr));
    std::string methods;
    for (const ModuleMethod& m : row.methods) methods += (methods.empty() ? "" : ",") + std::string(m.name);
    out += (out.empty() ? "" : " ") + std::string(row.name) + "=" + (present ? methods : "-");
  }
  return out;
}

TEST(AppAccessList, InstallsEveryGrantedBuiltModuleWithItsMethods) {
  std::string all;
  for (const char* word : {"led", "ears", "tts", "webcam", "asr", "multimedia", "button", "rfid", "t2t", "message",
                           "contact", "serial", "dock", "http", "twitter"})
    all += std::string("<access>") + word + "</access>";
  const struct {
    const char* what;
    std::string xml;
    bool granted;
  } cases[] = {
      {"every word", "<descriptor><accesses>" + all + "</accesses></descriptor>", true},
      {"no word", "<descriptor><accesses/></descriptor>", false},
  };
  for (const auto& c : cases) {
    RunResult r = runApp(logAndExit(probeTable()), {{"descriptor.xml", c.xml}});
    EXPECT_EQ(logged(r), expectedTable(c.granted)) << c.what << "\n" << r.err;
    EXPECT_TRUE(r.exited && r.exitCode == 0) << c.what << ": " << r.describe();
  }
  // The built objects that the first case must show, named outright.
  EXPECT_NE(expectedTable(true).find("led=light,fade,pulse"), std::string::npos);
  EXPECT_NE(expectedTable(false).find("file=read,write"), std::string::npos);
}

// "led" and "http": exactly these of the access-gated objects; ungated ones whatever the list.
TEST(AppAccessList, ShowsOnlyTheGrantedObjects) {
  RunResult r = runApp(logAndExit("[typeof tobrel.led, typeof tobrel.ears, typeof tobrel.button, typeof file,"
                                  " typeof params, typeof launchType, typeof appName, typeof instanceName,"
                                  " typeof cmdline].join()"),
                       {{"descriptor.xml", "<descriptor><accesses><access>led</access><access>http</access>"
                                           "</accesses></descriptor>"}});
  EXPECT_EQ(logged(r), "object,undefined,undefined,object,object,object,string,string,string") << r.err;
}

TEST(AppAccessList, UnreadableDescriptorEndsTheAppBeforeAnyScript) {
  const struct {
    const char* what;
    std::map<std::string, std::string> files;
  } cases[] = {
      {"malformed", {{"descriptor.xml", "<descriptor><accesses></descriptor>"}}},
      {"empty", {{"descriptor.xml", ""}}},
      {"not xml", {{"descriptor.xml", "led http\n"}}},
  };
  for (const auto& c : cases) {
    RunResult r = runApp("log('ran');\n", c.files);
    EXPECT_TRUE(r.exited && r.exitCode == 0) << c.what << ": " << r.describe() << "\n" << r.err;
    EXPECT_THAT(r.err, HasSubstr("DEBUG: searching descriptor: ")) << c.what;
    EXPECT_THAT(r.err, Not(HasSubstr("decriptor loaded"))) << c.what;
    EXPECT_THAT(r.err, Not(HasSubstr("running app: app"))) << c.what;
    EXPECT_THAT(r.err, Not(HasSubstr("JSLOG"))) << c.what;
  }

  // No descriptor.xml at all (writeApp would supply one).
  TempDir apps;
  apps.write("app/main.js", "log('ran');\n");
  RunResult r = tobrel_test::runAppChild(apps.path(), "app PLAIN inst", fast());
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
  EXPECT_THAT(r.err, HasSubstr("DEBUG: searching descriptor: " + apps.path() + "/app/descriptor.xml\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("JSLOG")));
}

TEST(AppAccessList, ReadableDescriptorIsLoadedBeforeTheScriptRuns) {
  RunResult r = runApp(logAndExit("'ran'"), {});
  const size_t loaded = r.err.find("MESSAGE: decriptor loaded\n");
  ASSERT_NE(loaded, std::string::npos) << r.err;
  EXPECT_LT(r.err.find("DEBUG: loading descriptor\n"), loaded);
  EXPECT_LT(loaded, r.err.find("MESSAGE: JSLOG: ran"));
}

TEST(AppLaunchType, ComesFromTheSecondFieldOfTheRequest) {
  const struct {
    const char* request;
    const char* json;
  } cases[] = {
      {"app RFID;d0021a;app7;TAG;p;red;xyz inst",
       R"({"name":"RFID","id":"d0021a","app":"app7","type":"TAG","pict":"p","color":"red","data":"xyz"})"},
      {"app ASR;hello;<city>Paris</city> inst",
       R"({"name":"ASR","text":"hello","semantic":{"city":"Paris"},"rawSemantic":"<semantic><city>Paris</city></semantic>","confident":50})"},
      {"app rfid;1 inst", R"({"name":"rfid;1"})"},
      {"app  inst", R"({"name":""})"},
  };
  for (const auto& c : cases) {
    RunResult r = runApp(logAndExit("JSON.stringify(launchType)"), {}, c.request);
    EXPECT_EQ(logged(r), c.json) << c.request << "\n" << r.err;
  }
}

TEST(AppLaunchType, SemanticFollowsRawSemantic) {
  RunResult r = runApp(
      logAndExit("[launchType.semantic.city, (launchType.semantic = 1, launchType.semantic.city),"
                 " (launchType.rawSemantic = '<semantic><city>Oslo</city></semantic>', launchType.semantic.city),"
                 " (launchType.rawSemantic = 'x', typeof launchType.semantic)].join()"),
      {}, "app ASR;hi;<city>Paris</city> inst");
  EXPECT_EQ(logged(r), "Paris,Paris,Oslo,undefined") << r.err;
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: ASR: parseSemantic: Failed to parse document\n"));
}

// Of 500,000 repeated elements only the last is kept, and the others' texts must not pile up
// on the script heap meanwhile.
TEST(AppLaunchType, WideSemanticDoesNotEndTheApp) {
  TempDir apps;
  tobrel_test::writeApp(apps, "app",
                        logAndExit("(launchType.rawSemantic = '<semantic>' + '<a>12</a>'.repeat(500000) + "
                                   "'<a>last</a></semantic>', launchType.semantic.a)"));
  // The walk writes two million DEBUG lines: kept off standard error, which they would only
  // flood, they still go to syslog, which takes an emulated CPU a minute or more.
  tobrel_test::AppChildOptions options = fast();
  options.debugLevel = 5;
  options.run.timeoutMs = 240000;
  RunResult r = tobrel_test::runAppChild(apps.path(), "app ASR;hi;x inst", options);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
  EXPECT_EQ(logged(r), "last");
}

// The parser's own account of a bad document is a DEBUG line of the app's log: on standard
// error only under a threshold that shows DEBUG, in syslog always.
TEST(AppLaunchType, ParserMessagesGoThroughTheLog) {
  const std::string line = "ASR: parseSemantic: noname.xml:1: Opening and ending tag mismatch: c line 1 and d";
  for (int debugLevel : {5, 7}) {
    SCOPED_TRACE(debugLevel);
    tobrel_test::SyslogCapture syslog;
    tobrel_test::AppChildOptions options = fast();
    options.debugLevel = debugLevel;
    options.run.syslog = &syslog;
    TempDir apps;
    tobrel_test::writeApp(apps, "app", logAndExit("typeof launchType.semantic"));
    RunResult r = tobrel_test::runAppChild(apps.path(), "app ASR;hi;<c>1</d> inst", options);
    EXPECT_EQ(logged(r), "undefined") << r.err;
    EXPECT_THAT(r.err, HasSubstr("MESSAGE: ASR: parseSemantic: Failed to parse document\n"));
    EXPECT_THAT(r.err, Not(HasSubstr("parser error")));
    if (debugLevel == 5) {
      EXPECT_THAT(r.err, Not(HasSubstr("tag mismatch")));
    } else {
      EXPECT_THAT(r.err, HasSubstr("DEBUG: " + line + "\n"));
    }
    const auto records = syslog.find(line);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].severity, LOG_DEBUG);
  }
}

std::string configBin(const ConfigApp& app) { return app.SerializePartialAsString(); }

ConfigApp sampleConfig() {
  ConfigApp app;
  app.set_apikey("k");
  app.set_version("1");
  app.set_name("app");
  app.set_deployment("d");
  ConfigInstance* main = app.add_configinstance();
  main->set_name("main");
  for (auto kv : {std::make_pair("color", "red"), std::make_pair("size", "2"), std::make_pair("color", "blue")}) {
    auto* p = main->add_params();
    p->set_key(kv.first);
    p->set_value(kv.second);
  }
  main->set_accesstoken("tok");
  ConfigInstance* other = app.add_configinstance();
  other->set_name("other");
  other->set_uuid("u-1");
  auto* p = app.add_parameters();
  p->set_key("lang");
  p->set_value("fr");
  return app;
}

TEST(AppParams, ComeFromConfigBin) {
  const std::string whole = configBin(sampleConfig());
  const struct {
    const char* what;
    std::map<std::string, std::string> files;
    const char* json;
  } cases[] = {
      {"instances, duplicate key, token, uuid and app parameters",
       {{"config.bin", whole}},
       R"({"main":{"color":"blue","size":"2","accessToken":"tok"},"other":{"uuid":"u-1"},"descriptor":{"lang":"fr"}})"},
      {"empty file", {{"config.bin", ""}}, "{}"},
      {"missing file", {}, "{}"},
  };
  for (const auto& c : cases) {
    RunResult r = runApp(logAndExit("JSON.stringify(params)"), c.files);
    EXPECT_EQ(logged(r), c.json) << c.what << "\n" << r.err;
    EXPECT_TRUE(r.exited && r.exitCode == 0) << c.what << ": " << r.describe();
  }
}

TEST(AppParams, MissingFileIsAWarningAndTheAppRuns) {
  RunResult r = runApp(logAndExit("typeof params"), {});
  EXPECT_THAT(r.err, HasSubstr("WARNING: no params loaded: No such file or directory\n"));
  EXPECT_EQ(logged(r), "object");
}

TEST(AppParams, TruncatedFileKeepsTheInstancesBeforeTheCut) {
  ConfigApp app = sampleConfig();
  ConfigInstance* last = app.add_configinstance();
  last->set_name("last");
  last->set_accesstoken(std::string(64, 't'));
  const std::string bytes = configBin(app);
  RunResult r = runApp(logAndExit("JSON.stringify([params.main, params.other])"),
                       {{"config.bin", bytes.substr(0, bytes.size() - 20)}});
  EXPECT_EQ(logged(r), R"([{"color":"blue","size":"2","accessToken":"tok"},{"uuid":"u-1"}])") << r.err;
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe();
}

}  // namespace
