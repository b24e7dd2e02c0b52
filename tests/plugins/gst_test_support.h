// Helpers shared by the plug-in tests: a GStreamer set-up that sees only the plug-ins a test
// asks for, buffers made from and read back into byte strings, and a harness owner.
#pragma once

#include <gst/check/gstharness.h>
#include <gst/gst.h>

#include <memory>
#include <string>

namespace tobrel_test {

// Points GStreamer at `pluginDir` (may be empty: no plug-in files at all) with a registry file
// of its own and scanning in this process, then initialises GStreamer. Called from a test
// environment, never while tests are only being listed, because loading audiotap prints.
void initGstreamer(const std::string &pluginDir, const std::string &registryFile);

// `size` bytes counting up from `first` (wrapping at 256).
std::string patternBytes(size_t size, unsigned first = 0);
GstBuffer *makeBuffer(const std::string &bytes);
std::string bufferBytes(GstBuffer *buffer);

struct HarnessDeleter {
  void operator()(GstHarness *h) const { gst_harness_teardown(h); }
};
using Harness = std::unique_ptr<GstHarness, HarnessDeleter>;

// A harness around a new element, its input already announced as `caps`.
Harness makeHarness(const char *element, const char *caps = "application/octet-stream");

}  // namespace tobrel_test
