// The global `social` object: init asks the message daemon for the app's service credentials,
// and the reply puts one object per granted service on `social`. Tokens and secrets stay in
// hidden values; Facebook and SoundCloud requests go only to https URLs of their own domain.
#ifndef TOBREL_VM_MODULES_SOCIAL_H
#define TOBREL_VM_MODULES_SOCIAL_H

#include <v8.h>

#include <string>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

// The URL patterns: the two services' own, and the question-mark test.
enum SocialPattern { kFacebookPattern = 0, kSoundcloudPattern = 1, kQueryPattern = 2 };

// social.init(fn[, obj])
void SocialFunctionInit(const v8::FunctionCallbackInfo<v8::Value>& args);
// The one-shot reply handler of social.init; its record is an EventCallbackData.
bool getSocialCallbackFunction(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

// social.twitter.sign(baseString)
void TwitterSign(const v8::FunctionCallbackInfo<v8::Value>& args);
// social.facebook.get(url), social.facebook.post(url, parameters[, headers[, isForm]]) and
// the same for social.soundcloud.
void FacebookFunctionGet(const v8::FunctionCallbackInfo<v8::Value>& args);
void FacebookFunctionPost(const v8::FunctionCallbackInfo<v8::Value>& args);
void SoundcloudFunctionGet(const v8::FunctionCallbackInfo<v8::Value>& args);
void SoundcloudFunctionPost(const v8::FunctionCallbackInfo<v8::Value>& args);

// True when `url` matches `pattern`. A pattern set that does not compile refuses every URL.
bool isAuthorisedUrl(const std::string& url, SocialPattern pattern);

// Whether the hidden token of `service` (an object given as a form value) may travel to
// `url`: only a social service object, and only to a URL of that service's own pattern.
bool socialTokenAllowed(v8::Isolate* isolate, v8::Local<v8::Object> service, const char* url);

#endif
