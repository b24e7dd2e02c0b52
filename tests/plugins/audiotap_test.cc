// audiotap's OSS playback on a fake device: the plug-in is registered statically once per
// process with the fake in place, so its load-time configuration, the playback functions and
// the element's writes can all be observed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/soundcard.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "gst_test_support.h"

extern "C" {
#include "audio-device.h"
#include "playback.h"
void gst_plugin_audiotap_register(void);
}

using tobrel_test::bufferBytes;
using tobrel_test::Harness;
using tobrel_test::makeBuffer;
using tobrel_test::makeHarness;
using tobrel_test::patternBytes;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr int kFakeFd = 77;

// Records what the playback code asks of the device, and answers like a driver would.
struct FakeDevice {
  bool failOpen = false;
  unsigned long failingRequest = 0;         // this request fails; 0: none
  std::map<unsigned long, int> answers;     // the driver's answer per request; else it agrees
  std::vector<std::pair<std::string, int>> opens;        // path, flags
  std::vector<std::pair<unsigned long, int>> requests;   // request, argument as asked
  std::vector<std::pair<int, std::string>> writes;       // descriptor, bytes
};
FakeDevice fake;

int fakeOpen(const char *path, int flags) {
  fake.opens.emplace_back(path, flags);
  if (fake.failOpen) {
    errno = ENOENT;
    return -1;
  }
  return kFakeFd;
}

int fakeIoctl(int fd, unsigned long request, int *arg) {
  if (fd != kFakeFd) {
    errno = EBADF;
    return -1;
  }
  fake.requests.emplace_back(request, *arg);
  if (request == fake.failingRequest) {
    errno = EINVAL;
    return -1;
  }
  auto answer = fake.answers.find(request);
  if (answer != fake.answers.end()) *arg = answer->second;
  return 0;
}

ssize_t fakeWrite(int fd, const void *data, size_t size) {
  fake.writes.emplace_back(fd, std::string(static_cast<const char *>(data), size));
  return fd == kFakeFd ? static_cast<ssize_t>(size) : -1;
}

const AudioDeviceOps kFakeOps = {fakeOpen, fakeIoctl, fakeWrite};

// What loading the plug-in printed and asked of the device.
std::string loadOutput;
FakeDevice atLoad;

class FakeDeviceEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    // Nothing from the build folder: audiotap is the statically registered copy only.
    tobrel_test::initGstreamer("", TOBREL_TEST_REGISTRY);
    audio_device_ops = &kFakeOps;
    CaptureStdout();
    gst_plugin_audiotap_register();
    loadOutput = GetCapturedStdout();
    atLoad = fake;
  }
};
const auto *const kEnvironment = testing::AddGlobalTestEnvironment(new FakeDeviceEnvironment);

// Each test starts from a fresh fake and the descriptor opened at load.
class FakeDeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    fake = FakeDevice();
    fdplayback = kFakeFd;
    audio_device_ops = &kFakeOps;
    playbackdevice = "/dev/audio";
  }
};

using Request = std::pair<unsigned long, int>;

// ------------------------------------------------------------------------------ loading

using AudiotapLoad = FakeDeviceTest;

TEST_F(AudiotapLoad, OpensAndConfiguresTheDeviceAndPrintsEachStepInOrder) {
  EXPECT_EQ(loadOutput,
            "INIT PCMSINK\n"
            "audio device=/dev/audio\n"
            "expected format=1\n"
            "accepted format=1\n"
            "expected stereo=0\n"
            "accepted stereo=0\n"
            "speed=8000\n");
  ASSERT_EQ(atLoad.opens.size(), 1u);
  EXPECT_EQ(atLoad.opens[0].first, "/dev/audio");
  EXPECT_EQ(atLoad.opens[0].second, O_WRONLY);
  // 16 bits still asks for mu-law: one channel, 8000 Hz.
  EXPECT_EQ(atLoad.requests,
            (std::vector<Request>{{SNDCTL_DSP_RESET, 0},
                                  {SNDCTL_DSP_SETFMT, AFMT_MU_LAW},
                                  {SNDCTL_DSP_STEREO, 0},
                                  {SNDCTL_DSP_SPEED, 8000}}));

  GstElementFactory *factory = gst_element_factory_find("audiotap");
  ASSERT_NE(factory, nullptr);
  gst_object_unref(factory);
}

// ------------------------------------------------------------------------- the element

