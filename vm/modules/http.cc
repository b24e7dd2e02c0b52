// The `http` object: script arguments become a header list and a body, one blocking libcurl
// transfer runs inside the native, and the reply comes back as {header, content} in UTF-8.
// The main loop (device link, timers) waits for the whole transfer; no time limit is set.
#include "http.h"

#include <errno.h>
#include <glib.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "data_resource.h"
#include "hidden_value.h"
#include "own_property.h"
#include "percent_encode.h"
#include "script.h"

using v8::Array;
using v8::Context;
using v8::FunctionCallbackInfo;
using v8::Isolate;
using v8::Local;
using v8::MaybeLocal;
using v8::NewStringType;
using v8::Object;
using v8::String;
using v8::Value;

namespace {

constexpr char kSignatureError[] = "Signature error function";
constexpr char kCurlError[] = "curl error";
constexpr size_t kBodySearchBytes = 200;  // where a body's own declaration counts
constexpr size_t kCharsetNameMax = 50;

FormTokenCheck g_formTokenCheck = nullptr;

// A request half built in memory cannot be finished, and a reply cut at random is no reply.
[[noreturn]] void endOutOfMemory(const char* line) {
  g_debug("%s", line);
  fflush(nullptr);
  _exit(1);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
// The characters of a token, the only ones a header name may hold.
bool isTokenChar(unsigned char c) {
  return g_ascii_isalnum(c) || (c != '\0' && strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}
// C0 controls and DEL: no header value may hold them but a tab.
bool isControl(unsigned char c) { return c < 0x20 || c == 0x7f; }
bool isQuote(char c) { return c == '"' || c == '\''; }

const char* findBytes(const char* haystack, size_t length, const char* needle) {
  if (haystack == nullptr) return nullptr;
  return static_cast<const char*>(memmem(haystack, length, needle, strlen(needle)));
}

// The name that starts at `from` (inside text[0, length)), read as "%50s" would, then without its
// quotation marks and in upper case; false when no name is there.
bool readCharsetName(const char* text, size_t length, size_t from, std::string* name) {
  size_t at = from;
  while (at < length && text[at] != '\0' && isSpace(text[at])) ++at;
  std::string word;
  while (at < length && text[at] != '\0' && !isSpace(text[at]) && word.size() < kCharsetNameMax) word += text[at++];
  if (word.empty()) return false;
  size_t i = isQuote(word[0]) ? 1 : 0;
  name->clear();
  for (; i < word.size() && !isQuote(word[i]); ++i) name->push_back(g_ascii_toupper(word[i]));
  return !name->empty();
}

bool resourcePath(Isolate* isolate, Local<Object> resource, std::string* path) {
  if (!fileObjectPath(isolate, resource, path)) return false;
  path->resize(strlen(path->c_str()));  // the path is a C string from here on
  return true;
}

// `bytes` for a log line, every byte of it (a NUL included) and each control escaped.
std::string shownBytes(const std::string& bytes) {
  std::string shown;
  for (size_t from = 0;;) {
    const size_t nul = bytes.find('\0', from);
    gchar* part = g_strescape(bytes.substr(from, nul - from).c_str(), nullptr);
    shown += part;
    g_free(part);
    if (nul == std::string::npos) return shown;
    shown += "\\000";
    from = nul + 1;
  }
}

enum class HeaderList { kBuilt, kThrew, kRefused };

// Appends one "name: value" line per property of `headers`. kRefused (with its WARNING) for a
// line that must not be sent; kThrew with an exception pending.
HeaderList appendCurlHeaders(Isolate* isolate, Local<Object> headers, curl_slist** list) {
  Local<Context> context = isolate->GetCurrentContext();
  Local<Array> names;
  if (!enumerableNames(isolate, headers, &names)) return HeaderList::kThrew;
  g_debug("Headers : %d", names->Length());
  for (uint32_t i = 0; i < names->Length(); ++i) {
    Local<Value> key, value;
    if (!names->Get(context, i).ToLocal(&key) || !headers->Get(context, key).ToLocal(&value))
      return HeaderList::kThrew;
    std::string name, text;
    if (!asciiValue(isolate, key, &name) || !asciiValue(isolate, value, &text)) return HeaderList::kThrew;
    if (const char* fault = headerLineFault(name, text)) {
      // The name itself may hold what is refused.
      g_warning("http request not made: %s (%s)", fault, shownBytes(name).c_str());
      return HeaderList::kRefused;
    }
    g_debug("HEADER %s => %s", name.c_str(), text.c_str());
    curl_slist* grown = curl_slist_append(*list, headerLine(name, text).c_str());
    if (grown == nullptr) endOutOfMemory("malloc fail");
    *list = grown;
  }
  return HeaderList::kBuilt;
}

// The header list of the headers value (empty: none), as appendCurlHeaders reports it.
HeaderList genCurlHeaders(Isolate* isolate, Local<Value> value, curl_slist** list) {
  if (value.IsEmpty()) return HeaderList::kBuilt;
  Local<Context> context = isolate->GetCurrentContext();
  if (value->IsArray()) {
    g_debug("header array");
    Local<Array> array = value.As<Array>();
    for (uint32_t i = 0; i < array->Length(); ++i) {
      g_debug("array [%d]", i);
      Local<Value> element;
      if (!array->Get(context, i).ToLocal(&element)) return HeaderList::kThrew;
      if (!element->IsObject()) continue;
      const HeaderList appended = appendCurlHeaders(isolate, element.As<Object>(), list);
      if (appended != HeaderList::kBuilt) return appended;
    }
    return HeaderList::kBuilt;
  }
  g_debug("header map");
  return appendCurlHeaders(isolate, value.As<Object>(), list);
}

// A file object's bytes as the whole body: only a regular file counts, anything else (missing,
// a directory, a device) leaves the body empty.
void readFileBody(Isolate* isolate, Local<Object> resource, HttpBody* body) {
  std::string path;
  if (!resourcePath(isolate, resource, &path)) return;
  std::unique_ptr<ResourceContent> content = loadResourceFile(path.c_str());
  if (content == nullptr) return;
  body->fields.assign(content->buf, static_cast<size_t>(content->len));
  body->len = content->len;
}

// The text of a pair or a text part: the given bytes for the name of `bytes` (when there is
// one), else the value in UTF-8; false with an exception pending.
bool parameterText(Isolate* isolate, const std::string& name, Local<Value> value, const ByteParameter* bytes,
                   std::string* text) {
  if (bytes != nullptr && name == bytes->name) {
    *text = bytes->bytes;
    return true;
  }
  return utf8Value(isolate, value, text);
}

// The URL-encoded (or raw file) body of `parameters`; false with an exception pending.
bool genCurlPostSimple(Isolate* isolate, Local<Object> parameters, const ByteParameter* bytes, HttpBody* body) {
  Local<Context> context = isolate->GetCurrentContext();
  g_debug("genCurlPostSimple");
  Local<Array> names;
  if (!enumerableNames(isolate, parameters, &names)) return false;
  g_debug("Post params: %d", names->Length());
  UrlEncodedBody pairs;
  bool fileBody = false;
  for (uint32_t i = 0; i < names->Length(); ++i) {
    Local<Value> key, value;
    if (!names->Get(context, i).ToLocal(&key) || !parameters->Get(context, key).ToLocal(&value)) return false;
    if (value->IsObject() && names->Length() == 1) {
      g_debug("genCurlPostSimple : value->IsObject() && arrayKey->Length() == 1");
      if (isFileObject(value)) {
        readFileBody(isolate, value.As<Object>(), body);
        fileBody = true;
        break;
      }
      continue;
    }
    std::string name, text;
    if (!utf8Value(isolate, key, &name) || !parameterText(isolate, name, value, bytes, &text)) return false;
    g_debug("%s => %s", name.c_str(), text.c_str());
    if (pairs.append(name, text)) g_debug("postSize realloc");
    g_debug("postSize : %d", static_cast<int>(pairs.written()));
    g_debug("data : %s", pairs.text().c_str());
  }
  if (!fileBody) {
    g_debug("postSize : %d", static_cast<int>(pairs.written()));
    body->fields = pairs.finish();
    body->len = -1;
  }
  g_warning("http data the end : %s ", body->fields.c_str());
  return true;
}

// The multipart form of `parameters` for a request to `url`; false with an exception pending.
bool genCurlPostForm(Isolate* isolate, Local<Object> parameters, const char* url, const ByteParameter* bytes,
                     HttpBody* body) {
  Local<Context> context = isolate->GetCurrentContext();
  Local<Array> names;
  if (!enumerableNames(isolate, parameters, &names)) return false;
  g_debug("Post params: %d", names->Length());
  body->kind = HttpBody::Kind::kForm;
  for (uint32_t i = 0; i < names->Length(); ++i) {
    Local<Value> key, value;
    if (!names->Get(context, i).ToLocal(&key) || !parameters->Get(context, key).ToLocal(&value)) return false;
    FormPart part;
    if (value->IsObject()) {
      Local<Object> object = value.As<Object>();
      if (!utf8Value(isolate, key, &part.name)) return false;
      Local<Value> token;
      if (getHiddenValue(isolate, object, "token", &token) && token->IsString()) {
        // Only the service that owns the token may receive it: anywhere else the script could
        // read its own token back.
        if (g_formTokenCheck == nullptr || !g_formTokenCheck(isolate, object, url)) continue;
        if (!asciiValue(isolate, token, &part.contents)) return false;
        g_debug("TOKEN %s", part.contents.c_str());
      } else if (isFileObject(object)) {
        if (!resourcePath(isolate, object, &part.filePath)) return false;
        part.isFile = true;
      } else {
        continue;
      }
    } else {
      if (!utf8Value(isolate, key, &part.name) || !parameterText(isolate, part.name, value, bytes, &part.contents))
        return false;
      g_debug("%s => %s", part.name.c_str(), part.contents.c_str());
    }
    body->form.push_back(std::move(part));
  }
  return true;
}

// Owns the transfer's libcurl objects until the native returns.
struct Transfer {
  ~Transfer() {
    if (mime != nullptr) curl_mime_free(mime);
    if (easy != nullptr) curl_easy_cleanup(easy);
  }
  CURL* easy = nullptr;
  curl_mime* mime = nullptr;
};

// The form as a libcurl MIME body; a file part that is not a regular file fails the transfer
// like any read error (a directory or a device has no content to send).
CURLcode buildMime(CURL* easy, const std::vector<FormPart>& parts, curl_mime** mime) {
  *mime = curl_mime_init(easy);
  if (*mime == nullptr) return CURLE_OUT_OF_MEMORY;
  for (const FormPart& part : parts) {
    curl_mimepart* added = curl_mime_addpart(*mime);
    if (added == nullptr) return CURLE_OUT_OF_MEMORY;
    CURLcode result = curl_mime_name(added, part.name.c_str());
    if (result != CURLE_OK) return result;
    if (!part.isFile) {
      result = curl_mime_data(added, part.contents.data(), part.contents.size());
    } else {
      struct stat info;
      if (stat(part.filePath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return CURLE_READ_ERROR;
      result = curl_mime_filedata(added, part.filePath.c_str());
    }
    if (result != CURLE_OK) return result;
  }
  return CURLE_OK;
}

CURLcode perform(Transfer* transfer, const char* url, curl_slist* headers, const HttpBody* body, CurlBuffer* content,
                 CurlBuffer* header) {
  CURL* easy = transfer->easy;
  // Certificates and host names are verified against the system CA bundle; a failure is a
  // failed transfer like any other.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  // Web requests only: file:// and the other schemes would go around the app-folder rule.
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, curlWriteCallback);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, content);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, curlWriteCallback);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, header);
  curl_easy_setopt(easy, CURLOPT_URL, url);
  curl_easy_setopt(easy, CURLOPT_HEADER, 0L);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
  if (body != nullptr) {
    g_debug("datapost != NULL");
    if (body->kind == HttpBody::Kind::kForm) {
      CURLcode built = buildMime(easy, body->form, &transfer->mime);
      if (built != CURLE_OK) return built;
      curl_easy_setopt(easy, CURLOPT_MIMEPOST, transfer->mime);
    } else {
      g_debug("httpCall isForm = false : %s", body->fields.c_str());
      g_debug("httpCall datapost.len : %d", static_cast<int>(body->len));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body->fields.c_str());
      if (body->len != 0) curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->len));
    }
  }
  return curl_easy_perform(easy);
}

