// Semantic result conversion, shared by the recognition reply and the launch type's getter.
#include "semantic.h"

#include <glib.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "own_property.h"
#include "script.h"

namespace {

// libxml2 would print its messages on standard error, with the offending line of the document;
// through the app's log they obey the debug threshold and the masking of secrets.
void logXmlError(void*, xmlErrorPtr error) {
  if (error == nullptr || error->message == nullptr) return;
  std::string message = error->message;
  while (!message.empty() && message.back() == '\n') message.pop_back();
  g_debug("ASR: parseSemantic: %s:%d: %s", error->file != nullptr ? error->file : "", error->line, message.c_str());
}

// The log handler for the length of one conversion; the one before it comes back after, so no
// other user of libxml2 is affected and nothing is left pointing into this call.
class XmlErrorsToLog {
 public:
  XmlErrorsToLog() : handler_(xmlStructuredError), context_(xmlStructuredErrorContext) {
    xmlSetStructuredErrorFunc(nullptr, logXmlError);
  }
  ~XmlErrorsToLog() { xmlSetStructuredErrorFunc(context_, handler_); }
  XmlErrorsToLog(const XmlErrorsToLog&) = delete;
  XmlErrorsToLog& operator=(const XmlErrorsToLog&) = delete;

 private:
  xmlStructuredErrorFunc handler_;
  void* context_;
};

// Bounds of the scan below, far above what any recognition result holds.
constexpr int kMaxAttributesPerTag = 1000;       // namespace declarations included
constexpr int kMaxNamespaceDeclarations = 1000;  // in the whole document: nesting piles them up

const char* const kRefusedEncoding =
    "ASR: parseSemantic: a document in an encoding other than UTF-8, ASCII, ISO-8859 or windows-125x is refused";
const char* const kRefusedDocumentType =
    "ASR: parseSemantic: a document type declaration other than a name and an external identifier is refused";
const char* const kRefusedAttributes = "ASR: parseSemantic: a start tag with more than 1000 attributes is refused";
const char* const kRefusedNamespaces =
    "ASR: parseSemantic: a document with more than 1000 namespace declarations is refused";

bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNameStart(unsigned char c) { return isAsciiLetter(c) || c == '_' || c == ':' || c >= 0x80; }
bool isNameChar(unsigned char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-'; }
bool isPubidChar(unsigned char c) {
  return c == ' ' || c == '\r' || c == '\n' || isAsciiLetter(c) || (c >= '0' && c <= '9') ||
         (c != 0 && strchr("-'()+,./:=?;!*#@$_%", c) != nullptr);
}

// An encoding in which every byte below 0x80 is that ASCII character and never part of another,
// so that the scan reads the markup libxml2 will read. UTF-16 is named here because libxml2
// ignores that name in a document without a byte order mark (it fails such a document later).
bool keepsAscii(const std::string& name) {
  std::string plain;
  for (char c : name)
    if (c != '-' && c != '_') plain += static_cast<char>(g_ascii_toupper(c));
  // `prefix` then a number from `low` to `high`, written without leading zeros.
  auto numbered = [&plain](const char* prefix, int low, int high) {
    const size_t n = strlen(prefix);
    if (plain.compare(0, n, prefix) != 0 || plain.size() == n || plain.size() > n + 2) return false;
    if (plain.size() == n + 2 && plain[n] == '0') return false;
    for (size_t i = n; i < plain.size(); ++i)
      if (!g_ascii_isdigit(plain[i])) return false;
    const int number = atoi(plain.c_str() + n);
    return number >= low && number <= high;
  };
  return plain == "UTF8" || plain == "UTF16" || plain == "ASCII" || plain == "USASCII" || numbered("ISO8859", 1, 16) ||
         numbered("LATIN", 1, 10) || numbered("WINDOWS125", 0, 8) || numbered("CP125", 0, 8);
}

// A linear look at the text, before libxml2 parses it, for what would cost libxml2 far more than
// the text's size: a start tag with very many attributes (it compares each with all before it),
// namespace declarations piled up over nested elements (each name is looked up through all of
// them), and an internal subset (an attribute default there is copied into every element).
// libxml2 goes on after an error, so the scan never trusts its own reading of a construct where
// libxml2 might leave it earlier: it may count more than libxml2 parses, never less. A start
// tag's attributes lie between its '<' and the next '<' (a value ends at '<'), each after an '='
// outside the values; a comment, CDATA section or processing instruction is passed over only
// when libxml2 reads it whole. Returns the reason for a refusal, or null.
class Scan {
 public:
  Scan(const char* text, size_t size)
      : at_(reinterpret_cast<const unsigned char*>(text)), end_(at_ + size) {}

  const char* refusal() {
    // libxml2 takes a text that starts with these bytes for EBCDIC, in which '<' is not 0x3c.
    if (startsWith("\x4c\x6f\xa7\x94")) return kRefusedEncoding;
    if (startsWith("\xef\xbb\xbf")) at_ += 3;  // the UTF-8 byte order mark, which libxml2 skips
    if (startsWith("<?xml") && at_ + 5 < end_ && isBlank(at_[5]) && !xmlDeclarationKeepsAscii())
      return kRefusedEncoding;
    bool prolog = true;  // before the root element and the document type declaration
    int namespaces = 0;
    while ((at_ = static_cast<const unsigned char*>(memchr(at_, '<', static_cast<size_t>(end_ - at_)))) != nullptr) {
      if (startsWith("<!--")) {
        passOver(4, "-->");
      } else if (startsWith("<![CDATA[")) {
        passOver(9, "]]>");
      } else if (startsWith("<?") && at_ + 2 < end_ && (isAsciiLetter(at_[2]) || at_[2] == '_' || at_[2] == ':')) {
        passOver(2, "?>");
      } else if (startsWith("<!DOCTYPE")) {
        // libxml2 reads one, in the prolog only; anywhere else it makes the document fail.
        if (!prolog || !passOverDocumentType()) return kRefusedDocumentType;
        prolog = false;
      } else if (at_ + 1 < end_ && (at_[1] == '/' || at_[1] == '!' || at_[1] == '?')) {
        ++at_;  // no attributes are read after these
      } else {
        prolog = false;
        if (startTagAttributes(&namespaces) > kMaxAttributesPerTag) return kRefusedAttributes;
        if (namespaces > kMaxNamespaceDeclarations) return kRefusedNamespaces;
      }
    }
    return nullptr;
  }

 private:
  bool startsWith(const char* literal) const {
    const size_t n = strlen(literal);
    return static_cast<size_t>(end_ - at_) >= n && memcmp(at_, literal, n) == 0;
  }

  // libxml2 leaves a comment, CDATA section or instruction at the first character that is not
  // one of XML (reading on after it as text), and at 10,000,000 bytes. From a tenth of that the
  // scan looks inside too, which can only refuse more.
  static bool readWhole(const unsigned char* from, const unsigned char* to) {
    if (to - from >= 1000000) return false;
    for (const unsigned char* p = from; p < to; ++p) {
      const unsigned char c = *p;
      const unsigned char next = p + 1 < to ? p[1] : 0;
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      if (c == 0xed && next >= 0xa0) return false;                                         // surrogates
      if (c == 0xef && next == 0xbf && p + 2 < to && (p[2] == 0xbe || p[2] == 0xbf)) return false;  // U+FFFE, U+FFFF
      if ((c == 0xf4 && next >= 0x90) || (c >= 0xf5 && c <= 0xf7)) return false;        // past U+10FFFF
    }
    return true;
  }

  // From the construct's '<': past its end when libxml2 reads all of it, else just past the '<',
  // so that every '<' inside is looked at as a start tag could be.
  void passOver(size_t opening, const char* closing) {
    const unsigned char* body = at_ + opening;
    const void* found = memmem(body, static_cast<size_t>(end_ - body), closing, strlen(closing));
    const unsigned char* close = found != nullptr ? static_cast<const unsigned char*>(found) : end_;
    if (readWhole(body, close)) {
      at_ = found != nullptr ? close + strlen(closing) : end_;
    } else {
      ++at_;
    }
  }

  void blanks() {
    while (at_ < end_ && isBlank(*at_)) ++at_;
  }

  // A quoted literal of the declaration, every character of it one that libxml2 takes there.
  bool literal(bool pubid) {
    if (at_ == end_ || (*at_ != '"' && *at_ != '\'')) return false;
    const unsigned char quote = *at_++;
    const unsigned char* start = at_;
    while (at_ < end_ && *at_ != quote) {
      if (pubid && !isPubidChar(*at_)) return false;
      ++at_;
    }
    if (at_ == end_ || !readWhole(start, at_)) return false;
    ++at_;
    return true;
  }

  // "<!DOCTYPE" S Name (S "SYSTEM" S literal | S "PUBLIC" S pubid S literal)? S? ">", with no '['
  // after it either (libxml2 would read an internal subset there too). Anything else, which is
  // an internal subset or a malformed declaration, is refused.
  bool passOverDocumentType() {
    at_ += 9;
    const unsigned char* keywordEnd = at_;
    blanks();
    if (at_ == keywordEnd || at_ == end_ || !isNameStart(*at_)) return false;
    while (at_ < end_ && isNameChar(*at_)) ++at_;
    const unsigned char* afterName = at_;
    blanks();
    if (at_ > afterName && (startsWith("SYSTEM") || startsWith("PUBLIC"))) {
      const bool pubid = *at_ == 'P';
      at_ += 6;
      keywordEnd = at_;
      blanks();
      if (at_ == keywordEnd || !literal(pubid)) return false;
      if (pubid) {
        const unsigned char* pubidEnd = at_;
        blanks();
        if (at_ == pubidEnd || !literal(false)) return false;
      }
      blanks();
    }
    if (at_ == end_ || *at_ != '>') return false;
    ++at_;
    return at_ == end_ || *at_ != '[';
  }

  // The XML declaration ends, for libxml2, at its first '>', wherever its errors leave it. Each
  // "encoding" in it that libxml2 could take for the declaration's must name an encoding that
  // keeps ASCII as it is. Leaves the scan after the declaration.
  bool xmlDeclarationKeepsAscii() {
    const void* found = memchr(at_, '>', static_cast<size_t>(end_ - at_));
    const unsigned char* close = found != nullptr ? static_cast<const unsigned char*>(found) + 1 : end_;
    static const char kEncoding[] = "encoding";
    for (const unsigned char* p = at_; p < close; ++p) {
      if (static_cast<size_t>(close - p) < sizeof kEncoding || memcmp(p, kEncoding, sizeof kEncoding - 1) != 0) continue;
      const unsigned char* q = p + sizeof kEncoding - 1;
      while (q < close && isBlank(*q)) ++q;
      if (q == close || *q++ != '=') continue;
      while (q < close && isBlank(*q)) ++q;
      if (q == close || (*q != '"' && *q != '\'')) continue;
      const unsigned char quote = *q++;
      const unsigned char* name = q;
      if (q == close || !isAsciiLetter(*q)) continue;
      while (q < close && (isAsciiLetter(*q) || g_ascii_isdigit(*q) || *q == '.' || *q == '_' || *q == '-')) ++q;
      if (q == close || *q != quote) continue;
      if (!keepsAscii(std::string(name, q))) return false;
    }
    at_ = close;
    return true;
  }

  // From a start tag's '<' to its '>' outside values, or to the next '<': its '=' outside values
  // (one per attribute libxml2 can take), and the namespace declarations among them added to
  // `namespaces`. A value opens at a quote after '=' and closes at the same quote or at '<'.
  int startTagAttributes(int* namespaces) {
    int attributes = 0;
    ++at_;
    while (at_ < end_ && *at_ != '<' && *at_ != '>') {
      if (*at_ == '=') {
        ++attributes;
        ++at_;
        blanks();
        if (at_ < end_ && (*at_ == '"' || *at_ == '\'')) {
          const unsigned char quote = *at_++;
          while (at_ < end_ && *at_ != quote && *at_ != '<') ++at_;
          if (at_ < end_ && *at_ == quote) ++at_;
        }
      } else if (startsWith("xmlns")) {
        ++*namespaces;
        at_ += 5;
      } else {
        ++at_;
      }
    }
    if (at_ < end_ && *at_ == '>') ++at_;
    return attributes;
  }

  const unsigned char* at_;
  const unsigned char* const end_;
};

// A document that declares an entity is refused at the declaration, which is never recorded, so
// no reference to it is ever expanded: a small text that references one entity many times
// would otherwise grow without bound when the leaves' text is read. `_private` holds the flag.
void refuse(void* raw) {
  auto* parser = static_cast<xmlParserCtxtPtr>(raw);
  *static_cast<bool*>(parser->_private) = true;
  xmlStopParser(parser);
}

void refuseEntity(void* parser, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) { refuse(parser); }

void refuseUnparsedEntity(void* parser, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*) {
  refuse(parser);
}

// The document, or null when it is not well-formed or the scan refuses it (the entity hooks stay
// behind the scan). Nothing is read from outside it: no network, no external subset, no
// external entity.
xmlDocPtr readDocument(const char* text, size_t size) {
  if (const char* refusal = Scan(text, size).refusal()) {
    g_debug("%s", refusal);
    return nullptr;
  }
  xmlParserCtxtPtr parser = xmlNewParserCtxt();
  if (parser == nullptr) return nullptr;
  bool declaresEntity = false;
  parser->_private = &declaresEntity;
  parser->sax->entityDecl = refuseEntity;
  parser->sax->unparsedEntityDecl = refuseUnparsedEntity;
  xmlDocPtr doc = xmlCtxtReadMemory(parser, text, static_cast<int>(size), "noname.xml", nullptr, XML_PARSE_NONET);
  xmlFreeParserCtxt(parser);
  if (declaresEntity) {
    g_debug("ASR: parseSemantic: a document that declares entities is refused");
    if (doc != nullptr) xmlFreeDoc(doc);
    return nullptr;
  }
  return doc;
}

}  // namespace

void parseSemantic(v8::Isolate* isolate, const char* text, v8::Local<v8::Object> target) {
  const size_t size = strlen(text);
  g_message("ASR: parseSemantic: size:%d", static_cast<int>(size));
  XmlErrorsToLog errors;
  xmlDocPtr doc = readDocument(text, size);
  if (doc == nullptr) {
    g_message("ASR: parseSemantic: Failed to parse document");
    return;
  }
  g_message("ASR: parseSemantic: succeed parse document");
  print_element_names(isolate, xmlDocGetRootElement(doc), target);
  xmlFreeDoc(doc);
}

void print_element_names(v8::Isolate* isolate, xmlNode* node, v8::Local<v8::Object> target) {
  g_message("node type: print_element_names");
  for (xmlNode* cur = node; cur != nullptr; cur = cur->next) {
    if (cur->type != XML_ELEMENT_NODE) continue;
    // Of repeated siblings only the last stays: the others' names and values must not stay
    // referenced until the whole document is converted.
    v8::HandleScope scope(isolate);
    const char* name = reinterpret_cast<const char*>(cur->name);
    g_message("node type: Element, name: %s\n", name);
    if (xmlFirstElementChild(cur) != nullptr) {
      v8::Local<v8::Object> child = v8::Object::New(isolate);
      print_element_names(isolate, cur->children, child);
      setOwnProperty(isolate, target, name, child);
      continue;
    }
    xmlChar* content = xmlNodeGetContent(cur);
    if (content == nullptr) {
      g_message("node type: Element, children, content: null\n");
      continue;
    }
    g_message("node type: Element, content: %s\n", content);
    setOwnText(isolate, target, name, reinterpret_cast<const char*>(content));
    xmlFree(content);
  }
}
