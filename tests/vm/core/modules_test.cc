// The access gate and installation order of module objects, over a table of test rows.
#include "modules.h"

#include <gtest/gtest.h>

#include "descriptor.h"
#include "script_env.h"
#include "temp_dir.h"

namespace {

void Echo(const v8::FunctionCallbackInfo<v8::Value>& info) {
  if (info.Length() > 0) info.GetReturnValue().Set(info[0]);
}

void Answer(const v8::FunctionCallbackInfo<v8::Value>& info) { info.GetReturnValue().Set(42); }

v8::Local<v8::ObjectTemplate> makeModule(v8::Isolate* isolate) {
  v8::Local<v8::ObjectTemplate> t = v8::ObjectTemplate::New(isolate);
  setMethod(isolate, t, "echo", Echo);
  setMethod(isolate, t, "answer", Answer);
  return t;
}

const ModuleRow kRows[] = {
    {"alpha", ModuleHost::Tobrel, "alpha", makeModule},
    {"beta", ModuleHost::Tobrel, "beta", makeModule},
    {"unbuilt", ModuleHost::Tobrel, "alpha", nullptr},
    {"gamma", ModuleHost::Tobrel, "gamma", makeModule},
    {"always", ModuleHost::Global, nullptr, makeModule},
    {"web", ModuleHost::Global, "web", makeModule},
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
    installModuleRows(kRows, sizeof kRows / sizeof kRows[0], isolate, global, tobrel, d);
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

TEST_F(ModulesTest, InstallsGrantedRowsInTableOrder) {
  const struct {
    const char* accesses;
    const char* tobrelKeys;
    const char* globals;
  } cases[] = {
      {"", "", "always"},
      {"<access>gamma</access><access>alpha</access>", "alpha,gamma", "always"},
      {"<access>beta</access><access>web</access>", "beta", "always,web"},
      {"<access>alpha</access><access>alpha</access>", "alpha", "always"},
      {"<access>ALPHA</access><access>we</access><access>unbuilt</access>", "", "always"},
      {"<access>gamma</access><access>beta</access><access>alpha</access><access>web</access>", "alpha,beta,gamma",
       "always,web"},
  };
  const char* probe =
      "Object.keys(tobrel).join() + '|' + ['always', 'web', 'alpha', 'unbuilt']"
      ".filter(function (n) { return n in this; }, this).join()";
  for (const auto& c : cases)
    EXPECT_EQ(install(c.accesses, probe), std::string(c.tobrelKeys) + "|" + c.globals) << c.accesses;
}

TEST_F(ModulesTest, ModuleObjectsCarryAllMethodsInOrder) {
  EXPECT_EQ(install("<access>alpha</access><access>web</access>",
                    "Object.keys(tobrel.alpha).join() + '|' + Object.keys(web).join() + '|' + Object.keys(always).join()"),
            "echo,answer|echo,answer|echo,answer");
}

// Methods have no receiver check: taken off their object they behave the same.
TEST_F(ModulesTest, MethodsWorkWithoutTheirObject) {
  EXPECT_EQ(install("<access>alpha</access>",
                    "var f = tobrel.alpha.echo, g = always.answer;"
                    "[f('x'), g(), f.call(null, 7), g.call(42), typeof f].join()"),
            "x,42,7,42,function");
}

}  // namespace