// The failed-transfer content; the header text stays as collected.
void markFailed(CurlBuffer* content) {
  content->assign(kCurlError, strlen(kCurlError));
  g_debug("curl error : %s", content->data);
}

// get and post: the reply's content instead of the reply.
void returnContent(const FunctionCallbackInfo<Value>& args, MaybeLocal<Object> reply) {
  Local<Object> object;
  Local<Value> content;
  if (!reply.ToLocal(&object) || !replyContent(args.GetIsolate(), object).ToLocal(&content)) return;
  args.GetReturnValue().Set(content);
}

template <int kMaxArgs>
MaybeLocal<Object> callCore(const FunctionCallbackInfo<Value>& args,
                            MaybeLocal<Object> (*core)(Isolate*, const Local<Value>*, int)) {
  Local<Value> argv[kMaxArgs];
  const int argc = std::min(args.Length(), kMaxArgs);
  for (int i = 0; i < argc; ++i) argv[i] = args[i];
  return core(args.GetIsolate(), argv, argc);
}

}  // namespace

// ---- Byte-level pieces ----

CurlBuffer::~CurlBuffer() { g_free(data); }

void CurlBuffer::append(const char* bytes, size_t n) {
  if (len + n + 1 > capacity) {
    // Doubling keeps a large reply from being copied once per delivery.
    const size_t wanted = std::max(len + n + 1, capacity * 2);
    char* grown = static_cast<char*>(g_try_realloc(data, wanted));
    if (grown == nullptr) endOutOfMemory("realloc() failed");
    data = grown;
    capacity = wanted;
  }
  if (n > 0) memcpy(data + len, bytes, n);
  len += n;
  data[len] = '\0';
}

