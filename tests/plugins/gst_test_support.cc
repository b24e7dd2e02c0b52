// Helpers shared by the plug-in tests (see gst_test_support.h).
#include "gst_test_support.h"

#include <cstdlib>

namespace tobrel_test {

void initGstreamer(const std::string &pluginDir, const std::string &registryFile) {
  // No system plug-ins: the harness needs none, and an installed copy of ours must not mix in.
  setenv("GST_PLUGIN_SYSTEM_PATH_1_0", "", 1);
  setenv("GST_PLUGIN_PATH_1_0", pluginDir.c_str(), 1);
  setenv("GST_REGISTRY_1_0", registryFile.c_str(), 1);
  // The scanner helper is not built with the sanitizers and cannot load sanitized plug-ins.
  setenv("GST_REGISTRY_FORK", "no", 1);
  gst_init(nullptr, nullptr);
}

std::string patternBytes(size_t size, unsigned first) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((first + i) & 0xff);
  return bytes;
}

GstBuffer *makeBuffer(const std::string &bytes) {
  GstBuffer *buffer = gst_buffer_new_allocate(nullptr, bytes.size(), nullptr);
  gst_buffer_fill(buffer, 0, bytes.data(), bytes.size());
  return buffer;
}

std::string bufferBytes(GstBuffer *buffer) {
  std::string bytes(gst_buffer_get_size(buffer), '\0');
  gst_buffer_extract(buffer, 0, bytes.data(), bytes.size());
  return bytes;
}

Harness makeHarness(const char *element, const char *caps) {
  Harness h(gst_harness_new(element));
  if (h) gst_harness_set_src_caps_str(h.get(), caps);
  return h;
}

}  // namespace tobrel_test
