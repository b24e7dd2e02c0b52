// The `params` object from config.bin fixtures written with the generated message classes.
#include "params.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nusk-message.pb.h"
#include "script_env.h"
#include "temp_dir.h"

namespace {

using net::zolvek::nusk::message::ConfigApp;
using net::zolvek::nusk::message::ConfigInstance;

using Pairs = std::vector<std::pair<std::string, std::string>>;

ConfigInstance* addInstance(ConfigApp* app, const std::string& name, const Pairs& params) {
  ConfigInstance* instance = app->add_configinstance();
  instance->set_name(name);
  for (const auto& p : params) {
    auto* kv = instance->add_params();
    kv->set_key(p.first);
    kv->set_value(p.second);
  }
  return instance;
}

void addParameters(ConfigApp* app, const Pairs& params) {
  for (const auto& p : params) {
    auto* kv = app->add_parameters();
    kv->set_key(p.first);
    kv->set_value(p.second);
  }
}

ConfigApp header() {
  ConfigApp app;
  app.set_apikey("key");
  app.set_version("1");
  app.set_name("demo");
  app.set_deployment("prod");
  return app;
}

class ParamsTest : public ::testing::Test {
 protected:
  std::string load(const std::string& path) {
    env.setGlobal("params", loadParams(env.isolate(), path.c_str()));
    return env.run("JSON.stringify(params)");
  }
  std::string loadBytes(const std::string& bytes) { return load(files.write("config.bin", bytes)); }
  std::string loadConfig(const ConfigApp& app) { return loadBytes(app.SerializePartialAsString()); }

  tobrel_test::ScriptEnv env;  // captures the log lines too
  tobrel_test::TempDir files;
};

TEST_F(ParamsTest, InstanceWithParametersAndToken) {
  ConfigApp app = header();
  addInstance(&app, "main", {{"color", "red"}, {"size", "2"}})->set_accesstoken("tok");
  EXPECT_EQ(loadConfig(app), R"({"main":{"color":"red","size":"2","accessToken":"tok"}})");
  const std::vector<std::string> expected = {"create parameters", "parameters size : 0", "create parameters done"};
  EXPECT_EQ(env.messages(G_LOG_LEVEL_DEBUG), expected);
}

TEST_F(ParamsTest, BuildsInstancesAndDescriptor) {
  const struct {
    const char* what;
    ConfigApp app;
    const char* json;
  } cases[] = {
      {"no instance, no parameter", header(), "{}"},
      {"instances in order",
       [] {
         ConfigApp a = header();
         addInstance(&a, "b", {{"k", "1"}});
         addInstance(&a, "a", {});
         return a;
       }(),
       R"({"b":{"k":"1"},"a":{}})"},
      {"token then uuid after the parameters",
       [] {
         ConfigApp a = header();
         ConfigInstance* i = addInstance(&a, "main", {{"x", "1"}});
         i->set_uuid("u-1");
         i->set_accesstoken("t-1");
         return a;
       }(),
       R"({"main":{"x":"1","accessToken":"t-1","uuid":"u-1"}})"},
      {"duplicate key keeps the last value",
       [] {
         ConfigApp a = header();
         addInstance(&a, "main", {{"k", "1"}, {"j", "2"}, {"k", "3"}});
         return a;
       }(),
       R"({"main":{"k":"3","j":"2"}})"},
      {"token and uuid replace parameters of the same name",
       [] {
         ConfigApp a = header();
         ConfigInstance* i = addInstance(&a, "main", {{"accessToken", "p"}, {"uuid", "q"}});
         i->set_accesstoken("t");
         i->set_uuid("u");
         return a;
       }(),
       R"({"main":{"accessToken":"t","uuid":"u"}})"},
      {"later instance of the same name wins",
       [] {
         ConfigApp a = header();
         addInstance(&a, "main", {{"k", "1"}});
         addInstance(&a, "other", {});
         addInstance(&a, "main", {{"j", "2"}});
         return a;
       }(),
       R"({"main":{"j":"2"},"other":{}})"},
      {"app parameters under descriptor, replacing an instance of that name",
       [] {
         ConfigApp a = header();
         addInstance(&a, "descriptor", {{"i", "1"}});
         addParameters(&a, {{"lang", "fr"}, {"n", "1"}, {"lang", "en"}});
         return a;
       }(),
       R"({"descriptor":{"lang":"en","n":"1"}})"},
      {"names from the file stay own properties",
       [] {
         ConfigApp a = header();
         addInstance(&a, "__proto__", {{"__proto__", "v"}});
         return a;
       }(),
       R"({"__proto__":{"__proto__":"v"}})"},
      {"utf-8 text",
       [] {
         ConfigApp a = header();
         addInstance(&a, "caf\xc3\xa9", {{"ville", "Z\xc3\xbcrich"}});
         return a;
       }(),
       R"({"café":{"ville":"Zürich"}})"},
      {"required fields missing, still used",
       [] {
         ConfigApp a;
         ConfigInstance* i = a.add_configinstance();
         auto* kv = i->add_params();
         kv->set_key("k");
         return a;
       }(),
       R"({"":{"k":""}})"},
  };
  for (const auto& c : cases) EXPECT_EQ(loadConfig(c.app), c.json) << c.what;
}

TEST_F(ParamsTest, ParameterLinesAreLogged) {
  ConfigApp app = header();
  addParameters(&app, {{"lang", "fr"}});
  EXPECT_EQ(loadConfig(app), R"({"descriptor":{"lang":"fr"}})");
  const std::vector<std::string> expected = {"create parameters", "parameters size : 1",
                                             "create parameters key : lang", "create parameters value : fr",
                                             "create parameters done"};
  EXPECT_EQ(env.messages(G_LOG_LEVEL_DEBUG), expected);
}

// Bytes that end early still give what was read before the cut; the app starts all the same.
TEST_F(ParamsTest, TruncatedFileKeepsWhatWasRead) {
  ConfigApp app = header();
  addInstance(&app, "first", {{"k", "1"}});
  addInstance(&app, "second", {{"long-key", "a value long enough to be cut"}});
  const std::string bytes = app.SerializeAsString();
  for (size_t cut : {size_t{1}, size_t{10}, size_t{40}}) {
    loadBytes(bytes.substr(0, bytes.size() - cut));
    EXPECT_EQ(env.run("JSON.stringify(params.first)"), R"({"k":"1"})") << cut;
  }
}

TEST_F(ParamsTest, UnreadableFileGivesEmptyObject) {
  const struct {
    const char* what;
    std::string path;
    std::string warning;
  } cases[] = {
      {"missing", files.path() + "/absent.bin", "no params loaded: No such file or directory"},
      {"empty", files.write("empty.bin", ""), ""},
      {"a folder", files.path(), ""},
      {"not a message", files.write("junk.bin", std::string("\xff\xff\xff\xff garbage", 12)), ""},
  };
  for (const auto& c : cases) {
    env.clearLogs();
    EXPECT_EQ(load(c.path), "{}") << c.what;
    if (!c.warning.empty()) {
      EXPECT_TRUE(env.loggedAt(G_LOG_LEVEL_WARNING, c.warning)) << c.what;
    }
  }
}

}  // namespace
