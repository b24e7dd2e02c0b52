// The social module: social.init and its one-shot reply handler, the service objects with
// their hidden credentials, Twitter's signing and the Facebook and SoundCloud requests, which
// carry the service's token and go only to https URLs of that service's own web domain.
#include "social.h"

#include <curl/curl.h>
#include <glib.h>
#include <regex.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "callback_registry.h"
#include "descriptor.h"
#include "event_callback.h"
#include "hidden_value.h"
#include "hmac_sha1.h"
#include "http.h"
#include "link.h"
#include "log.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::NuskMsg;
using net::zolvek::nusk::message::Social;
using v8::Array;
using v8::Context;
using v8::Function;
using v8::FunctionCallback;
using v8::FunctionCallbackInfo;
using v8::HandleScope;
using v8::Int32;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::String;
using v8::Value;

namespace {

// Both services' patterns need "https://", one label of word characters, the domain and a
// slash: no other host, scheme, port or user part can pass.
const char* const kPatternTexts[] = {
    "^https://\\w*\\.facebook\\.com/.*$",
    "^https://\\w*\\.soundcloud\\.com/.*$",
    "\\?",
};
constexpr int kPatternCount = 3;

// Process-wide, compiled on first use; the flag is set only once all three compiled.
regex_t g_patterns[kPatternCount];
bool g_patternsCompiled = false;

// Hidden value names. "urlpattern" ties a service object to its own pattern, so that its token
// goes only to a URL of that service: through the service natives, whatever object the script
// has put under their name, and through the HTTP client's form builder.
const char* const kToken = "token";
const char* const kConsumerSecret = "consumersecret";
const char* const kTokenSecret = "tokensecret";
const char* const kUrlPattern = "urlpattern";

struct ServiceRow {
  const char* property;  // on `social`, and the access word
  SocialPattern pattern;
  const char* tokenParameter;
  FunctionCallback get;
  FunctionCallback post;
};

const ServiceRow kFacebook = {"facebook", kFacebookPattern, "access_token", FacebookFunctionGet, FacebookFunctionPost};
const ServiceRow kSoundcloud = {"soundcloud", kSoundcloudPattern, "oauth_token", SoundcloudFunctionGet,
                                SoundcloudFunctionPost};

// The hidden value `name` of `object` in the engine's ASCII form, when it is a string.
bool hiddenText(Isolate* isolate, Local<Object> object, const char* name, std::string* out) {
  Local<Value> value;
  return getHiddenValue(isolate, object, name, &value) && value->IsString() && asciiValue(isolate, value, out);
}

bool compilePatterns() {
  if (g_patternsCompiled) return true;
  for (int i = 0; i < kPatternCount; ++i) {
    if (regcomp(&g_patterns[i], kPatternTexts[i], REG_EXTENDED) != 0) {
      g_debug("bad pattern: '%s'\n", kPatternTexts[i]);
      for (int j = 0; j < i; ++j) regfree(&g_patterns[j]);
      return false;
    }
  }
  g_patternsCompiled = true;
  return true;
}

// A string holding exactly these bytes (one character per byte), so that a credential reads
// back byte for byte in the engine's ASCII form.
Local<String> byteString(Isolate* isolate, const std::string& bytes) {
  Local<String> text;
  if (!String::NewFromOneByte(isolate, reinterpret_cast<const uint8_t*>(bytes.data()), v8::NewStringType::kNormal,
                              static_cast<int>(bytes.size()))
           .ToLocal(&text))
    return String::Empty(isolate);
  return text;
}

enum class Lookup { kFound, kMissing, kThrew };

// `object`'s property `name` when it is an object.
Lookup objectProperty(Isolate* isolate, Local<Object> object, const char* name, Local<Object>* out) {
  Local<Value> value;
  if (!object->Get(isolate->GetCurrentContext(), newString(isolate, name)).ToLocal(&value)) return Lookup::kThrew;
  if (!value->IsObject()) return Lookup::kMissing;
  *out = value.As<Object>();
  return Lookup::kFound;
}

// The current global's social.<service>.
Lookup serviceObject(Isolate* isolate, const char* service, Local<Object>* object) {
  Local<Object> social;
  const Lookup found = objectProperty(isolate, isolate->GetCurrentContext()->Global(), "social", &social);
  return found == Lookup::kFound ? objectProperty(isolate, social, service, object) : found;
}

// The current global's social.<service>, and its hidden value `name`.
Lookup serviceSecret(Isolate* isolate, const char* service, const char* name, std::string* out) {
  Local<Object> object;
  const Lookup found = serviceObject(isolate, service, &object);
  if (found != Lookup::kFound) return found;
  return hiddenText(isolate, object, name, out) ? Lookup::kFound : Lookup::kMissing;
}

// The service whose token `object` holds, as its hidden value records it.
bool tokenOwner(Isolate* isolate, Local<Object> object, SocialPattern* owner) {
  Local<Value> pattern;
  if (!getHiddenValue(isolate, object, kUrlPattern, &pattern) || !pattern->IsInt32()) return false;
  const int value = pattern.As<Int32>()->Value();
  if (value != kFacebookPattern && value != kSoundcloudPattern) return false;
  *owner = static_cast<SocialPattern>(value);
  return true;
}

// The property `name` of `object` as an object, made and set when it is absent (or holds
// something that is no object, which could not carry the service's methods).
Local<Object> getOrCreateObject(Isolate* isolate, Local<Object> object, const char* name) {
  Local<Object> existing;
  if (objectProperty(isolate, object, name, &existing) == Lookup::kFound) return existing;
  Local<Object> made = Object::New(isolate);
  setProperty(isolate, object, name, made);
  return made;
}

void setHiddenText(Isolate* isolate, Local<Object> object, const char* name, const std::string& secret) {
  setHiddenValue(isolate, object, name, byteString(isolate, secret));
  addLogSecret(secret);
}

void setFunction(Isolate* isolate, Local<Object> object, const char* name, FunctionCallback native) {
  Local<Function> function;
  if (Function::New(isolate->GetCurrentContext(), native).ToLocal(&function))
    setProperty(isolate, object, name, function);
}

void makeTokenService(Isolate* isolate, Local<Object> social, const ServiceRow& row, const std::string& token) {
  // From the first token on, the form builder asks whether a service object may add it.
  setFormTokenCheck(socialTokenAllowed);
  Local<Object> service = getOrCreateObject(isolate, social, row.property);
  setHiddenText(isolate, service, kToken, token);
  setHiddenValue(isolate, service, kUrlPattern, Int32::New(isolate, row.pattern));
  setFunction(isolate, service, "get", row.get);
  setFunction(isolate, service, "post", row.post);
}

void makeTwitter(Isolate* isolate, Local<Object> social, const Social& credentials) {
  Local<Object> twitter = getOrCreateObject(isolate, social, "twitter");
  setFunction(isolate, twitter, "sign", TwitterSign);
  setText(isolate, twitter, "oauth_consumer_key", credentials.twitterconsumerkey());
  setText(isolate, twitter, "oauth_token", credentials.twittertoken());
  addLogSecret(credentials.twittertoken());
  setHiddenText(isolate, twitter, kConsumerSecret, credentials.twitterconsumersecret());
  setHiddenText(isolate, twitter, kTokenSecret, credentials.twittertokensecret());
}

// Whether a credential field counts: set, an empty text included. Log lines and URLs are C text,
// cut at a NUL where the mask, which looks for the whole credential, would not find it: a field
// holding one counts as missing, and the warning names the field only.
bool usable(bool set, const std::string& value, const char* field) {
  if (!set) return false;
  if (value.find('\0') == std::string::npos) return true;
  g_warning("social: %s holds a NUL byte, taken as missing", field);
  return false;
}

// The service objects that the reply's credentials and the app's access list allow.
void makeServices(Isolate* isolate, const Descriptor* descriptor, const Social& credentials) {
  Local<Object> social;
  if (descriptor == nullptr ||
      objectProperty(isolate, isolate->GetCurrentContext()->Global(), "social", &social) != Lookup::kFound)
    return;
  if (descriptor->hasAccess("twitter")) {
    // Each field on its own, so that every faulty one is named.
    const bool fields[] = {
        usable(credentials.has_twitterconsumerkey(), credentials.twitterconsumerkey(), "twitterConsumerKey"),
        usable(credentials.has_twitterconsumersecret(), credentials.twitterconsumersecret(), "twitterConsumerSecret"),
        usable(credentials.has_twittertoken(), credentials.twittertoken(), "twitterToken"),
        usable(credentials.has_twittertokensecret(), credentials.twittertokensecret(), "twitterTokenSecret"),
    };
    if (std::all_of(std::begin(fields), std::end(fields), [](bool ok) { return ok; }))
      makeTwitter(isolate, social, credentials);
  }
  if (descriptor->hasAccess("facebook") &&
      usable(credentials.has_facebooktoken(), credentials.facebooktoken(), "facebookToken"))
    makeTokenService(isolate, social, kFacebook, credentials.facebooktoken());
  if (descriptor->hasAccess("soundcloud") &&
      usable(credentials.has_soundcloudtoken(), credentials.soundcloudtoken(), "soundcloudToken"))
    makeTokenService(isolate, social, kSoundcloud, credentials.soundcloudtoken());
}

// The reply's content, as http.get and http.post return it.
bool contentOf(Isolate* isolate, v8::MaybeLocal<Object> reply, Local<Value>* content) {
  Local<Object> object;
  return reply.ToLocal(&object) && replyContent(isolate, object).ToLocal(content);
}

bool matches(const std::string& url, SocialPattern pattern) {
  return regexec(&g_patterns[pattern], url.c_str(), 0, nullptr, 0) == 0;
}

// Percent-encodes `text` into *result (freed with curl_free); null when escaping failed.
void urlEncode(const char* text, char** result) {
  CURL* curl = curl_easy_init();
  *result = curl != nullptr ? curl_easy_escape(curl, text, 0) : nullptr;
  if (*result != nullptr)
    g_warning("urlEncode : Encoded URL: %s\n", *result);
  else
    g_warning("urlEncode : URL encoding failed");
  if (curl != nullptr) curl_easy_cleanup(curl);
}

// Appends urlEncode of `text` to *key; false when escaping failed.
bool appendEncoded(const std::string& text, std::string* key) {
  char* encoded = nullptr;
  urlEncode(text.c_str(), &encoded);
  if (encoded == nullptr) return false;
  key->append(encoded);
  curl_free(encoded);
  return true;
}

// A token's bytes and the service it belongs to, which is not always the native's: the script
// may have put another service's object under the native's name.
struct ServiceToken {
  std::string bytes;
  SocialPattern owner;
};

// Reads social.<service>'s token for a service native; throws the native's misuse text when
// the script has removed the object or the object carries no token.
bool serviceToken(Isolate* isolate, const ServiceRow& row, ServiceToken* token) {
  Local<Object> object;
  Lookup found = serviceObject(isolate, row.property, &object);
  if (found == Lookup::kFound && !(hiddenText(isolate, object, kToken, &token->bytes) &&
                                   tokenOwner(isolate, object, &token->owner)))
    found = Lookup::kMissing;
  switch (found) {
    case Lookup::kFound: return true;
    case Lookup::kMissing: throwText(isolate, "Signature error function"); return false;
    case Lookup::kThrew: return false;
  }
  return false;
}

// The script's URL argument in the engine's ASCII form, when the native's pattern and that of the
// token's own service allow it.
bool authorisedUrl(const FunctionCallbackInfo<Value>& args, const ServiceRow& row, SocialPattern owner,
                   std::string* url) {
  Isolate* isolate = args.GetIsolate();
  if (!asciiValue(isolate, args[0], url)) return false;
  if (isAuthorisedUrl(*url, row.pattern) && (owner == row.pattern || isAuthorisedUrl(*url, owner))) return true;
  throwText(isolate, "unauthorised url");
  return false;
}

void secureHttpGet(const FunctionCallbackInfo<Value>& args, const ServiceRow& row, const ServiceToken& token) {
  Isolate* isolate = args.GetIsolate();
  g_message("secureHttpGet");
  if (args.Length() < 1 || !args[0]->IsString()) return throwText(isolate, "Signature error function");
  std::string url;
  if (!authorisedUrl(args, row, token.owner, &url)) return;
  const std::string request =
      url + (matches(url, kQueryPattern) ? "&" : "?") + row.tokenParameter + "=" + token.bytes;
  g_message("FacebookHttpGet URL %s", request.c_str());
  Local<Value> argv[] = {byteString(isolate, request)};
  Local<Value> content;
  if (contentOf(isolate, httpget(isolate, argv, 1), &content)) args.GetReturnValue().Set(content);
}

// A shallow copy of the script's parameters with the token parameter set: in the place of a
// parameter of that name, else last. The script's own object is left as it was. The copy holds
// every name the HTTP client would send of the original, inherited enumerable ones included.
// The token's value there is only a place: the HTTP client sends the token's bytes in it.
bool parametersWithToken(Isolate* isolate, Local<Object> parameters, const char* name, Local<Object>* out) {
  Local<Context> context = isolate->GetCurrentContext();
  Local<Array> keys;
  if (!propertyNamesAsText(context, parameters, &keys)) return false;
  Local<Object> copy = Object::New(isolate);
  for (uint32_t i = 0; i < keys->Length(); ++i) {
    Local<Value> key, value;
    if (!keys->Get(context, i).ToLocal(&key) || !parameters->Get(context, key).ToLocal(&value)) return false;
    if (!copy->CreateDataProperty(context, key.As<v8::Name>(), value).FromMaybe(false)) return false;
  }
  if (!copy->CreateDataProperty(context, newString(isolate, name), v8::Undefined(isolate)).FromMaybe(false))
    return false;
  *out = copy;
  return true;
}

void secureHttpPost(const FunctionCallbackInfo<Value>& args, const ServiceRow& row, const ServiceToken& token) {
  Isolate* isolate = args.GetIsolate();
  g_message("secureHttpPost");
  if (args.Length() < 2 || !args[0]->IsString() || !args[1]->IsObject())
    return throwText(isolate, "Signature error function");
  std::string url;
  Local<Object> parameters;
  if (!authorisedUrl(args, row, token.owner, &url) ||
      !parametersWithToken(isolate, args[1].As<Object>(), row.tokenParameter, &parameters))
    return;
  const int argc = std::min(args.Length(), 4);
  Local<Value> argv[4] = {args[0], parameters};
  for (int i = 2; i < argc; ++i) argv[i] = args[i];
  Local<Value> content;
  if (contentOf(isolate, httppost(isolate, argv, argc, ByteParameter{row.tokenParameter, token.bytes}), &content))
    args.GetReturnValue().Set(content);
}

void serviceGet(const FunctionCallbackInfo<Value>& args, const ServiceRow& row) {
  ServiceToken token;
  if (serviceToken(args.GetIsolate(), row, &token)) secureHttpGet(args, row, token);
}

void servicePost(const FunctionCallbackInfo<Value>& args, const ServiceRow& row) {
  ServiceToken token;
  if (serviceToken(args.GetIsolate(), row, &token)) secureHttpPost(args, row, token);
}

}  // namespace

