// A hidden "token" given as a form value: it becomes a form part only for the URLs that the
// installed check accepts, and never reaches a URL-encoded body or the script.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "hidden_value.h"
#include "http.h"
#include "modules.h"
#include "script_env.h"
#include "web_standin.h"

using tobrel_test::WebRequest;

namespace {

// Accepts the token of the object marked "mine" for URLs under /allowed only.
bool allowedOnly(v8::Isolate* isolate, v8::Local<v8::Object> holder, const char* url) {
  v8::Local<v8::Value> mark;
  if (!getHiddenValue(isolate, holder, "owner", &mark)) return false;
  return std::string(url).find("/allowed") != std::string::npos;
}

}  // namespace

TEST(HttpToken, GoesOnlyWhereTheCheckAllows) {
  tobrel_test::WebStandIn web;
  ASSERT_TRUE(web.start()) << web.error();
  tobrel_test::ScriptEnv env;
  v8::Isolate* isolate = env.isolate();
  v8::Local<v8::Context> context = env.context();
  env.setGlobal("http", createModuleTemplate(isolate, *findModule("http"))->NewInstance(context).ToLocalChecked());
  v8::Local<v8::Object> service = v8::Object::New(isolate);
  ASSERT_TRUE(setHiddenValue(isolate, service, "token", v8::String::NewFromUtf8Literal(isolate, "T0K3N")));
  ASSERT_TRUE(setHiddenValue(isolate, service, "owner", v8::True(isolate)));
  env.setGlobal("service", service);
  v8::Local<v8::Object> stranger = v8::Object::New(isolate);
  ASSERT_TRUE(setHiddenValue(isolate, stranger, "token", v8::String::NewFromUtf8Literal(isolate, "OTHER")));
  env.setGlobal("stranger", stranger);
  env.run("var U = 'http://127.0.0.1:" + std::to_string(web.port()) + "';");

  // Without a check nothing may carry a token.
  env.run("http.post2(U + '/allowed/0', {s: service, t: 'x'}, {}, true)");
  setFormTokenCheck(allowedOnly);
  env.run("http.post2(U + '/allowed/1', {s: service, t: 'x'}, {}, true)");
  env.run("http.post2(U + '/other/2', {s: service}, {}, true)");
  env.run("http.post2(U + '/allowed/3', {s: stranger}, {}, true)");
  env.run("http.post(U + '/allowed/4', {s: service, t: 'x'})");
  setFormTokenCheck(nullptr);
  EXPECT_EQ(env.run("JSON.stringify(service) + Object.getOwnPropertyNames(service).length"), "{}0");

  ASSERT_TRUE(web.waitRequests(5));
  const std::vector<WebRequest> requests = web.requests();
  auto body = [&](size_t i) { return requests[i].body; };
  EXPECT_EQ(body(0).find("T0K3N"), std::string::npos);
  EXPECT_THAT(body(0), ::testing::HasSubstr("name=\"t\"\r\n\r\nx\r\n"));
  EXPECT_THAT(body(1), ::testing::HasSubstr("name=\"s\"\r\n\r\nT0K3N\r\n"));
  EXPECT_EQ(requests[2].method, "GET");  // the one part was refused: no body at all
  EXPECT_EQ(requests[3].method, "GET");
  EXPECT_EQ(body(4), "s=%5Bobject%20Object%5D&t=x");
  EXPECT_TRUE(env.loggedAt(G_LOG_LEVEL_DEBUG, "TOKEN T0K3N"));
  EXPECT_EQ(env.countLogged("TOKEN T0K3N"), 1);
}
