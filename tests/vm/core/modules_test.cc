// The binding table, and the access gate and installation order over a table of test rows.
#include "modules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "descriptor.h"
#include "script_env.h"
#include "temp_dir.h"

namespace {

void Echo(const v8::FunctionCallbackInfo<v8::Value>& info) {
  if (info.Length() > 0) info.GetReturnValue().Set(info[0]);
}

void Answer(const v8::FunctionCallbackInfo<v8::Value>& info) { info.GetReturnValue().Set(42); }

const std::vector<ModuleRow> kRows = {
    {"alpha", ModuleHost::Tobrel, "alpha", {{"echo", Echo}, {"answer", Answer}}},
    {"beta", ModuleHost::Tobrel, "beta", {{"echo", Echo}, {"answer", Answer}}},
    {"unbuilt", ModuleHost::Tobrel, "alpha", {{"echo", nullptr}, {"answer", nullptr}}},
    {"half", ModuleHost::Tobrel, "alpha", {{"echo", Echo}, {"answer", nullptr}}},
    {"gamma", ModuleHost::Tobrel, "gamma", {{"answer", Answer}, {"echo", Echo}}},
    {"always", ModuleHost::Global, nullptr, {{"echo", Echo}, {"answer", Answer}}},
    {"web", ModuleHost::Global, "web", {{"echo", Echo}, {"answer", Answer}}},
    {"startup", ModuleHost::StartUp, nullptr, {{"echo", Echo}}},
};

class ModulesTest : public ::testing::Test {
 protected:
  // Builds a context the way start-up does: module objects on both templates, then `tobrel`
  // set on the global template, and runs `probe` in it.
  std::string install(const std::string& accesses, const std::string& probe) {
    v8::Isolate* isolate = env.isolate();
    Descriptor d(files.write("descriptor.xml", "<descriptor><accesses>" + accesses + "</accesses></descriptor>").c_str());
    v8::Local<v8::ObjectTemplate> global = v8::ObjectTemplate::New(isolate);
    v8::Local<v8::ObjectTemplate> tobrel = v8::ObjectTemplate::New(isolate);
    installModuleRows(kRows, isolate, global, tobrel, d);
    global->Set(isolate, "tobrel", tobrel);
    v8::Local<v8::Context> app = v8::Context::New(isolate, nullptr, global);
    v8::Context::Scope scope(app);
    v8::Local<v8::Value> result =
        v8::Script::Compile(app, v8::String::NewFromUtf8(isolate, probe.c_str()).ToLocalChecked())
            .ToLocalChecked()->Run(app).ToLocalChecked();
    v8::String::Utf8Value text(isolate, result);
    return *text;
  }
  tobrel_test::ScriptEnv env;
  tobrel_test::TempDir files;
};

TEST_F(ModulesTest, InstallsGrantedBuiltRowsInTableOrder) {
  const struct {
    const char* accesses;
    const char* tobrelKeys;
    const char* globals;
  } cases[] = {
      {"", "", "always"},
      {"<access>gamma</access><access>alpha</access>", "alpha,gamma", "always"},
      {"<access>beta</access><access>web</access>", "beta", "always,web"},
      {"<access>alpha</access><access>alpha</access>", "alpha", "always"},
      {"<access>ALPHA</access><access>we</access><access>unbuilt</access><access>half</access>", "", "always"},
      {"<access>gamma</access><access>beta</access><access>alpha</access><access>web</access>", "alpha,beta,gamma",
       "always,web"},
  };
  const char* probe =
      "Object.keys(tobrel).join() + '|' + ['always', 'web', 'alpha', 'unbuilt', 'half', 'startup']"
      ".filter(function (n) { return n in this; }, this).join()";
  for (const auto& c : cases)
    EXPECT_EQ(install(c.accesses, probe), std::string(c.tobrelKeys) + "|" + c.globals) << c.accesses;
}

TEST_F(ModulesTest, ModuleObjectsCarryAllMethodsInOrder) {
  EXPECT_EQ(install("<access>alpha</access><access>gamma</access><access>web</access>",
                    "[tobrel.alpha, tobrel.gamma, web, always].map(Object.keys).join('|')"),
            "echo,answer|answer,echo|echo,answer|echo,answer");
}

// Methods have no receiver check: taken off their object they behave the same.
TEST_F(ModulesTest, MethodsWorkWithoutTheirObject) {
  EXPECT_EQ(install("<access>alpha</access>",
                    "var f = tobrel.alpha.echo, g = always.answer;"
                    "[f('x'), g(), f.call(null, 7), g.call(42), typeof f].join()"),
            "x,42,7,42,function");
}

// Every module object of the app API with its place, access word and methods in their order.
// A later module fills in its natives; the names here stay what scripts see.
TEST(ModuleTable, NamesEveryObjectAndMethodInOrder) {
  const std::vector<std::string> expected = {
      "led tobrel led: light,fade,pulse",
      "ears tobrel ears: move,moveRelative,reset,resetRight,resetLeft,addListener",
      "tts tobrel tts: start,stop",
      "webcam tobrel webcam: photo",
      "asr tobrel asr: file,string",
      "multimedia tobrel multimedia: play,pause,resume,stop,next,previous,artist,folder,genre,playlist,song,"
      "addListener,record",
      "button tobrel button: addListener",
      "rfid tobrel rfid: addListener",
      "t2t tobrel t2t: call,answer,hangup,account,addListener",
      "message tobrel message: list,get,delete,new,markAsRead",
      "contact tobrel contact: get",
      "serial tobrel serial: open__,write__,addListener__",
      "dock tobrel dock: light,fade,pulse,move",
      "social global -: init",
      "http global http: get,post,get2,post2",
      "file start-up -: read,write",
  };
  std::vector<std::string> actual;
  for (const ModuleRow& row : moduleTable()) {
    std::string line = std::string(row.name) + " " +
                       (row.host == ModuleHost::Tobrel ? "tobrel" : row.host == ModuleHost::Global ? "global" : "start-up") +
                       " " + (row.access != nullptr ? row.access : "-") + ":";
    for (size_t i = 0; i < row.methods.size(); ++i) line += (i == 0 ? " " : ",") + std::string(row.methods[i].name);
    actual.push_back(line);
    EXPECT_EQ(findModule(row.name), &row) << row.name;
  }
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(findModule("tobrel"), nullptr);
}

}  // namespace