bool isAuthorisedUrl(const std::string& url, SocialPattern pattern) {
  if (!compilePatterns()) return false;
  // regexec reads up to the first NUL; a URL hiding more behind one is not the URL it checked.
  if (url.find('\0') != std::string::npos) return false;
  const int result = regexec(&g_patterns[pattern], url.c_str(), 0, nullptr, 0);
  g_message(" regexp match %d", result);
  return result == 0;
}

bool socialTokenAllowed(Isolate* isolate, Local<Object> service, const char* url) {
  SocialPattern owner;
  return tokenOwner(isolate, service, &owner) && isAuthorisedUrl(url, owner);
}

void SocialFunctionInit(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  const int count = args.Length();
  if (count < 1 || count > 2 || !args[0]->IsFunction() || (count == 2 && !args[1]->IsObject()))
    return throwText(isolate, "Wrong arguments");
  TobrelData* data = appData(isolate);
  // No interactive id: the credentials need no interactive mode.
  std::unique_ptr<NuskMsg> msg(newMessage(nullptr));
  msg->mutable_socialquery();
  CallbackHandler* handler =
      newEventCallbackHandler(getSocialCallbackFunction, "social", args[0].As<Function>(),
                              count == 2 ? args[1] : Local<Value>(), isolate->GetCurrentContext());
  sendMessageWithCallback(data->sock, *msg, handler);
}

