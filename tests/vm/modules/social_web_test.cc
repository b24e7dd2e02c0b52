// The Facebook and SoundCloud requests as the services receive them, over verified TLS under
// their real names: the app child runs in a private network (service_net.h) with the web
// stand-in and the message-daemon stand-in inside, so nothing leaves the machine. Needs root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "app_child.h"
#include "msgd_process.h"
#include "service_net.h"
#include "temp_dir.h"
#include "web_standin.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::httpReply;
using tobrel_test::RunResult;
using tobrel_test::TempDir;
using tobrel_test::WebRequest;

namespace {

// The network is the test's own, so the daemon stand-in can have a fixed port.
const char* const kDaemonPort = "7000";

const char* const kCredentials =
    "attach socialQuery social { twitterConsumerKey: \"ck\" twitterConsumerSecret: \"SEKRET-CS\""
    " twitterToken: \"SEKRET-TT\" twitterTokenSecret: \"SEKRET-TS\" facebookToken: \"SEKRET-FB+1\""
    " soundcloudToken: \"SEKRET-SC-\\303\\251\\351\" }";

// The SoundCloud token's bytes (UTF-8 e-acute, then a byte that is no UTF-8), and percent-encoded.
const char* const kSoundcloudToken = "SEKRET-SC-\xc3\xa9\xe9";
const char* const kSoundcloudTokenEncoded = "SEKRET-SC-%C3%A9%E9";

// Every call below logs through kTryFunction's t().
const char* const kCalls =
    "tobrel.connect('127.0.0.1', 7000);\n"
    "social.init(function () {\n"
    "  var fb = social.facebook, sc = social.soundcloud, p = {a: 'b'};\n"
    "  t('get', function () { return fb.get('https://graph.facebook.com/me'); });\n"
    "  t('get query', function () { return fb.get('https://graph.facebook.com/me?fields=id'); });\n"
    "  t('sc get', function () { return sc.get('https://api.soundcloud.com/tracks'); });\n"
    "  t('get headers', function () { return fb.get('https://graph.facebook.com/h', {'X-Extra': 'get'}); });\n"
    "  t('post', function () { return fb.post('https://graph.facebook.com/p', p, {'X-Extra': 'post'}); });\n"
    "  log('params ' + JSON.stringify(p));\n"
    "  t('post replaced', function () { return fb.post('https://www.facebook.com/r', {access_token: 'mine', z: 1}); });\n"
    "  t('sc post', function () { return sc.post('https://api.soundcloud.com/s', Object.create({q: 1})); });\n"
    "  t('form', function () { return fb.post('https://graph.facebook.com/f', {t: 'x'}, {}, true); });\n"
    "  t('own form', function () { return http.post2('https://graph.facebook.com/o', {s: fb}, {}, true).content; });\n"
    "  t('other form', function () { return http.post2('https://api.soundcloud.com/x', {s: fb}, {}, true).content; });\n"
    "  t('plain form', function () { return http.post2('http://graph.facebook.com/y', {s: fb}, {}, true).content; });\n"
    "  t('refused', function () { return fb.get('https://facebook.com/me'); });\n"
    "  t('broken', function () { return fb.get('https://graph.facebook.com/bare'); });\n"
    "  t('crlf post', function () { return fb.post('https://graph.facebook.com/c', p, {'X-A': 'v\\r\\nX-Injected: 1'}); });\n"
    "  t('sc form', function () { return sc.post('https://api.soundcloud.com/sf', {}, {}, true); });\n"
    // Methods kept in variables, called once the script has swapped the two service objects.
    "  var fg = fb.get, fp = fb.post, sg = sc.get, sp = sc.post;\n"
    "  social.facebook = sc;\n"
    "  social.soundcloud = fb;\n"
    "  t('swapped get', function () { return fg('https://graph.facebook.com/w1'); });\n"
    "  t('swapped post', function () { return fp('https://graph.facebook.com/w2', {a: 1}); });\n"
    "  t('swapped sc get', function () { return sg('https://api.soundcloud.com/w3'); });\n"
    "  t('swapped sc form', function () { return sp('https://api.soundcloud.com/w4', {a: 1}, {}, true); });\n"
    "  t('swapped own', function () { return social.facebook.get('https://api.soundcloud.com/w5'); });\n"
    "  exit();\n"
    "});\n";

const WebRequest* requestTo(const std::vector<WebRequest>& requests, const std::string& path) {
  for (const WebRequest& r : requests)
    if (r.target.compare(0, path.size(), path) == 0 &&
        (r.target.size() == path.size() || r.target[path.size()] == '?' || r.target[path.size()] == '&'))
      return &r;
  return nullptr;
}

// Runs `calls` (after kTryFunction; they must end with exit()) in an app granted http, facebook
// and soundcloud, the daemon stand-in set up by `attach` (kCredentials' form), and every name of
// `pages` answered "ok <name>"; the app and the stand-in's output (msgd.out) go in `dir`. Fails
// the test when the app does not exit with 0.
RunResult runInNet(tobrel_test::ServiceNet& net, const TempDir& dir, const std::string& attach,
                   const std::string& calls, const std::vector<std::string>& pages) {
  for (const std::string& name : pages)
    net.web().reply(name, httpReply("200 OK", {"Content-Type: text/plain"}, "ok " + name));
  const std::string daemonLog = dir.path() + "/msgd.out";
  net.alsoRun({tobrel::test::MsgdProcess::programPath(), "--port", kDaemonPort, "--no-stdin", "--exec", attach},
              daemonLog, "listening on");
  tobrel_test::writeApp(dir, "app", std::string(tobrel_test::kTryFunction) + calls,
                        {{"descriptor.xml", "<descriptor><accesses><access>http</access><access>facebook</access>"
                                            "<access>soundcloud</access></accesses></descriptor>\n"}});
  tobrel_test::AppChildOptions options;
  options.run.timeoutMs = 30000;
  RunResult r = net.startApp(dir.path(), "app PLAIN inst", options)->wait(30000);
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err << "\n" << tobrel_test::readFile(daemonLog);
  return r;
}

// Whether every one of `parts` occurs in `text`, each after the one before.
bool inOrder(const std::string& text, const std::vector<std::string>& parts) {
  size_t at = 0;
  for (const std::string& part : parts) {
    at = text.find(part, at);
    if (at == std::string::npos) return false;
    at += part.size();
  }
  return true;
}

std::string formPart(const std::string& name, const std::string& value) {
  return "name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

}  // namespace


TEST(SocialWeb, RequestsCarryTheTokenOnlyToTheirOwnService) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for its namespaces";
  tobrel_test::ServiceNet net;
  ASSERT_TRUE(net.ready()) << net.error();
  net.web().reply("bare", "no status line here\n");
  TempDir dir;
  const std::string daemonLog = dir.path() + "/msgd.out";
  const RunResult r = runInNet(net, dir, kCredentials, kCalls,
                               {"me", "tracks", "h", "p", "r", "s", "f", "o", "x", "y", "sf", "c", "w1", "w2", "w3", "w4", "w5"});
  if (HasFailure()) return;

