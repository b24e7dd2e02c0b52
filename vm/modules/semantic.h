// Turns the XML text of a recognition's meaning into properties of a script object: each element
// a property named after it, nested elements nested objects, leaves strings, attributes dropped.
#ifndef TOBREL_VM_MODULES_SEMANTIC_H
#define TOBREL_VM_MODULES_SEMANTIC_H

#include <libxml/tree.h>
#include <v8.h>

// Needs an entered context. A text that is not a well-formed document leaves `target` unchanged.
void parseSemantic(v8::Isolate* isolate, const char* text, v8::Local<v8::Object> target);

// Converts `node` and each of its following siblings into properties of `target`.
void print_element_names(v8::Isolate* isolate, xmlNode* node, v8::Local<v8::Object> target);

#endif
