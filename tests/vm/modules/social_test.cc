// The social module in real app children against the message-daemon stand-in: init's shapes
// and its one callback, which services a reply makes, what scripts can see of them, Twitter
// signing, and the uses that are refused before any request. No URL here passes a service's
// pattern: those tests run in a private network (social_web_test.cc).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "device_app.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::CallCase;
using tobrel_test::DeviceApp;
using tobrel_test::kConnect;
using tobrel_test::tryCall;

namespace {

// Every credential holds "SEKRET", which must never show in the app's log.
const char* const kAllCredentials =
    "social { twitterConsumerKey: \"ck\" twitterConsumerSecret: \"SEKRET-CS&1\" twitterToken: \"SEKRET-TT\""
    " twitterTokenSecret: \"SEKRET-TS 2\" facebookToken: \"SEKRET-FB\" soundcloudToken: \"SEKRET-SC\" }";

const std::vector<std::string> kAllServices = {"twitter", "facebook", "soundcloud"};

// kAllCredentials' fields, in order, with `field` holding `value` (in text form) instead.
std::string credentialsWith(const std::string& field, const std::string& value) {
  const std::pair<const char*, const char*> fields[] = {
      {"twitterConsumerKey", "ck"},       {"twitterConsumerSecret", "SEKRET-CS&1"}, {"twitterToken", "SEKRET-TT"},
      {"twitterTokenSecret", "SEKRET-TS 2"}, {"facebookToken", "SEKRET-FB"},       {"soundcloudToken", "SEKRET-SC"},
  };
  std::string text = "social {";
  for (const auto& f : fields) text += std::string(" ") + f.first + ": \"" + (field == f.first ? value : f.second) + "\"";
  return text + " }";
}

// Starts an app whose main.js connects, calls social.init with `callback` and runs `more`;
// the stand-in answers the request with `reply`.
bool startWithReply(DeviceApp& device, const std::string& reply, const std::string& callback,
                    const std::vector<std::string>& accesses, const std::string& more = "") {
  if (!device.control("attach socialQuery " + reply)) return false;
  return device.start(std::string(kConnect) + "social.init(" + callback + ");\n" + more, accesses);
}

void expectNoSecretLogged(DeviceApp& device) { EXPECT_THAT(device.log(), Not(HasSubstr("SEKRET"))); }

// Runs every call in turn in the callback of an init answered with all credentials, in an app
// granted all three services, and expects each outcome.
void expectOutcomesAfterInit(DeviceApp& device, const std::vector<CallCase>& calls) {
  const std::string callback = "function () {\n" + tobrel_test::tryCalls(calls) + "log('done'); }";
  ASSERT_TRUE(startWithReply(device, kAllCredentials, callback, kAllServices));
  ASSERT_TRUE(device.waitLog("JSLOG: done"));
  tobrel_test::expectOutcomes(device, calls);
}

}  // namespace

