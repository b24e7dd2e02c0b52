// The HTTP client behind the global `http` (get, post, get2, post2): one synchronous transfer per
// call, certificates and host names verified against the system CA bundle, http and https only.
//
// For other modules (the social services call the same cores after adding their token):
//   - httpget / httppost take a script argument array like get2 / post2 and return the reply
//     object {header, content}; replyContent gives what get / post return.
//   - httpCall is the one transfer under both; newReplyObject builds its result.
//   - setFormTokenCheck: the form builder adds the hidden "token" (hidden_value.h) of an object
//     given as a form value only when this check, installed by the module that owns such
//     objects, accepts the request URL for that object. With no check installed no token part is
//     ever added.
// The byte-level pieces (collector, URL-encoded body, header line, charset scan and conversion)
// are plain functions over bytes, with no script engine involved.
#ifndef TOBREL_VM_MODULES_HTTP_H
#define TOBREL_VM_MODULES_HTTP_H

#include <curl/curl.h>
#include <stddef.h>
#include <stdint.h>
#include <v8.h>

#include <string>
#include <vector>

// The natives of the `http` row of the module table.
void HttpFunctionGet(const v8::FunctionCallbackInfo<v8::Value>& args);
void HttpFunctionPost(const v8::FunctionCallbackInfo<v8::Value>& args);
void HttpFunctionGet2(const v8::FunctionCallbackInfo<v8::Value>& args);
void HttpFunctionPost2(const v8::FunctionCallbackInfo<v8::Value>& args);

// get2's core: argv[0] the URL, argv[1] the headers when argc is exactly 2. The reply object, or
// empty after throwing "Signature error function" or with a script conversion's exception pending.
v8::MaybeLocal<v8::Object> httpget(v8::Isolate* isolate, const v8::Local<v8::Value>* argv, int argc);
// post2's core: url, parameters[, headers[, isForm]] (argc at most 4); same result as httpget.
v8::MaybeLocal<v8::Object> httppost(v8::Isolate* isolate, const v8::Local<v8::Value>* argv, int argc);
// A parameter sent as these exact bytes, whatever the parameters object holds under its name
// (the social services' token: a script string would carry it one character per byte, and its
// UTF-8 form is not the token).
struct ByteParameter {
  std::string name;
  std::string bytes;
};
// httppost with the parameter `bytes.name` (in the body or the form) holding `bytes.bytes`.
v8::MaybeLocal<v8::Object> httppost(v8::Isolate* isolate, const v8::Local<v8::Value>* argv, int argc,
                                    const ByteParameter& bytes);
// The reply's `content` (what get and post return); empty with an exception pending.
v8::MaybeLocal<v8::Value> replyContent(v8::Isolate* isolate, v8::Local<v8::Object> reply);

// One part of a multipart form: text contents, or the file at `filePath`.
struct FormPart {
  std::string name;
  std::string contents;
  std::string filePath;
  bool isFile = false;
};

// A request body: none makes the request a GET.
struct HttpBody {
  enum class Kind { kFields, kForm };
  Kind kind = Kind::kFields;
  std::string fields;  // the URL-encoded text, or a file's raw bytes
  // -1: a text, sent up to its first NUL; otherwise the exact byte count (file bodies).
  int64_t len = -1;
  std::vector<FormPart> form;  // kForm: never empty (an empty form is no body)
};

// One synchronous transfer of `url` with the header list (may be null) and the body (null: GET).
// Never throws: a failed transfer gives content "curl error" and the header text received.
v8::Local<v8::Object> httpCall(v8::Isolate* isolate, const char* url, curl_slist* headers, const HttpBody* body);

// The reply object: own plain properties `header` and `content`, each made from exactly `len`
// bytes read as UTF-8 (a NUL byte stays in the string).
v8::Local<v8::Object> newReplyObject(v8::Isolate* isolate, const char* header, size_t headerLen,
                                     const char* content, size_t contentLen);

// Whether `holder`'s hidden token may go to `url` as a form part.
using FormTokenCheck = bool (*)(v8::Isolate* isolate, v8::Local<v8::Object> holder, const char* url);
void setFormTokenCheck(FormTokenCheck check);

// ---- Byte-level pieces ----

// A growing byte buffer that keeps one NUL after its `len` bytes. A failed growth ends the app
// (DEBUG "realloc() failed", status 1): an app cannot go on with a reply cut at random.
struct CurlBuffer {
  CurlBuffer() = default;
  CurlBuffer(const CurlBuffer&) = delete;
  CurlBuffer& operator=(const CurlBuffer&) = delete;
  ~CurlBuffer();
  void append(const char* bytes, size_t n);
  void assign(const char* bytes, size_t n);
  // Takes over `bytes` (g_malloc'd, `n` bytes used, NUL after them, `capacity` allocated).
  void adopt(char* bytes, size_t n, size_t capacity);
  char* data = nullptr;  // null while nothing was collected
  size_t len = 0;
  size_t capacity = 0;
};

// libcurl's write and header function: appends to the CurlBuffer given as user data.
size_t curlWriteCallback(char* data, size_t size, size_t count, void* collector);

// The URL-encoded body as the form builder grows it: "name=value" pairs joined by "&", names and
// values percent-encoded (every byte but letters, digits and "-._~").
class UrlEncodedBody {
 public:
  // Appends one pair; true when the text needed more room than it had (the body's own
  // "postSize realloc" moment: it starts with 8192 bytes).
  bool append(const std::string& name, const std::string& value);
  const std::string& text() const { return text_; }
  // Bytes written so far, the "&" after the last pair included.
  size_t written() const { return text_.size(); }
  // The final body: the text without its trailing "&".
  std::string finish() const;

 private:
  std::string text_;
  size_t capacity_ = 8192;
};

// The request header line for one name and value: "name: value".
std::string headerLine(const std::string& name, const std::string& value);
// Why that line must not be sent, or null when it may: a CR or LF in the name or the value would
// end the line early (extra header lines, or a second request on the same connection); the name
// must be a token (no blank, colon or control, and not empty), and the value holds no control
// character but tab (a NUL would cut it short, the others reach the server as they are).
const char* headerLineFault(const std::string& name, const std::string& value);

// The reply's character set: a declaration ("encoding" followed by one character) in the first
// 200 body bytes, else "charset" followed by one character in the header text. The name is the
// first word after it (at most 50 characters), upper case, without quotation marks. False when
// neither keyword is found or no name follows it. Logs the DEBUG lines of the search.
bool findCharset(const char* body, size_t bodyLen, const char* header, size_t headerLen, std::string* name);

enum class Conversion { kConverted, kUnknownCharset, kFailed };
// Converts `in` from `charset` to UTF-8 into `out` (room starts at inLen + inLen / 8 and grows as
// needed); `inLeft` and `outLeft` get the bytes not converted and the room left. kUnknownCharset
// when iconv does not know the name. Room that cannot be allocated ends the app (DEBUG
// "malloc fail", status 1).
Conversion convertToUtf8(const char* charset, const char* in, size_t inLen, CurlBuffer* out, size_t* inLeft,
                         size_t* outLeft);

// Detects the body's character set and converts it to UTF-8 in place, with the DEBUG lines and
// the standard-output lines of a failure; the body stays as it was unless the conversion worked.
void decodeReplyBody(CurlBuffer* body, const CurlBuffer& header);

#endif