bool getSocialCallbackFunction(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_debug("getSocialCallbackFunction");
  Isolate* isolate = Isolate::GetCurrent();
  HandleScope scope(isolate);
  // The callback runs in the context in which init was called.
  Local<Context> context = record->context.Get(isolate);
  Context::Scope enter(context);
  TobrelData* data = appData(context);
  if (msg.has_social()) {
    // A setter or getter of the script's on `social` may throw; the callback still runs.
    v8::TryCatch tryCatch(isolate);
    makeServices(isolate, data != nullptr ? data->descriptor.get() : nullptr, msg.social());
    if (tryCatch.HasCaught()) reportExceptionWarning(isolate, &tryCatch);
  }
  Local<Value> argv[] = {record->argument.IsEmpty() ? Local<Value>() : record->argument.Get(isolate)};
  callScriptFunction(isolate, record->function.Get(isolate), record->argument.IsEmpty() ? 0 : 1, argv);
  return false;  // one-shot: the registry drops the entry and releases the record
}

void TwitterSign(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 1 || !args[0]->IsString()) {
    g_warning("TwitterSign Wrong arguments");
    return throwText(isolate, "Wrong arguments");
  }
  std::string consumerSecret, tokenSecret;
  const Lookup found = serviceSecret(isolate, "twitter", kConsumerSecret, &consumerSecret);
  const Lookup second = found == Lookup::kFound ? serviceSecret(isolate, "twitter", kTokenSecret, &tokenSecret) : found;
  if (second == Lookup::kThrew) return;
  if (second != Lookup::kFound) return throwText(isolate, "Wrong arguments");
  // The OAuth 1.0 signing key: both secrets percent-encoded, joined by "&". A key that could
  // not be built whole is never used.
  std::string key;
  if (!appendEncoded(consumerSecret, &key)) return throwText(isolate, "Wrong arguments");
  key += "&";
  if (!appendEncoded(tokenSecret, &key)) return throwText(isolate, "Wrong arguments");
  std::string base;
  if (!asciiValue(isolate, args[0], &base)) return;
  args.GetReturnValue().Set(newString(isolate, signBase64(base, key).c_str()));
}

void FacebookFunctionGet(const FunctionCallbackInfo<Value>& args) { serviceGet(args, kFacebook); }
void FacebookFunctionPost(const FunctionCallbackInfo<Value>& args) { servicePost(args, kFacebook); }
void SoundcloudFunctionGet(const FunctionCallbackInfo<Value>& args) { serviceGet(args, kSoundcloud); }
void SoundcloudFunctionPost(const FunctionCallbackInfo<Value>& args) { servicePost(args, kSoundcloud); }