// Wrong shapes throw and send nothing; the right ones need no interactive mode, send one
// socialQuery without an interactive id each, and call back once, with the function as its
// own receiver and the script's object as the only argument when one was given.
TEST(SocialInit, ShapesAndTheOneCallback) {
  const std::vector<CallCase> refused = {
      {"social.init()", "threw Wrong arguments"},
      {"social.init(1)", "threw Wrong arguments"},
      {"social.init({})", "threw Wrong arguments"},
      {"social.init(function () {}, 'x')", "threw Wrong arguments"},
      {"social.init(function () {}, 5)", "threw Wrong arguments"},
      {"social.init(function () {}, {}, 1)", "threw Wrong arguments"},
  };
  std::string js = kConnect;
  js += tobrel_test::tryCalls(refused);
  js +=
      "var f1 = function () { log('f1 ' + arguments.length + ' ' + (this === f1)); };\n"
      "var o = {tag: 'mine'};\n"
      "var f2 = function (a) { log('f2 ' + arguments.length + ' ' + (a === o) + ' ' + (this === f2)); };\n" +
      tryCall("one", "social.init(f1)") + tryCall("two", "social.init(f2, o)");
  DeviceApp device;
  ASSERT_TRUE(device.control("attach socialQuery response { code: OK }"));
  ASSERT_TRUE(device.start(js, {}));
  ASSERT_TRUE(device.waitLog("JSLOG: f2 "));
  ASSERT_TRUE(device.waitLog("JSLOG: f1 "));
  ASSERT_TRUE(device.waitSent("socialQuery", 2));
  tobrel_test::expectOutcomes(device, refused);
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: one returned undefined\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: f1 0 true\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: f2 1 true true\n"));
  EXPECT_THAT(device.log(), HasSubstr("DEBUG: getSocialCallbackFunction\n"));
  const auto queries = device.sent("socialQuery");
  ASSERT_EQ(queries.size(), 2u);
  for (const auto& q : queries) EXPECT_FALSE(q.msg.has_interactiveid()) << q.msg.DebugString();
  EXPECT_EQ(device.sent("").size(), 2u);  // nothing else reached the daemon
  EXPECT_EQ(device.countLog("JSLOG: f1 "), 1);
  EXPECT_EQ(device.countLog("JSLOG: f2 "), 1);
}