  const struct {
    const char* tag;
    const char* outcome;
  } outcomes[] = {
      {"get", "returned \"ok me\""},
      {"get query", "returned \"ok me\""},
      {"sc get", "returned \"ok tracks\""},
      {"get headers", "returned \"ok h\""},
      {"post", "returned \"ok p\""},
      {"post replaced", "returned \"ok r\""},
      {"sc post", "returned \"ok s\""},
      {"form", "returned \"ok f\""},
      {"own form", "returned \"ok o\""},
      {"other form", "returned \"ok x\""},
      {"plain form", "returned \"ok y\""},
      {"refused", "threw unauthorised url"},
      {"broken", "returned \"curl error\""},
      {"crlf post", "returned \"curl error\""},
      {"sc form", "returned \"ok sf\""},
      {"swapped get", "threw unauthorised url"},
      {"swapped post", "threw unauthorised url"},
      {"swapped sc get", "threw unauthorised url"},
      {"swapped sc form", "threw unauthorised url"},
      {"swapped own", "threw unauthorised url"},
  };
  for (const auto& o : outcomes) EXPECT_LOG(r.err, (std::string("JSLOG: ") + o.tag + " " + o.outcome + "\n"));
  EXPECT_LOG(r.err, ("JSLOG: params {\"a\":\"b\"}\n"));

