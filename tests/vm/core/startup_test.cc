// Pieces of app start-up tested in-process: the not-interactive check, the test seam for its
// interval, app file paths, readFile and the bound of readWholeFile.
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "app.h"
#include "log_capture.h"
#include "temp_dir.h"
#include "timeouts.h"
#include "tobrel_data.h"
#include "whole_file.h"

TEST(Autokill, EndsOnlyAnAppThatIsStillNotInteractive) {
  for (const bool interactive : {false, true}) {
    tobrel_test::LogCapture logs;
    TobrelData data;
    data.loop = g_main_loop_new(nullptr, FALSE);
    if (interactive) data.interactiveId = g_strdup("3f0c");
    EXPECT_FALSE(autokillNotInteractive(&data)) << "the check runs once";
    EXPECT_EQ(data.quitRequested, !interactive);
    EXPECT_EQ(data.exitStatus, interactive ? 0 : 255);
    EXPECT_EQ(logs.has(G_LOG_LEVEL_WARNING, "/!\\ AUTOKILL, application still not interactive after 10000ms"),
              !interactive);
    g_main_loop_unref(data.loop);
  }
}

TEST(Timeouts, DivisorSeam) {
  const struct {
    const char* divisor;  // null: unset
    unsigned ms;
  } cases[] = {
      {nullptr, 10000}, {"100", 100}, {"3", 3333}, {"1", 10000}, {"0", 10000},
      {"-4", 10000},    {"abc", 10000}, {"1000000", 1},
  };
  for (const auto& c : cases) {
    if (c.divisor != nullptr) setenv("TOBRELVM_TIME_DIVISOR", c.divisor, 1);
    else unsetenv("TOBRELVM_TIME_DIVISOR");
    EXPECT_EQ(scaledTimeoutMs(kNotInteractiveTimeoutMs), c.ms) << (c.divisor ? c.divisor : "unset");
  }
  unsetenv("TOBRELVM_TIME_DIVISOR");
}

TEST(AppFiles, PathsAreCutTo254Characters) {
  LauncherOptions options;
  const std::string folder = "/apps/" + std::string(300, 'f');
  options.appFolder = folder.c_str();
  TobrelData data;
  data.options = &options;
  data.appName = "app";
  EXPECT_EQ(appFilePath(data, "main.js").size(), 254u);
  options.appFolder = "/apps";
  EXPECT_EQ(appFilePath(data, "lib/x.js"), "/apps/app/lib/x.js");
}

TEST(AppFiles, ReadFileReturnsTheBytesAndANul) {
  tobrel_test::TempDir dir;
  const struct {
    std::string content;
  } cases[] = {{""}, {"log('x');\n"}, {std::string("a\0b", 3)}, {std::string(100000, 'z')}};
  for (const auto& c : cases) {
    const std::string path = dir.write("f.js", c.content);
    size_t length = 0;
    char* bytes = readFile(path.c_str(), &length);
    EXPECT_EQ(std::string(bytes, length), c.content);
    EXPECT_EQ(bytes[length], '\0');
    delete[] bytes;
  }
}

// A caller's bound is the most a file may hold: exactly that much is read, one byte more is
// EFBIG, found from the size alone (the large files here are sparse and never read).
TEST(AppFiles, ReadWholeFileTakesAFileOfExactlyTheBound) {
  tobrel_test::TempDir dir;
  const struct {
    off_t size;
    size_t bound;
    int error;
  } cases[] = {
      {0, 0, 0},
      {1, 0, EFBIG},
      {10, 10, 0},
      {11, 10, EFBIG},
      {static_cast<off_t>(INT_MAX) + 1, INT_MAX, EFBIG},     // the parameters' bound
      {static_cast<off_t>(INT32_MAX), INT32_MAX - 1, EFBIG},  // the data resources' bound
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes, bound " + std::to_string(c.bound));
    const std::string path = dir.write("f", c.size <= 11 ? std::string(static_cast<size_t>(c.size), 'x') : "");
    if (c.size > 11) {
      ASSERT_EQ(truncate(path.c_str(), c.size), 0);
    }
    WholeFile file;
    ASSERT_EQ(readWholeFile(path.c_str(), &file, c.bound), c.error);
    if (c.error != 0) continue;
    ASSERT_EQ(file.size, static_cast<size_t>(c.size));
    EXPECT_EQ(std::string(file.bytes.get(), file.size), std::string(file.size, 'x'));
    EXPECT_EQ(file.bytes[file.size], '\0');
  }
}

// Two ends in one pass of the loop (the not-interactive end, then a timer's exit()): the app
// ends for the first reason.
TEST(EndApp, TheFirstEndDecidesTheStatus) {
  TobrelData data;
  data.loop = g_main_loop_new(nullptr, FALSE);
  endApp(&data, 255);
  endApp(&data, 0);
  EXPECT_TRUE(data.quitRequested);
  EXPECT_EQ(data.exitStatus, 255);
  g_main_loop_unref(data.loop);
  TobrelData early;  // before the loop exists (main.js's top level)
  endApp(&early, 1);
  EXPECT_TRUE(early.quitRequested);
  EXPECT_EQ(early.exitStatus, 1);
}