void CurlBuffer::assign(const char* bytes, size_t n) {
  len = 0;
  append(bytes, n);
}

void CurlBuffer::adopt(char* bytes, size_t n, size_t allocated) {
  g_free(data);
  data = bytes;
  len = n;
  capacity = allocated;
}

size_t curlWriteCallback(char* data, size_t size, size_t count, void* collector) {
  const size_t n = size * count;
  static_cast<CurlBuffer*>(collector)->append(data, n);
  return n;
}

bool UrlEncodedBody::append(const std::string& name, const std::string& value) {
  const std::string pair = percentEncode(name) + "=" + percentEncode(value) + "&";
  bool grew = false;
  // Room for the escaped pair itself (escaping can triple a value) and the terminating NUL.
  if (text_.size() + pair.size() + 1 > capacity_) {
    capacity_ = text_.size() + pair.size() + 1;
    grew = true;
  }
  text_ += pair;
  return grew;
}

std::string UrlEncodedBody::finish() const {
  // With no pair written there is no "&" to take off.
  return text_.empty() ? text_ : text_.substr(0, text_.size() - 1);
}

std::string headerLine(const std::string& name, const std::string& value) { return name + ": " + value; }

const char* headerLineFault(const std::string& name, const std::string& value) {
  auto breaksLine = [](const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; };
  if (breaksLine(name)) return "CR or LF in a header name";
  if (breaksLine(value)) return "CR or LF in a header value";
  if (name.empty()) return "empty header name";
  for (char c : name)
    if (!isTokenChar(static_cast<unsigned char>(c))) return "character not allowed in a header name";
  for (char c : value)
    if (c != '\t' && isControl(static_cast<unsigned char>(c))) return "control character in a header value";
  return nullptr;
}