  const std::vector<WebRequest> requests = net.web().requests();
  // Nothing for the refused header line, nor with a token through the other service's methods.
  EXPECT_EQ(requests.size(), 13u) << net.web().transcript();
  auto expectRequest = [&](const std::string& path, const std::string& method, const std::string& target,
                           const std::string& body) {
    SCOPED_TRACE(path);
    const WebRequest* request = requestTo(requests, path);
    ASSERT_NE(request, nullptr) << net.web().transcript();
    EXPECT_EQ(request->method, method);
    EXPECT_EQ(request->target, target);
    if (!body.empty()) {
      EXPECT_EQ(request->body, body);
    }
  };
  // The token goes after "?" or "&" as it is, unescaped; the script's headers are not used.
  expectRequest("/me", "GET", "/me?access_token=SEKRET-FB+1", "");
  expectRequest("/me?fields=id", "GET", "/me?fields=id&access_token=SEKRET-FB+1", "");
  expectRequest("/tracks", "GET", std::string("/tracks?oauth_token=") + kSoundcloudToken, "");
  expectRequest("/h", "GET", "/h?access_token=SEKRET-FB+1", "");
  EXPECT_FALSE(requestTo(requests, "/h")->hasHeader("X-Extra"));
  // post: a copy of the parameters with the token last, or in the place of the script's own.
  expectRequest("/p", "POST", "/p", "a=b&access_token=SEKRET-FB%2B1");
  EXPECT_EQ(requestTo(requests, "/p")->header("X-Extra"), "post");
  expectRequest("/r", "POST", "/r", "access_token=SEKRET-FB%2B1&z=1");
  // The token's own bytes, encoded once; as they are in a form.
  expectRequest("/s", "POST", "/s", std::string("q=1&oauth_token=") + kSoundcloudTokenEncoded);
  expectRequest("/sf", "POST", "/sf", "");
  EXPECT_THAT(requestTo(requests, "/sf")->body,
              HasSubstr(std::string("name=\"oauth_token\"\r\n\r\n") + kSoundcloudToken + "\r\n"));
  expectRequest("/f", "POST", "/f", "");
  EXPECT_THAT(requestTo(requests, "/f")->body, HasSubstr("name=\"t\"\r\n\r\nx\r\n"));
  EXPECT_THAT(requestTo(requests, "/f")->body, HasSubstr("name=\"access_token\"\r\n\r\nSEKRET-FB+1\r\n"));
  // A service object as a form value: its token only for a URL of its own service.
  expectRequest("/o", "POST", "/o", "");
  EXPECT_THAT(requestTo(requests, "/o")->body, HasSubstr("name=\"s\"\r\n\r\nSEKRET-FB+1\r\n"));
  expectRequest("/x", "GET", "/x", "");
  expectRequest("/y", "GET", "/y", "");
  for (const WebRequest& request : requests) {
    if (request.target == "/x" || request.target == "/y") {
      EXPECT_EQ(request.body.find("SEKRET"), std::string::npos);
    }
  }

