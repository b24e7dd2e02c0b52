// The four plug-ins as GStreamer loads them from the build folder, driven through GstHarness:
// the shape they share, caps and metadata from input to output, the framing layouts and the
// trace lines.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "gst_test_support.h"

using tobrel_test::bufferBytes;
using tobrel_test::Harness;
using tobrel_test::makeBuffer;
using tobrel_test::makeHarness;
using tobrel_test::patternBytes;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class GstEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    tobrel_test::initGstreamer(TOBREL_GST_PLUGIN_BUILD_DIR, TOBREL_TEST_REGISTRY);
  }
};
const auto *const kEnvironment = testing::AddGlobalTestEnvironment(new GstEnvironment);

void setSilent(GstHarness *h, bool silent) {
  g_object_set(h->element, "silent", silent ? TRUE : FALSE, nullptr);
}

std::string bigEndian32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

// ---------------------------------------------------------------- the shape all four share

struct ElementCase {
  const char *name;
  const char *longName;
  bool silentAtStart;
  size_t inputSize;  // a size the element passes on
};
void PrintTo(const ElementCase &c, std::ostream *os) { *os << c.name; }

const ElementCase kElements[] = {
    {"audiotap", "Audiotap", false, 320},
    {"bufferlog", "Bufferlog", false, 10},
    {"framewrap", "framewrap", true, 300},
    {"frameunwrap", "frameunwrap", true, 200},
};

class ElementShape : public testing::TestWithParam<ElementCase> {};

TEST_P(ElementShape, FactoryMetadataAndPadTemplates) {
  const ElementCase &c = GetParam();
  GstElementFactory *factory = gst_element_factory_find(c.name);
  ASSERT_NE(factory, nullptr) << c.name << " is not registered";
  EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME),
               c.longName);
  EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS),
               "FIXME:Generic");
  EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_DESCRIPTION),
               "FIXME:Generic Template Element");

  GstPlugin *plugin = gst_plugin_feature_get_plugin(GST_PLUGIN_FEATURE(factory));
  ASSERT_NE(plugin, nullptr);
  EXPECT_STREQ(gst_plugin_get_name(plugin), c.name);
  EXPECT_EQ(std::string(gst_plugin_get_description(plugin)), std::string("Template ") + c.name);
  gst_object_unref(plugin);

  ASSERT_EQ(gst_element_factory_get_num_pad_templates(factory), 2u);
  for (const GList *l = gst_element_factory_get_static_pad_templates(factory); l; l = l->next) {
    auto *templ = static_cast<GstStaticPadTemplate *>(l->data);
    EXPECT_EQ(templ->presence, GST_PAD_ALWAYS);
    EXPECT_STREQ(templ->name_template, templ->direction == GST_PAD_SINK ? "sink" : "src");
    GstCaps *caps = gst_static_caps_get(&templ->static_caps);
    EXPECT_TRUE(gst_caps_is_any(caps)) << templ->name_template;
    gst_caps_unref(caps);
  }
  gst_object_unref(factory);
}

TEST_P(ElementShape, NewElementHasBothPadsAndItsStartingSilentValue) {
  const ElementCase &c = GetParam();
  GstElement *element = gst_element_factory_make(c.name, nullptr);
  ASSERT_NE(element, nullptr);
  EXPECT_EQ(element->numpads, 2);
  EXPECT_EQ(element->numsinkpads, 1);
  EXPECT_EQ(element->numsrcpads, 1);
  GstPad *sink = gst_element_get_static_pad(element, "sink");
  GstPad *src = gst_element_get_static_pad(element, "src");
  ASSERT_NE(sink, nullptr);
  ASSERT_NE(src, nullptr);
  EXPECT_EQ(GST_PAD_DIRECTION(sink), GST_PAD_SINK);
  EXPECT_EQ(GST_PAD_DIRECTION(src), GST_PAD_SRC);
  gst_object_unref(sink);
  gst_object_unref(src);

  // The declared default is FALSE everywhere, although the framing elements start silent.
  GParamSpec *param = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "silent");
  ASSERT_NE(param, nullptr);
  ASSERT_EQ(G_PARAM_SPEC_VALUE_TYPE(param), G_TYPE_BOOLEAN);
  EXPECT_FALSE(G_PARAM_SPEC_BOOLEAN(param)->default_value);
  EXPECT_EQ(param->flags & G_PARAM_READWRITE, G_PARAM_READWRITE);
  EXPECT_STREQ(g_param_spec_get_nick(param), "Silent");
  EXPECT_STREQ(g_param_spec_get_blurb(param), "Produce verbose output ?");

  gboolean silent = !c.silentAtStart;
  g_object_get(element, "silent", &silent, nullptr);
  EXPECT_EQ(silent != FALSE, c.silentAtStart);
  for (gboolean value : std::initializer_list<gboolean>{TRUE, FALSE, TRUE}) {
    g_object_set(element, "silent", value, nullptr);
    g_object_get(element, "silent", &silent, nullptr);
    EXPECT_EQ(silent, value);
  }
  gst_object_unref(element);
}

