// Semantic result conversion, shared by the recognition reply and the launch type's getter.
#include "semantic.h"

#include <glib.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
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

// The document, or null when it is not well-formed or declares an entity. Nothing is read from
// outside it: no network, no external subset, no external entity.
xmlDocPtr readDocument(const char* text, size_t size) {
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