struct WriteCase {
  const char *label;
  std::vector<size_t> sizes;
  bool silent;
};
void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.label; }

class AudiotapWrites : public FakeDeviceTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(AudiotapWrites, WritesEveryBufferWholeThenPushesIt) {
  const WriteCase &c = GetParam();
  Harness h = makeHarness("audiotap", "audio/x-mulaw, rate=(int)8000, channels=(int)1");
  ASSERT_TRUE(h);
  g_object_set(h->element, "silent", c.silent ? TRUE : FALSE, nullptr);

  std::vector<std::pair<int, std::string>> expectedWrites;
  std::string expectedTrace;
  CaptureStdout();
  for (size_t i = 0; i < c.sizes.size(); ++i) {
    const std::string bytes = patternBytes(c.sizes[i], 40 * i);
    GstBuffer *in = makeBuffer(bytes);
    EXPECT_EQ(gst_harness_push(h.get(), gst_buffer_ref(in)), GST_FLOW_OK);
    GstBuffer *out = gst_harness_pull(h.get());
    EXPECT_EQ(out, in) << "not the same buffer";
    EXPECT_EQ(bufferBytes(out), bytes);
    gst_buffer_unref(out);
    gst_buffer_unref(in);
    expectedWrites.emplace_back(kFakeFd, bytes);
    if (!c.silent) expectedTrace += "pcmSink : got " + std::to_string(c.sizes[i]) + " bytes\n";
  }
  EXPECT_EQ(GetCapturedStdout(), expectedTrace);
  EXPECT_EQ(fake.writes, expectedWrites);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, AudiotapWrites,
    testing::Values(WriteCase{"OneVerbose", {320}, false}, WriteCase{"OneSilent", {320}, true},
                    WriteCase{"Empty", {0}, false},
                    WriteCase{"SeveralInOrder", {160, 1, 320, 0, 4096}, false},
                    WriteCase{"SeveralSilent", {160, 1, 320}, true}),
    [](const testing::TestParamInfo<WriteCase> &info) { return std::string(info.param.label); });

// A failing device never stops the stream.
TEST_F(FakeDeviceTest, FailedWritesStillPushEveryBuffer) {
  fdplayback = -1;
  Harness h = makeHarness("audiotap");
  ASSERT_TRUE(h);
  CaptureStdout();
  EXPECT_EQ(gst_harness_push(h.get(), makeBuffer(patternBytes(64))), GST_FLOW_OK);
  GetCapturedStdout();
  EXPECT_EQ(gst_harness_buffers_received(h.get()), 1u);
  ASSERT_EQ(fake.writes.size(), 1u);
  EXPECT_EQ(fake.writes[0].first, -1);
}

// --------------------------------------------------------------- the playback functions

using Playback = FakeDeviceTest;

TEST_F(Playback, InitThatCannotOpenTheDeviceLeavesMinusOneAndConfigStopsAtTheReset) {
  fake.failOpen = true;
  fdplayback = 0;
  CaptureStdout();
  EXPECT_EQ(playback_init(), -1);
  EXPECT_EQ(fdplayback, -1);
  EXPECT_EQ(playback_config(16, 0, 8000), -1);
  EXPECT_EQ(GetCapturedStdout(),
            "audio device=/dev/audio\n"
            "Playback error : unable to open device\n"
            "Playback error : Unable to reset OSS driver.\n");
}

TEST_F(Playback, ConfigBeforeInitAsksNothingAndPrintsNothing) {
  fdplayback = 0;
  CaptureStdout();
  EXPECT_EQ(playback_config(16, 0, 8000), -1);
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(fake.requests.empty());
}

struct ConfigCase {
  const char *label;
  int bits, stereo, rate;
  std::map<unsigned long, int> answers;
  const char *printed;
};
void PrintTo(const ConfigCase &c, std::ostream *os) { *os << c.label; }

class PlaybackConfig : public FakeDeviceTest, public testing::WithParamInterface<ConfigCase> {};

