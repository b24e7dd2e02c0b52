// Semantic result conversion, shared by the recognition reply and the launch type's getter.
#include "semantic.h"

#include <glib.h>
#include <libxml/parser.h>
#include <string.h>

#include "own_property.h"
#include "script.h"

void parseSemantic(v8::Isolate* isolate, const char* text, v8::Local<v8::Object> target) {
  const size_t size = strlen(text);
  g_message("ASR: parseSemantic: size:%d", static_cast<int>(size));
  xmlDocPtr doc = xmlReadMemory(text, static_cast<int>(size), "noname.xml", nullptr, 0);
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