// A service object is made only when the app's access list grants its word and the reply
// carries every one of its fields (an empty text counts); a reply without credentials still
// calls back.
TEST(SocialInit, ServicesFollowTheAccessListAndTheFields) {
  const struct {
    const char* name;
    std::vector<std::string> accesses;
    const char* reply;
    const char* made;
  } cases[] = {
      {"all granted", kAllServices, kAllCredentials, "twitter,facebook,soundcloud"},
      {"facebook only", {"facebook"}, kAllCredentials, "facebook"},
      {"nothing granted", {"http", "led"}, kAllCredentials, ""},
      {"no token secret", kAllServices,
       "social { twitterConsumerKey: \"ck\" twitterConsumerSecret: \"SEKRET-CS\" twitterToken: \"SEKRET-TT\" }", ""},
      {"empty texts count", kAllServices,
       "social { twitterConsumerKey: \"\" twitterConsumerSecret: \"\" twitterToken: \"\" twitterTokenSecret: \"\""
       " soundcloudToken: \"\" }",
       "twitter,soundcloud"},
      {"no social part", kAllServices, "response { code: ERROR }", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceApp device;
    ASSERT_TRUE(startWithReply(device, c.reply,
                               "function () { log('made ' + ['twitter', 'facebook', 'soundcloud']"
                               ".filter(function (n) { return n in social; }).join()); }",
                               c.accesses));
    ASSERT_TRUE(device.waitLog("JSLOG: made"));
    EXPECT_THAT(device.log(), HasSubstr(std::string("JSLOG: made ") + c.made + "\n"));
    expectNoSecretLogged(device);
  }
}

// Log lines and URLs are C text: a credential holding a NUL byte would be cut there, past the
// mask. Its service is not made, as for a missing field, and the warning names the field only.
TEST(SocialInit, ACredentialHoldingANulCountsAsMissing) {
  const struct {
    const char* field;
    const char* made;
  } cases[] = {
      {"twitterConsumerKey", "facebook,soundcloud"}, {"twitterConsumerSecret", "facebook,soundcloud"},
      {"twitterToken", "facebook,soundcloud"},       {"twitterTokenSecret", "facebook,soundcloud"},
      {"facebookToken", "twitter,soundcloud"},       {"soundcloudToken", "twitter,facebook"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    DeviceApp device;
    // A twitter object made anyway would log its secrets' encoded forms when signing.
    ASSERT_TRUE(startWithReply(device, credentialsWith(c.field, "SEKRET-HEAD\\000SEKRET-TAIL"),
                               "function () { log('made ' + ['twitter', 'facebook', 'soundcloud']"
                               ".filter(function (n) { return n in social; }).join());\n"
                               "  if (social.twitter) social.twitter.sign('base');\n"
                               "  log('done'); }",
                               kAllServices));
    ASSERT_TRUE(device.waitLog("JSLOG: done"));
    EXPECT_THAT(device.log(), HasSubstr(std::string("JSLOG: made ") + c.made + "\n"));
    EXPECT_EQ(device.countLog(std::string("WARNING: social: ") + c.field + " holds a NUL byte, taken as missing\n"), 1);
    EXPECT_EQ(device.countLog(" holds a NUL byte"), 1);
    expectNoSecretLogged(device);
  }
}

// The handler acts on the first reply only: a second one for the same request is an unknown
// correlation. A later init rebuilds from its own reply on the objects the first one made, and
// leaves a service that its reply lacks as it was.
TEST(SocialInit, CallbackRunsOnceAndALaterInitReusesTheObjects) {
  DeviceApp device;
  ASSERT_TRUE(startWithReply(device, kAllCredentials,
                             "function () { log('first'); fb = social.facebook; fb.mark = 'kept'; tw = social.twitter; }",
                             {"facebook", "twitter", "button"},
                             "var fb, tw;\n"
                             "tobrel.button.addListener(function () {\n"
                             "  social.init(function () {\n"
                             "    log('second ' + (social.facebook === fb) + ' ' + fb.mark + ' ' + typeof fb.get +"
                             " ' ' + (social.twitter === tw) + ' ' + typeof tw.sign);\n"
                             "  });\n"
                             "  return true;\n"
                             "});\n"));
  ASSERT_TRUE(device.waitLog("JSLOG: first"));
  ASSERT_TRUE(device.control("attach socialQuery none"));
  // The app's log can run ahead of the stand-in's transcript.
  ASSERT_TRUE(device.waitSent("socialQuery", 1));
  const auto first = device.sent("socialQuery");
  ASSERT_EQ(first.size(), 1u);
  ASSERT_TRUE(device.answer(first[0], kAllCredentials));
  ASSERT_TRUE(device.waitLog("WARNING: NO CORRELATION FOUND"));

  ASSERT_TRUE(device.control("button last SIMPLE"));
  ASSERT_TRUE(device.waitSent("socialQuery", 2));
  const auto queries = device.sent("socialQuery");
  ASSERT_TRUE(device.answer(queries[1], "social { facebookToken: \"SEKRET-FB2\" }"));
  ASSERT_TRUE(device.waitLog("JSLOG: second"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: second true kept function true function\n"));
  EXPECT_EQ(device.countLog("JSLOG: first"), 1);
  expectNoSecretLogged(device);
}

// A daemon that echoes a credential in a field that is no secret (an RFID id) must not get it
// into the trace of what the app received, where the text form escapes quotes, control
// characters and bytes from 0x80 up: every credential here holds such bytes.
TEST(SocialInit, ACredentialEchoedInAnotherFieldIsMaskedInTheTrace) {
  // In NuskMsg text form, as the stand-in reads it.
  const std::vector<std::string> secrets = {
      "SEKRET-CS\\351",      "SEKRET-TT\\\"\\351'", "SEKRET-TS\\n\\t\\377", "SEKRET-FB\\303\\251\\200",
      "SEKRET-SC\\\\\\351",
  };
  DeviceApp device;
  ASSERT_TRUE(startWithReply(device,
                             "social { twitterConsumerKey: \"ck\" twitterConsumerSecret: \"" + secrets[0] +
                                 "\" twitterToken: \"" + secrets[1] + "\" twitterTokenSecret: \"" + secrets[2] +
                                 "\" facebookToken: \"" + secrets[3] + "\" soundcloudToken: \"" + secrets[4] + "\" }",
                             "function () { log('ready ' + Object.keys(social).join()); }", kAllServices));
  ASSERT_TRUE(device.waitLog("JSLOG: ready"));
  ASSERT_THAT(device.log(), HasSubstr("JSLOG: ready init,twitter,facebook,soundcloud\n"));
  // The Facebook token's bytes once more as the UTF-8 text of a one-character-per-byte string.
  std::vector<std::string> echoes = secrets;
  echoes.push_back("SEKRET-FB\\303\\203\\302\\251\\302\\200");
  for (const std::string& echo : echoes)
    ASSERT_TRUE(device.control("send last rfidCallback { id: \"" + echo + "\" content: \"c\" }"));
  ASSERT_TRUE(device.waitLog("rfidCallback {", static_cast<int>(echoes.size())));
  EXPECT_EQ(device.countLog("  id: \"***\"\n"), static_cast<int>(echoes.size())) << device.log();
  expectNoSecretLogged(device);
}

// Scripts see the methods and the two public Twitter values, never a token or a secret, by
// any road: keys, own names, symbols, JSON, a for-in loop or the prototype chain.
TEST(SocialServices, HiddenValuesStayHidden) {
  DeviceApp device;
  ASSERT_TRUE(startWithReply(
      device, kAllCredentials,
      "function () {\n"
      "  function all(o) { var names = []; for (var k in o) names.push(k); return names.join() + '|' +"
      " Reflect.ownKeys(o).map(String).join() + '|' + JSON.stringify(o); }\n"
      "  log('twitter ' + all(social.twitter));\n"
      "  log('facebook ' + all(social.facebook));\n"
      "  log('soundcloud ' + all(social.soundcloud));\n"
      "  log('social ' + Object.keys(social).join());\n"
      "  log('public ' + social.twitter.oauth_consumer_key + ' ' + (social.twitter.oauth_token === 'SEKRET-TT') +"
      " ' ' + social.facebook.token + ' ' + social.twitter.consumersecret);\n"
      "  log('done');\n"
      "}",
      kAllServices));
  ASSERT_TRUE(device.waitLog("JSLOG: done"));
  EXPECT_THAT(device.log(),
              HasSubstr("JSLOG: twitter sign,oauth_consumer_key,oauth_token|sign,oauth_consumer_key,oauth_token|"
                        "{\"oauth_consumer_key\":\"ck\",\"oauth_token\":\"***\"}\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: facebook get,post|get,post|{}\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: soundcloud get,post|get,post|{}\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: social init,twitter,facebook,soundcloud\n"));
  EXPECT_THAT(device.log(), HasSubstr("JSLOG: public ck true undefined undefined\n"));
  expectNoSecretLogged(device);
}

// sign() is HMAC-SHA1 under the percent-encoded consumer secret, "&" and the percent-encoded
// token secret; wrong shapes and a removed twitter object throw "Wrong arguments".
TEST(SocialServices, TwitterSignsWithTheEncodedSecrets) {
  DeviceApp device;
  expectOutcomesAfterInit(device, {
      {"social.twitter.sign('POST&https%3A%2F%2Fapi&a%3Db') === "
       "signHMACSHA1('POST&https%3A%2F%2Fapi&a%3Db', 'SEKRET-CS%261&SEKRET-TS%202')",
       "returned true"},
      {"social.twitter.sign('').length", "returned 28"},
      {"social.twitter.sign()", "threw Wrong arguments"},
      {"social.twitter.sign(5)", "threw Wrong arguments"},
      {"social.twitter.sign('a', 'b')", "threw Wrong arguments"},
      {"(function () { var s = social.twitter.sign; delete social.twitter; return s('x'); })()",
       "threw Wrong arguments"},
      {"(function () { var s = social.facebook.get; social = 5; return s('https://www.facebook.com/'); })()",
       "threw Signature error function"},
  });
  if (HasFatalFailure()) return;
  EXPECT_EQ(device.countLog("WARNING: TwitterSign Wrong arguments\n"), 3);
  // The encoded secrets are logged by the signing step, masked.
  EXPECT_THAT(device.log(), HasSubstr("WARNING: urlEncode : Encoded URL: ***\n"));
  expectNoSecretLogged(device);
}

// URLs off the service's own https domain, and calls of the wrong shape, are refused before
// any request is made; so is a service object the script has removed.
TEST(SocialServices, RefusedUrlsAndShapesMakeNoRequest) {
  DeviceApp device;
  expectOutcomesAfterInit(device, {
      {"social.facebook.get('http://www.facebook.com/')", "threw unauthorised url"},
      {"social.facebook.get('https://facebook.com/')", "threw unauthorised url"},
      {"social.facebook.get('https://a.b.facebook.com/')", "threw unauthorised url"},
      {"social.facebook.get('https://www.facebook.com:443/')", "threw unauthorised url"},
      {"social.facebook.get('https://www.facebook.com')", "threw unauthorised url"},
      {"social.facebook.get('https://www.facebook.com.evil.test/')", "threw unauthorised url"},
      {"social.facebook.get('https://www.facebook.com@evil.test/')", "threw unauthorised url"},
      {"social.facebook.get('https://evilfacebook.com/')", "threw unauthorised url"},
      {"social.facebook.get('https://www.FACEBOOK.com/')", "threw unauthorised url"},
      {"social.facebook.get('HTTPS://www.facebook.com/')", "threw unauthorised url"},
      {"social.facebook.get('https://www.soundcloud.com/')", "threw unauthorised url"},
      {"social.soundcloud.get('https://www.facebook.com/')", "threw unauthorised url"},
      {"social.soundcloud.post('https://api.soundcloud.com:8443/x', {})", "threw unauthorised url"},
      {"social.facebook.post('https://evil.test/?www.facebook.com/', {})", "threw unauthorised url"},
      {"social.facebook.get('https://www.facebook.com/\\0.evil.test/')", "threw unauthorised url"},
      {"social.facebook.get()", "threw Signature error function"},
      {"social.facebook.get(5)", "threw Signature error function"},
      {"social.facebook.post('https://www.facebook.com/')", "threw Signature error function"},
      {"social.facebook.post('https://www.facebook.com/', 'a=b')", "threw Signature error function"},
      {"social.soundcloud.post(5, {})", "threw Signature error function"},
      {"(function () { var g = social.soundcloud.get; delete social.soundcloud;"
       " return g('https://api.soundcloud.com/'); })()",
       "threw Signature error function"},
  });
  if (HasFatalFailure()) return;
  EXPECT_THAT(device.log(), HasSubstr("MESSAGE:  regexp match 1\n"));
  EXPECT_THAT(device.log(), Not(HasSubstr("FacebookHttpGet URL")));
  expectNoSecretLogged(device);
}

// A script that replaced `social`, or guards a service name with a throwing setter, still gets
// its callback; the app goes on and nothing leaks into the log.
TEST(SocialInit, AReplacedOrGuardedSocialStillCallsBack) {
  const struct {
    const char* name;
    const char* mainJs;
    const char* logged;
  } cases[] = {
      {"replaced", "var init = social.init; social = 'x';\n"
                   "init(function () { log('called ' + typeof social); });\n",
       "JSLOG: called string\n"},
      {"guarded", "Object.defineProperty(social, 'facebook', {get: function () {}, set: function () { throw 'setter'; }});\n"
                  "social.init(function () { log('called ' + typeof social.twitter + ' ' + typeof social.soundcloud); });\n",
       "JSLOG: called object object\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceApp device;
    ASSERT_TRUE(device.control(std::string("attach socialQuery ") + kAllCredentials));
    ASSERT_TRUE(device.start(std::string(kConnect) + c.mainJs, kAllServices));
    ASSERT_TRUE(device.waitLog("JSLOG: called"));
    EXPECT_THAT(device.log(), HasSubstr(c.logged));
    expectNoSecretLogged(device);
  }
}