TEST_P(PlaybackConfig, AsksForMulawTheStereoFlagAndTheRateAndPrintsTheDriversAnswers) {
  const ConfigCase &c = GetParam();
  fake.answers = c.answers;
  CaptureStdout();
  EXPECT_EQ(playback_config(c.bits, c.stereo, c.rate), 0);
  EXPECT_EQ(GetCapturedStdout(), c.printed);
  EXPECT_EQ(fake.requests, (std::vector<Request>{{SNDCTL_DSP_RESET, 0},
                                                 {SNDCTL_DSP_SETFMT, AFMT_MU_LAW},
                                                 {SNDCTL_DSP_STEREO, c.stereo},
                                                 {SNDCTL_DSP_SPEED, c.rate}}));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PlaybackConfig,
    testing::Values(
        ConfigCase{"EightBitsStereo", 8, 1, 8000, {},
                   "expected format=1\naccepted format=1\nexpected stereo=1\n"
                   "accepted stereo=1\nspeed=8000\n"},
        ConfigCase{"DriverAdjusts",
                   16,
                   1,
                   44100,
                   {{SNDCTL_DSP_SETFMT, AFMT_U8}, {SNDCTL_DSP_STEREO, 0}, {SNDCTL_DSP_SPEED, 44117}},
                   "expected format=1\naccepted format=8\nexpected stereo=1\n"
                   "accepted stereo=0\nspeed=44117\n"}),
    [](const testing::TestParamInfo<ConfigCase> &info) { return std::string(info.param.label); });

struct FailureCase {
  const char *label;
  unsigned long failing;
  size_t requestsMade;
  const char *printed;
};
void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.label; }

class PlaybackConfigFailure : public FakeDeviceTest,
                              public testing::WithParamInterface<FailureCase> {};

TEST_P(PlaybackConfigFailure, StopsAtTheFirstRefusedRequest) {
  const FailureCase &c = GetParam();
  fake.failingRequest = c.failing;
  CaptureStdout();
  EXPECT_EQ(playback_config(16, 0, 8000), -1);
  EXPECT_EQ(GetCapturedStdout(), c.printed);
  ASSERT_EQ(fake.requests.size(), c.requestsMade);
  EXPECT_EQ(fake.requests.back().first, c.failing);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PlaybackConfigFailure,
    testing::Values(
        FailureCase{"Reset", SNDCTL_DSP_RESET, 1, "Playback error : Unable to reset OSS driver.\n"},
        FailureCase{"Format", SNDCTL_DSP_SETFMT, 2,
                    "expected format=1\nPlayback error : Unable to set format\n"},
        FailureCase{"Stereo", SNDCTL_DSP_STEREO, 3,
                    "expected format=1\naccepted format=1\nexpected stereo=0\n"
                    "Playback error : Unable to set stereo\n"},
        FailureCase{"Speed", SNDCTL_DSP_SPEED, 4,
                    "expected format=1\naccepted format=1\nexpected stereo=0\n"
                    "accepted stereo=0\nPlayback error : Unable to set speed\n"}),
    [](const testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.label); });

// ------------------------------------------------------------------ the real device calls

TEST_F(Playback, RealCallsOnAClosedDescriptorFailAtTheReset) {
  audio_device_ops = &audio_device_real_ops;
  fdplayback = -1;
  CaptureStdout();
  EXPECT_EQ(playback_config(16, 0, 8000), -1);
  EXPECT_EQ(GetCapturedStdout(), "Playback error : Unable to reset OSS driver.\n");
}

// In a child whose standard input and output are closed: opens `path` through the real calls
// and exits 0 when the device landed above the standard streams and takes writes.
void openWithStandardStreamsClosed(const char *path) {
  close(0);
  close(1);
  audio_device_ops = &audio_device_real_ops;
  playbackdevice = path;
  fdplayback = 0;
  if (playback_init() != 0 || fdplayback < 3) _exit(1);
  struct stat device, file;
  if (fstat(fdplayback, &device) != 0 || stat(path, &file) != 0) _exit(2);
  if (device.st_ino != file.st_ino) _exit(3);
  if (audio_device_ops->write(fdplayback, "abc", 3) != 3) _exit(4);
  _exit(fcntl(1, F_GETFD) == -1 ? 0 : 5);  // nothing left behind on standard output's number
}

// A host started with its standard streams closed must not get the device on one of them.
TEST_F(Playback, RealOpenKeepsTheDeviceOffTheStandardStreams) {
  char path[] = "/tmp/audiotap-device-XXXXXX";
  int made = mkstemp(path);
  ASSERT_GE(made, 0);
  close(made);
  EXPECT_EXIT(openWithStandardStreamsClosed(path), testing::ExitedWithCode(0), "");
  struct stat written;
  ASSERT_EQ(stat(path, &written), 0);
  EXPECT_EQ(written.st_size, 3);
  unlink(path);
}

}  // namespace
