// Reads descriptor.xml with libxml2 and answers whether an access word is granted.
#include "descriptor.h"

#include <glib.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tobrel_data.h"

namespace {
const xmlChar kAccessPath[] = "/descriptor/accesses/access";
}

Descriptor::Descriptor(const char* path) {
  g_debug("loading descriptor");
  doc = xmlReadFile(path, nullptr, 0);
  // libxml2 has already told standard error why; the app simply does not run.
  if (doc == nullptr) exit(0);
  root = xmlDocGetRootElement(doc);
  selectAccesses();
}

Descriptor::~Descriptor() {
  if (accesses != nullptr) xmlXPathFreeObject(accesses);
  if (doc != nullptr) xmlFreeDoc(doc);
}

void Descriptor::selectAccesses() {
  xmlXPathContextPtr ctx = xmlXPathNewContext(doc);
  if (ctx == nullptr) return;
  accesses = xmlXPathEvalExpression(kAccessPath, ctx);
  xmlXPathFreeContext(ctx);
}

int Descriptor::accessCount() const {
  if (accesses == nullptr || accesses->nodesetval == nullptr) return 0;
  return accesses->nodesetval->nodeNr;
}

const char* Descriptor::accessName(int i) const {
  if (i < 0 || i >= accessCount()) return nullptr;
  // An empty element or one that starts with markup has no word; it must grant nothing
  // rather than hand a null text to the comparison.
  const xmlNode* first = accesses->nodesetval->nodeTab[i]->children;
  if (first == nullptr || first->content == nullptr) return nullptr;
  if (first->type != XML_TEXT_NODE && first->type != XML_CDATA_SECTION_NODE) return nullptr;
  return reinterpret_cast<const char*>(first->content);
}

bool Descriptor::hasAccess(const char* name) const {
  const int n = accessCount();
  for (int i = 0; i < n; ++i) {
    const char* word = accessName(i);
    if (word != nullptr && strcmp(name, word) == 0) return true;
  }
  return false;
}

Descriptor* loadDescriptor(TobrelData* data) {
  const std::string path = appFilePath(*data, "descriptor.xml");
  g_debug("searching descriptor: %s", path.c_str());
  return new Descriptor(path.c_str());
}