  // Every line that holds a token shows it masked, raw or encoded.
  EXPECT_LOG(r.err, ("MESSAGE: FacebookHttpGet URL https://graph.facebook.com/me?access_token=***\n"));
  EXPECT_LOG(r.err, ("DEBUG: TOKEN ***\n"));
  EXPECT_LOG(r.err, ("DEBUG: oauth_token => ***\n"));
  EXPECT_LOG(r.err, ("WARNING: http data the end : q=1&oauth_token=*** \n"));
  EXPECT_LOG(r.err, ("WARNING: http request not made: CR or LF in a header value (X-A)\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("SEKRET")));
  EXPECT_THAT(tobrel_test::readFile(daemonLog), HasSubstr("recv socialQuery"));
}

// Parameters named by array indices (an array, index keys, inherited ones) go out under those
// names as text, with the token, in the body and in a form alike.
TEST(SocialWeb, PostParametersWithIndexNamesGoOutAsText) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for its namespaces";
  const std::string fbToken = "access_token=SEKRET-FB%2B1";
  const std::string scToken = std::string("oauth_token=") + kSoundcloudTokenEncoded;
  const struct {
    const char* page;
    const char* call;
    std::vector<std::string> body;  // the exact body; for a form, its parts in order
  } cases[] = {
      {"i1", "fb.post(F + 'i1', {0: 'a'})", {"0=a&" + fbToken}},
      {"i2", "fb.post(F + 'i2', ['a'])", {"0=a&" + fbToken}},
      {"i3", "fb.post(F + 'i3', {a: 1, 7: 'x'})", {"7=x&a=1&" + fbToken}},
      {"i4", "sc.post(S + 'i4', Object.create({2: 'p'}))", {"2=p&" + scToken}},
      {"i5", "fb.post(F + 'i5', {0: 'a', access_token: 'mine'})", {"0=a&" + fbToken}},
      {"f1", "fb.post(F + 'f1', {0: 'a'}, {}, true)",
       {formPart("0", "a"), formPart("access_token", "SEKRET-FB+1")}},
      {"f2", "sc.post(S + 'f2', ['a', 'b'], {}, true)",
       {formPart("0", "a"), formPart("1", "b"), formPart("oauth_token", kSoundcloudToken)}},
      {"f3", "fb.post(F + 'f3', {a: 1, 7: 'x'}, {}, true)",
       {formPart("7", "x"), formPart("a", "1"), formPart("access_token", "SEKRET-FB+1")}},
  };
  std::string calls =
      "tobrel.connect('127.0.0.1', 7000);\n"
      "social.init(function () {\n"
      "  var fb = social.facebook, sc = social.soundcloud;\n"
      "  var F = 'https://graph.facebook.com/', S = 'https://api.soundcloud.com/';\n";
  std::vector<std::string> pages;
  for (const auto& c : cases) {
    calls += std::string("  t('") + c.page + "', function () { return " + c.call + "; });\n";
    pages.push_back(c.page);
  }
  calls += "  exit();\n});\n";
  tobrel_test::ServiceNet net;
  ASSERT_TRUE(net.ready()) << net.error();
  TempDir dir;
  const RunResult r = runInNet(net, dir, kCredentials, calls, pages);
  if (HasFailure()) return;
  const std::vector<WebRequest> requests = net.web().requests();
  EXPECT_EQ(requests.size(), std::size(cases)) << net.web().transcript();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    EXPECT_LOG(r.err, (std::string("JSLOG: ") + c.page + " returned \"ok " + c.page + "\"\n"));
    const WebRequest* request = requestTo(requests, std::string("/") + c.page);
    ASSERT_NE(request, nullptr) << net.web().transcript();
    EXPECT_EQ(request->method, "POST");
    if (c.body.size() == 1) {
      EXPECT_EQ(request->body, c.body[0]);
    } else {
      EXPECT_TRUE(inOrder(request->body, c.body)) << request->body;
    }
  }
  EXPECT_THAT(r.err, Not(HasSubstr("SEKRET")));
}

// A token holding a NUL byte would go out cut and be logged cut, past the mask: neither service
// is made, so nothing is sent, and nothing of the tokens reaches the log.
TEST(SocialWeb, ATokenHoldingANulIsNeverSent) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for its namespaces";
  tobrel_test::ServiceNet net;
  ASSERT_TRUE(net.ready()) << net.error();
  TempDir dir;
  const RunResult r = runInNet(
      net, dir,
      "attach socialQuery social { facebookToken: \"SEKRET-FB\\000SEKRET-TAIL\""
      " soundcloudToken: \"SEKRET-SC\\000SEKRET-TAIL\" }",
      "tobrel.connect('127.0.0.1', 7000);\n"
      "social.init(function () {\n"
      "  t('fb get', function () { return social.facebook.get('https://graph.facebook.com/me'); });\n"
      "  t('sc get', function () { return social.soundcloud.get('https://api.soundcloud.com/tracks'); });\n"
      "  t('fb post', function () { return social.facebook.post('https://graph.facebook.com/p', {a: 1}); });\n"
      "  exit();\n"
      "});\n",
      {"me", "tracks", "p"});
  if (HasFailure()) return;
  for (const char* tag : {"fb get", "sc get", "fb post"}) EXPECT_LOG(r.err, (std::string("JSLOG: ") + tag + " threw TypeError"));
  EXPECT_TRUE(net.web().requests().empty()) << net.web().transcript();
  EXPECT_LOG(r.err, ("WARNING: social: facebookToken holds a NUL byte, taken as missing\n"));
  EXPECT_LOG(r.err, ("WARNING: social: soundcloudToken holds a NUL byte, taken as missing\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("SEKRET")));
}