TEST_P(ElementShape, CapsQueriesAreProxiedAndCapsForwarded) {
  const ElementCase &c = GetParam();
  Harness h(gst_harness_new(c.name));
  ASSERT_TRUE(h);
  const char *kMulaw = "audio/x-mulaw, rate=(int)8000, channels=(int)1";
  gst_harness_set_sink_caps_str(h.get(), kMulaw);
  GstCaps *wanted = gst_caps_from_string(kMulaw);

  // Upstream asking the element's sink pad learns what downstream of its src pad accepts.
  GstCaps *offered = gst_pad_peer_query_caps(h->srcpad, nullptr);
  EXPECT_TRUE(gst_caps_is_equal(offered, wanted)) << gst_caps_to_string(offered);
  gst_caps_unref(offered);

  gst_harness_set_src_caps_str(h.get(), kMulaw);
  GstPad *src = gst_element_get_static_pad(h->element, "src");
  GstCaps *current = gst_pad_get_current_caps(src);
  ASSERT_NE(current, nullptr) << "caps were not forwarded to the src pad";
  EXPECT_TRUE(gst_caps_is_equal(current, wanted));
  gst_caps_unref(current);
  gst_object_unref(src);

  // Buffers leave under those caps.
  ASSERT_EQ(gst_harness_push(h.get(), makeBuffer(patternBytes(c.inputSize))), GST_FLOW_OK);
  gst_buffer_unref(gst_harness_pull(h.get()));
  current = gst_pad_get_current_caps(h->sinkpad);
  ASSERT_NE(current, nullptr);
  EXPECT_TRUE(gst_caps_is_equal(current, wanted));
  gst_caps_unref(current);
  gst_caps_unref(wanted);
}

// Caps that downstream refuses are refused at the sink pad too, and the sender hears so.
TEST_P(ElementShape, CapsRefusedDownstreamAreRefusedAtTheSinkPad) {
  const ElementCase &c = GetParam();
  Harness h(gst_harness_new(c.name));
  ASSERT_TRUE(h);
  gst_harness_set_sink_caps_str(h.get(), "audio/x-mulaw, rate=(int)8000, channels=(int)1");

  GstPad *sink = gst_element_get_static_pad(h->element, "sink");
  GstPad *src = gst_element_get_static_pad(h->element, "src");
  EXPECT_FALSE(gst_pad_send_event(
      sink, gst_event_new_caps(gst_caps_from_string("audio/x-raw, rate=(int)8000"))));
  EXPECT_FALSE(gst_pad_has_current_caps(sink));
  EXPECT_FALSE(gst_pad_has_current_caps(src));
  gst_object_unref(sink);
  gst_object_unref(src);
}

