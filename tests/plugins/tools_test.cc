// The installed shape of the plug-ins as people meet it: gst-inspect-1.0 and gst-launch-1.0
// run against the built plug-in folder, each run with a registry of its own in the build folder.
#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <ostream>
#include <string>
#include <vector>

#include "process.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a GStreamer tool on our plug-ins and the core elements only, scanning in-process.
class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    // One folder per test, inside the build folder: tests run in parallel and each scans
    // into a registry of its own.
    std::string pattern = std::string(TOBREL_TEST_WORK_DIR) + "/tools-XXXXXX";
    ASSERT_NE(g_mkdtemp(pattern.data()), nullptr) << g_strerror(errno);
    tmpDir_ = pattern;
  }
  void TearDown() override {
    if (tmpDir_.empty()) return;
    g_unlink((tmpDir_ + "/registry.bin").c_str());
    for (const std::string &link : links_) g_unlink(link.c_str());
    if (!pluginDir_.empty()) g_rmdir(pluginDir_.c_str());
    g_rmdir(tmpDir_.c_str());
  }

  // Lets the runs that follow see only the built plug-in `name` (and the core elements).
  void onlyPlugin(const std::string &name) {
    pluginDir_ = tmpDir_ + "/plugins";
    ASSERT_EQ(g_mkdir(pluginDir_.c_str(), 0700), 0);
    links_.push_back(pluginDir_ + "/libgst" + name + ".so");
    const std::string target = std::string(TOBREL_GST_PLUGIN_BUILD_DIR) + "/libgst" + name + ".so";
    ASSERT_EQ(symlink(target.c_str(), links_.back().c_str()), 0) << g_strerror(errno);
  }

  ToolRun run(const char *program, const std::vector<std::string> &args) {
    const std::vector<std::string> command = tobrel_test::commandFor(program);
    std::vector<gchar *> argv;
    for (const std::string &a : command) argv.push_back(const_cast<gchar *>(a.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<gchar *>(a.c_str()));
    argv.push_back(nullptr);

    gchar **env = g_get_environ();
    env = g_environ_setenv(env, "GST_PLUGIN_PATH_1_0",
                           pluginDir_.empty() ? TOBREL_GST_PLUGIN_BUILD_DIR : pluginDir_.c_str(),
                           TRUE);
    env = g_environ_setenv(env, "GST_PLUGIN_SYSTEM_PATH_1_0", TOBREL_GST_CORE_PLUGIN_DIR, TRUE);
    env = g_environ_setenv(env, "GST_REGISTRY_1_0", (tmpDir_ + "/registry.bin").c_str(), TRUE);
    // The scanner helper is not built with the sanitizers and cannot load sanitized plug-ins;
    // for the same reason the tools get the sanitizer runtime preloaded in the sanitizer tree.
    env = g_environ_setenv(env, "GST_REGISTRY_FORK", "no", TRUE);
    env = g_environ_setenv(env, "LC_ALL", "C", TRUE);  // untranslated GStreamer texts
    if (*TOBREL_SANITIZER_PRELOAD)
      env = g_environ_setenv(env, "LD_PRELOAD", TOBREL_SANITIZER_PRELOAD, TRUE);

    ToolRun result;
    gchar *out = nullptr, *err = nullptr;
    GError *error = nullptr;
    gboolean spawned = g_spawn_sync(nullptr, argv.data(), env, G_SPAWN_DEFAULT, nullptr, nullptr,
                                    &out, &err, &result.status, &error);
    g_strfreev(env);
    EXPECT_TRUE(spawned) << (error ? error->message : "");
    if (error) g_error_free(error);
    result.out = out ? out : "";
    result.err = err ? err : "";
    g_free(out);
    g_free(err);
    return result;
  }

  std::string tmpDir_;
  std::string pluginDir_;  // empty: every built plug-in
  std::vector<std::string> links_;
};

