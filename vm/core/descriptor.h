// The app's access list, read once from its descriptor.xml: the words that decide which module
// objects the app gets and which social services it may use.
#ifndef TOBREL_VM_CORE_DESCRIPTOR_H
#define TOBREL_VM_CORE_DESCRIPTOR_H

#include <libxml/tree.h>
#include <libxml/xpath.h>

class Descriptor {
 public:
  // Parses the file; an app whose access list cannot be read ends here with status 0.
  explicit Descriptor(const char* path);
  ~Descriptor();
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  void selectAccesses();
  int accessCount() const;
  // The word of the i-th access element, or null when it has none (no text as first child).
  const char* accessName(int i) const;
  // Exact, case-sensitive comparison with every word of the list.
  bool hasAccess(const char* name) const;

  xmlDocPtr doc = nullptr;
  xmlNodePtr root = nullptr;
  xmlXPathObjectPtr accesses = nullptr;
};

class TobrelData;

// A new Descriptor for the app's descriptor.xml; the caller owns it.
Descriptor* loadDescriptor(TobrelData* data);

#endif