TEST_P(ElementShape, OutputCarriesTheInputsTimestampsAndFlags) {
  const ElementCase &c = GetParam();
  Harness h = makeHarness(c.name);
  ASSERT_TRUE(h);
  GstBuffer *in = makeBuffer(patternBytes(c.inputSize));
  GST_BUFFER_PTS(in) = 3 * GST_SECOND;
  GST_BUFFER_DTS(in) = 2 * GST_SECOND;
  GST_BUFFER_DURATION(in) = 20 * GST_MSECOND;
  GST_BUFFER_OFFSET(in) = 160;
  GST_BUFFER_OFFSET_END(in) = 480;
  GST_BUFFER_FLAG_SET(in, GST_BUFFER_FLAG_DISCONT);
  GST_BUFFER_FLAG_SET(in, GST_BUFFER_FLAG_DELTA_UNIT);

  ASSERT_EQ(gst_harness_push(h.get(), in), GST_FLOW_OK);
  GstBuffer *out = gst_harness_pull(h.get());
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(GST_BUFFER_PTS(out), 3 * GST_SECOND);
  EXPECT_EQ(GST_BUFFER_DTS(out), 2 * GST_SECOND);
  EXPECT_EQ(GST_BUFFER_DURATION(out), 20 * GST_MSECOND);
  EXPECT_EQ(GST_BUFFER_OFFSET(out), 160u);
  EXPECT_EQ(GST_BUFFER_OFFSET_END(out), 480u);
  EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(out, GST_BUFFER_FLAG_DISCONT));
  EXPECT_TRUE(GST_BUFFER_FLAG_IS_SET(out, GST_BUFFER_FLAG_DELTA_UNIT));
  gst_buffer_unref(out);
}

INSTANTIATE_TEST_SUITE_P(AllFour, ElementShape, testing::ValuesIn(kElements),
                         [](const testing::TestParamInfo<ElementCase> &info) {
                           return std::string(info.param.name);
                         });

// ---------------------------------------------------- pass-through: bufferlog and audiotap

struct PassCase {
  const char *element;
  bool silent;
  bool printsTrace;
};
void PrintTo(const PassCase &c, std::ostream *os) { *os << c.element << (c.silent ? " silent" : ""); }

class PassThrough : public testing::TestWithParam<PassCase> {};

// bufferlog traces whatever "silent" says; audiotap obeys it. Both pass the very same buffers
// on, audiotap also when no audio device could be opened (there is none here).
TEST_P(PassThrough, PushesEveryBufferUnchangedAndTracesItsSize) {
  const PassCase &c = GetParam();
  Harness h = makeHarness(c.element);
  ASSERT_TRUE(h);
  setSilent(h.get(), c.silent);

  const std::vector<size_t> sizes = {320, 0, 17};
  std::string expected;
  for (size_t size : sizes) {
    const std::string bytes = patternBytes(size, 5);
    GstBuffer *in = makeBuffer(bytes);
    CaptureStdout();
    GstFlowReturn flow = gst_harness_push(h.get(), gst_buffer_ref(in));
    const std::string printed = GetCapturedStdout();
    ASSERT_EQ(flow, GST_FLOW_OK);
    EXPECT_EQ(printed, c.printsTrace ? "pcmSink : got " + std::to_string(size) + " bytes\n" : "");
    GstBuffer *out = gst_harness_pull(h.get());
    EXPECT_EQ(out, in);
    EXPECT_EQ(bufferBytes(out), bytes);
    gst_buffer_unref(out);
    gst_buffer_unref(in);
  }
}

INSTANTIATE_TEST_SUITE_P(Elements, PassThrough,
                         testing::Values(PassCase{"bufferlog", false, true},
                                         PassCase{"bufferlog", true, true},
                                         PassCase{"audiotap", false, true},
                                         PassCase{"audiotap", true, false}),
                         [](const testing::TestParamInfo<PassCase> &info) {
                           return std::string(info.param.element) +
                                  (info.param.silent ? "Silent" : "Verbose");
                         });

// ------------------------------------------------------------------------------ framewrap

struct WrapCase {
  size_t size;
  bool silent;
};
void PrintTo(const WrapCase &c, std::ostream *os) { *os << c.size << (c.silent ? " silent" : ""); }

class Framewrap : public testing::TestWithParam<WrapCase> {};

TEST_P(Framewrap, PrefixesTheSizeBigEndian) {
  const WrapCase &c = GetParam();
  Harness h = makeHarness("framewrap");
  ASSERT_TRUE(h);
  if (!c.silent) setSilent(h.get(), false);  // silent cases rely on the starting value
  const std::string payload = patternBytes(c.size, 1);

  CaptureStdout();
  GstFlowReturn flow = gst_harness_push(h.get(), makeBuffer(payload));
  const std::string printed = GetCapturedStdout();
  ASSERT_EQ(flow, GST_FLOW_OK);
  GstBuffer *out = gst_harness_pull(h.get());
  EXPECT_EQ(bufferBytes(out), bigEndian32(static_cast<uint32_t>(c.size)) + payload);
  gst_buffer_unref(out);
  EXPECT_EQ(printed, c.silent ? ""
                              : "process : got " + std::to_string(c.size) + " -> " +
                                    std::to_string(c.size + 4) + " bytes\n");
}