// gst-inspect aligns its columns with runs of spaces; compare with single spaces.
std::string squeezeSpaces(const std::string &text) {
  std::string result;
  for (char ch : text) {
    const bool blank = ch == ' ' || ch == '\t';
    if (blank && !result.empty() && result.back() == ' ') continue;
    result += blank ? ' ' : ch;
  }
  return result;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

size_t countLines(const std::string &text, const std::string &line) {
  size_t n = 0;
  for (const std::string &l : lines(text)) n += l == line;
  return n;
}

bool exitedWith(int status, int code) {
  return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

struct InspectCase {
  const char *name;
  const char *longName;
  const char *silentShown;  // gst-inspect shows a new element's value as the default
};
void PrintTo(const InspectCase &c, std::ostream *os) { *os << c.name; }

class Inspect : public ToolTest, public testing::WithParamInterface<InspectCase> {};

TEST_P(Inspect, ShowsTheElementItsPadsAndSilent) {
  const InspectCase &c = GetParam();
  ToolRun r = run(GST_INSPECT, {c.name});
  ASSERT_TRUE(exitedWith(r.status, 0)) << r.err;
  const std::string out = squeezeSpaces(r.out);
  for (const std::string &wanted : {
           std::string(" Long-name ") + c.longName + "\n",
           std::string(" Klass FIXME:Generic\n"),
           std::string(" Description FIXME:Generic Template Element\n"),
           std::string(" Name ") + c.name + "\n",
           std::string(" Description Template ") + c.name + "\n",
           std::string(" Version 0.10.0\n"),
           std::string(" License LGPL\n"),
           std::string(" SINK template: 'sink'\n Availability: Always\n Capabilities:\n ANY\n"),
           std::string(" SRC template: 'src'\n Availability: Always\n Capabilities:\n ANY\n"),
           std::string(" SINK: 'sink'\n"),
           std::string(" SRC: 'src'\n"),
           std::string(" silent : Produce verbose output ?\n flags: readable, writable\n"
                       " Boolean. Default: " + std::string(c.silentShown) + "\n"),
       }) {
    EXPECT_NE(out.find(wanted), std::string::npos) << "missing: " << wanted << "\nin:\n" << out;
  }
}

INSTANTIATE_TEST_SUITE_P(AllFour, Inspect,
                         testing::Values(InspectCase{"audiotap", "Audiotap", "false"},
                                         InspectCase{"bufferlog", "Bufferlog", "false"},
                                         InspectCase{"framewrap", "framewrap", "true"},
                                         InspectCase{"frameunwrap", "frameunwrap", "true"}),
                         [](const testing::TestParamInfo<InspectCase> &info) {
                           return std::string(info.param.name);
                         });

TEST_F(ToolTest, WrappedFramesUnwrapToTheirFixedPayload) {
  ToolRun r = run(GST_LAUNCH, {"fakesrc", "num-buffers=3", "sizetype=fixed", "sizemax=300", "!",
                               "framewrap", "silent=false", "!", "frameunwrap", "silent=false",
                               "!", "fakesink"});
  ASSERT_TRUE(exitedWith(r.status, 0)) << r.out << r.err;
  EXPECT_EQ(countLines(r.out, "process : got 300 -> 304 bytes"), 3u) << r.out;
  EXPECT_EQ(countLines(r.out, "process : got 304 bytes"), 3u) << r.out;
}

TEST_F(ToolTest, ShortFrameStopsThePipelineWithAStreamError) {
  // A sink that does not wait for preroll: gst-launch-1.0 can hang when an error arrives
  // while it waits for one.
  ToolRun r = run(GST_LAUNCH, {"fakesrc", "num-buffers=2", "sizetype=fixed", "sizemax=175", "!",
                               "frameunwrap", "!", "fakesink", "async=false"});
  EXPECT_FALSE(exitedWith(r.status, 0));
  EXPECT_NE((r.out + r.err).find("Gstframeunwrap:frameunwrap0: GStreamer encountered a general "
                                 "stream error."),
            std::string::npos)
      << r.out << r.err;
  EXPECT_EQ(r.out.find("process : got"), std::string::npos) << "silent by default";
}

// bufferlog alone: one load-time line, no audio device, and a line per buffer although silent.
TEST_F(ToolTest, BufferlogPrintsItsLoadLineOnceAndEveryBufferAlsoWhenSilent) {
  onlyPlugin("bufferlog");
  ToolRun r = run(GST_LAUNCH, {"fakesrc", "num-buffers=3", "sizetype=fixed", "sizemax=10", "!",
                               "bufferlog", "silent=true", "!", "fakesink"});
  ASSERT_TRUE(exitedWith(r.status, 0)) << r.out << r.err;
  const std::vector<std::string> out = lines(r.out);
  auto init = std::find(out.begin(), out.end(), "INIT PCMSINK");
  auto first = std::find(out.begin(), out.end(), "pcmSink : got 10 bytes");
  ASSERT_NE(init, out.end()) << r.out;
  EXPECT_LT(init - out.begin(), first - out.begin());
  EXPECT_EQ(countLines(r.out, "INIT PCMSINK"), 1u) << r.out;
  EXPECT_EQ(countLines(r.out, "pcmSink : got 10 bytes"), 3u) << r.out;
  EXPECT_EQ(r.out.find("audio device="), std::string::npos) << r.out;
}

// Without an audio device audiotap still loads, registers and passes every buffer on.
TEST_F(ToolTest, AudiotapWithoutDeviceReportsItOnceAndPassesBuffersOn) {
  if (access("/dev/audio", F_OK) == 0) GTEST_SKIP() << "this machine has /dev/audio";
  ToolRun r = run(GST_LAUNCH, {"fakesrc", "num-buffers=2", "sizetype=fixed", "sizemax=320", "!",
                               "audiotap", "!", "framewrap", "silent=false", "!", "fakesink"});
  ASSERT_TRUE(exitedWith(r.status, 0)) << r.out << r.err;

  const std::vector<std::string> out = lines(r.out);
  const std::vector<std::string> loadBlock = {
      "INIT PCMSINK", "audio device=/dev/audio", "Playback error : unable to open device",
      "Playback error : Unable to reset OSS driver."};
  auto at = std::search(out.begin(), out.end(), loadBlock.begin() + 1, loadBlock.end());
  ASSERT_NE(at, out.end()) << r.out;
  ASSERT_NE(at, out.begin());
  EXPECT_EQ(*(at - 1), loadBlock[0]);
  EXPECT_EQ(countLines(r.out, "audio device=/dev/audio"), 1u) << "the device is opened once";
  EXPECT_LT(at - out.begin(),
            std::find(out.begin(), out.end(), "pcmSink : got 320 bytes") - out.begin());
  EXPECT_EQ(countLines(r.out, "pcmSink : got 320 bytes"), 2u) << r.out;
  EXPECT_EQ(countLines(r.out, "process : got 320 -> 324 bytes"), 2u) << r.out;
}

}  // namespace