bool findCharset(const char* body, size_t bodyLen, const char* header, size_t headerLen, std::string* name) {
  const char* match = findBytes(body, std::min(bodyLen, kBodySearchBytes), "encoding");
  if (match != nullptr) return readCharsetName(body, bodyLen, static_cast<size_t>(match - body) + 9, name);
  g_debug("encoding not in data");
  match = findBytes(header, headerLen, "charset");
  if (match != nullptr) return readCharsetName(header, headerLen, static_cast<size_t>(match - header) + 8, name);
  g_debug("encoding not in header");
  return false;
}

Conversion convertToUtf8(const char* charset, const char* in, size_t inLen, CurlBuffer* out, size_t* inLeft,
                         size_t* outLeft) {
  *inLeft = inLen;
  *outLeft = 0;
  iconv_t cd = iconv_open("UTF-8", charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return Conversion::kUnknownCharset;
  size_t room = inLen + inLen / 8 + 1;
  char* buffer = static_cast<char*>(g_try_malloc(room));
  if (buffer == nullptr) endOutOfMemory("malloc fail");
  char* input = const_cast<char*>(in);
  size_t used = 0;
  Conversion result = Conversion::kConverted;
  for (bool flushing = false;;) {
    char* output = buffer + used;
    size_t left = room - used - 1;  // one byte stays for the NUL after the text
    const size_t done = flushing ? iconv(cd, nullptr, nullptr, &output, &left) : iconv(cd, &input, inLeft, &output, &left);
    used = static_cast<size_t>(output - buffer);
    *outLeft = left;
    if (done == static_cast<size_t>(-1) && errno == E2BIG) {
      // Text in which many bytes need two or three UTF-8 bytes: more room, and go on.
      room *= 2;
      char* grown = static_cast<char*>(g_try_realloc(buffer, room));
      if (grown == nullptr) endOutOfMemory("malloc fail");
      buffer = grown;
      continue;
    }
    if (done == static_cast<size_t>(-1)) {
      result = Conversion::kFailed;
      break;
    }
    if (flushing) break;
    flushing = true;  // a stateful charset may still hold output
  }
  if (iconv_close(cd) != 0) {
    printf("Fail to iconv_close.\n");
    fflush(stdout);
  }
  if (result != Conversion::kConverted) {
    g_free(buffer);
    return result;
  }
  buffer[used] = '\0';
  out->adopt(buffer, used, room);
  return result;
}

void decodeReplyBody(CurlBuffer* body, const CurlBuffer& header) {
  std::string name;
  if (!findCharset(body->data, body->len, header.data, header.len, &name)) return;
  g_debug("encoding: %s", name.c_str());
  if (name == "UTF-8") {
    g_debug("already UTF-8");
    return;
  }
  if (body->len == 0) return;  // nothing to convert
  CurlBuffer converted;
  size_t inLeft, outLeft;
  switch (convertToUtf8(name.c_str(), body->data, body->len, &converted, &inLeft, &outLeft)) {
    case Conversion::kUnknownCharset:
      printf("Failed to iconv_open %s to %s.\n", name.c_str(), "UTF-8");
      break;
    case Conversion::kFailed:
      printf("Fail to convert characters to new code set in remaining %d out remaining %d.\n",
             static_cast<int>(inLeft), static_cast<int>(outLeft));
      break;
    case Conversion::kConverted:
      g_debug("in remaining %d out remaining %d.\n", static_cast<int>(inLeft), static_cast<int>(outLeft));
      std::swap(body->data, converted.data);
      std::swap(body->len, converted.len);
      std::swap(body->capacity, converted.capacity);
      return;
  }
  fflush(stdout);
}

// ---- The client ----

void setFormTokenCheck(FormTokenCheck check) { g_formTokenCheck = check; }

Local<Object> newReplyObject(Isolate* isolate, const char* header, size_t headerLen, const char* content,
                             size_t contentLen) {
  auto text = [isolate](const char* what, const char* bytes, size_t length) {
    Local<String> string;
    // A reply beyond the engine's longest string becomes the empty string rather than a crash,
    // and the log says why the script got nothing.
    if (length > static_cast<size_t>(String::kMaxLength) ||
        !String::NewFromUtf8(isolate, bytes != nullptr ? bytes : "", NewStringType::kNormal, static_cast<int>(length))
             .ToLocal(&string)) {
      g_warning("http reply too long to hold: %s of %zu bytes returned as \"\"", what, length);
      return String::Empty(isolate);
    }
    return string;
  };
  Local<Object> reply = Object::New(isolate);
  setOwnProperty(isolate, reply, "header", text("header", header, headerLen));
  setOwnProperty(isolate, reply, "content", text("content", content, contentLen));
  return reply;
}

Local<Object> httpCall(Isolate* isolate, const char* url, curl_slist* headers, const HttpBody* body) {
  CurlBuffer content, header;
  Transfer transfer;
  transfer.easy = curl_easy_init();
  const CURLcode result =
      transfer.easy == nullptr ? CURLE_FAILED_INIT : perform(&transfer, url, headers, body, &content, &header);
  if (result != CURLE_OK) {
    g_warning("curl error code: %d", result);
    markFailed(&content);
  } else {
    decodeReplyBody(&content, header);
  }
  return newReplyObject(isolate, header.data, header.len, content.data, content.len);
}

namespace {

// The reply of a request that was not made: the failed-transfer content, no header text.
Local<Object> notMadeReply(Isolate* isolate) {
  CurlBuffer content;
  markFailed(&content);
  return newReplyObject(isolate, nullptr, 0, content.data, content.len);
}

// Whether a NUL would cut the URL or a form part's name short (the request would go elsewhere,
// or a part under another name): WARNING naming the cause. The URL is not shown: a service's
// token may be in it.
bool nulCutsRequest(const std::string& url, const HttpBody* body) {
  if (url.find('\0') != std::string::npos) {
    g_warning("http request not made: NUL in the URL");
    return true;
  }
  if (body == nullptr || body->kind != HttpBody::Kind::kForm) return false;
  for (const FormPart& part : body->form) {
    if (part.name.find('\0') != std::string::npos) {
      g_warning("http request not made: NUL in a form name (%s)", shownBytes(part.name).c_str());
      return true;
    }
  }
  return false;
}

// The transfer with the script's headers value (empty: none); nothing when building the header
// list threw. A NUL in the URL or a form name, or a refused header line, means no request at
// all, with the failed-transfer result.
MaybeLocal<Object> callWithHeaders(Isolate* isolate, const std::string& url, Local<Value> headersValue,
                                   const HttpBody* body) {
  if (nulCutsRequest(url, body)) return notMadeReply(isolate);
  curl_slist* headers = nullptr;
  MaybeLocal<Object> reply;
  switch (genCurlHeaders(isolate, headersValue, &headers)) {
    case HeaderList::kBuilt: reply = httpCall(isolate, url.c_str(), headers, body); break;
    case HeaderList::kRefused: reply = notMadeReply(isolate); break;
    case HeaderList::kThrew: break;
  }
  curl_slist_free_all(headers);
  return reply;
}

// post2's core, with the parameter of `bytes` (when given) holding its bytes.
MaybeLocal<Object> postCore(Isolate* isolate, const Local<Value>* argv, int argc, const ByteParameter* bytes) {
  if (argc < 2 || !argv[0]->IsString() || !argv[1]->IsObject()) {
    throwText(isolate, kSignatureError);
    return {};
  }
  Local<Value> headersValue = argc >= 3 && argv[2]->IsObject() ? argv[2] : Local<Value>();
  const bool isForm = argc == 4 && argv[3]->IsBoolean() && argv[3]->IsTrue();
  g_debug("isForm %d", isForm ? 1 : 0);
  std::string url;
  if (!asciiValue(isolate, argv[0], &url)) return {};
  Local<Object> parameters = argv[1].As<Object>();
  HttpBody body;
  const bool built = isForm ? genCurlPostForm(isolate, parameters, url.c_str(), bytes, &body)
                            : genCurlPostSimple(isolate, parameters, bytes, &body);
  if (!built) return {};
  g_debug("httppost to %s...", url.c_str());
  // A form without a part is no body at all: the request goes out as a GET.
  const bool hasBody = body.kind == HttpBody::Kind::kFields || !body.form.empty();
  return callWithHeaders(isolate, url, headersValue, hasBody ? &body : nullptr);
}

}  // namespace

MaybeLocal<Value> replyContent(Isolate* isolate, Local<Object> reply) {
  return reply->Get(isolate->GetCurrentContext(), newString(isolate, "content"));
}

MaybeLocal<Object> httpget(Isolate* isolate, const Local<Value>* argv, int argc) {
  g_debug("httpget...");
  if (argc < 1 || !argv[0]->IsString()) {
    throwText(isolate, kSignatureError);
    return {};
  }
  Local<Value> headersValue = argc == 2 && argv[1]->IsObject() ? argv[1] : Local<Value>();
  std::string url;
  if (!asciiValue(isolate, argv[0], &url)) return {};
  g_debug("httpget to %s...", url.c_str());
  return callWithHeaders(isolate, url, headersValue, nullptr);
}

MaybeLocal<Object> httppost(Isolate* isolate, const Local<Value>* argv, int argc) {
  return postCore(isolate, argv, argc, nullptr);
}

MaybeLocal<Object> httppost(Isolate* isolate, const Local<Value>* argv, int argc, const ByteParameter& bytes) {
  return postCore(isolate, argv, argc, &bytes);
}

void HttpFunctionGet2(const FunctionCallbackInfo<Value>& args) {
  Local<Object> reply;
  if (callCore<2>(args, httpget).ToLocal(&reply)) args.GetReturnValue().Set(reply);
}

void HttpFunctionPost2(const FunctionCallbackInfo<Value>& args) {
  Local<Object> reply;
  if (callCore<4>(args, httppost).ToLocal(&reply)) args.GetReturnValue().Set(reply);
}

void HttpFunctionGet(const FunctionCallbackInfo<Value>& args) { returnContent(args, callCore<2>(args, httpget)); }

void HttpFunctionPost(const FunctionCallbackInfo<Value>& args) { returnContent(args, callCore<4>(args, httppost)); }