TEST(FramewrapLayout, ThreeHundredBytesGetTheDocumentedPrefix) {
  Harness h = makeHarness("framewrap");
  ASSERT_TRUE(h);
  ASSERT_EQ(gst_harness_push(h.get(), makeBuffer(patternBytes(300))), GST_FLOW_OK);
  GstBuffer *out = gst_harness_pull(h.get());
  const std::string bytes = bufferBytes(out);
  ASSERT_EQ(bytes.size(), 304u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x00\x00\x01\x2c", 4));
  gst_buffer_unref(out);
}

// 0 gives a frame of four zero bytes; 70000 needs the upper bytes of the length.
INSTANTIATE_TEST_SUITE_P(Sizes, Framewrap,
                         testing::Values(WrapCase{300, false}, WrapCase{300, true},
                                         WrapCase{0, false}, WrapCase{70000, false}),
                         [](const testing::TestParamInfo<WrapCase> &info) {
                           return std::to_string(info.param.size) +
                                  (info.param.silent ? "Silent" : "Verbose");
                         });

// ---------------------------------------------------------------------------- frameunwrap

struct UnwrapCase {
  const char *label;
  size_t size;
  uint32_t announced;  // written into the prefix, which must not matter
  bool silent;
  bool passes;
};
void PrintTo(const UnwrapCase &c, std::ostream *os) { *os << c.label; }

class Frameunwrap : public testing::TestWithParam<UnwrapCase> {};

TEST_P(Frameunwrap, PassesTheFixedPayloadOrFailsTheStream) {
  const UnwrapCase &c = GetParam();
  Harness h = makeHarness("frameunwrap");
  ASSERT_TRUE(h);
  if (!c.silent) setSilent(h.get(), false);  // silent cases rely on the starting value
  GstBus *bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);

  std::string frame = patternBytes(c.size, 9);
  if (c.size >= 4) frame.replace(0, 4, bigEndian32(c.announced));

  CaptureStdout();
  GstFlowReturn flow = gst_harness_push(h.get(), makeBuffer(frame));
  const std::string printed = GetCapturedStdout();
  // The trace names the input's size, and comes before any error.
  EXPECT_EQ(printed, c.silent ? "" : "process : got " + std::to_string(c.size) + " bytes\n");

  GstMessage *error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  if (c.passes) {
    EXPECT_EQ(flow, GST_FLOW_OK);
    EXPECT_EQ(error, nullptr);
    GstBuffer *out = gst_harness_pull(h.get());
    EXPECT_EQ(bufferBytes(out), frame.substr(4, 172));
    gst_buffer_unref(out);
  } else {
    EXPECT_EQ(flow, GST_FLOW_ERROR);
    EXPECT_EQ(gst_harness_buffers_received(h.get()), 0u);
    ASSERT_NE(error, nullptr) << "no error posted on the bus";
    GError *err = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(error, &err, &debug);
    EXPECT_EQ(err->domain, GST_STREAM_ERROR);
    EXPECT_EQ(err->code, GST_STREAM_ERROR_FAILED);
    gchar *standard = gst_error_get_message(GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED);
    EXPECT_STREQ(err->message, standard);
    g_free(standard);
    g_error_free(err);
    g_free(debug);
  }
  if (error) gst_message_unref(error);
  gst_element_set_bus(h->element, nullptr);
  gst_object_unref(bus);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Frameunwrap,
    testing::Values(UnwrapCase{"Exactly176", 176, 172, false, true},
                    UnwrapCase{"Longer200DropsTheTail", 200, 196, false, true},
                    UnwrapCase{"PrefixAnnouncing10", 176, 10, false, true},
                    UnwrapCase{"Silent", 176, 172, true, true},
                    UnwrapCase{"Short175", 175, 171, false, false},
                    UnwrapCase{"Short175Silent", 175, 171, true, false},
                    UnwrapCase{"Empty", 0, 0, false, false}),
    [](const testing::TestParamInfo<UnwrapCase> &info) { return std::string(info.param.label); });

}  // namespace
