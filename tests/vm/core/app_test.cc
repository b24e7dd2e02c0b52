// App children as real processes over fixture app folders: start-up, main.js, the exception
// report, the global functions and the ways an app ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include "app_child.h"

using ::testing::HasSubstr;
using ::testing::Not;
using tobrel_test::AppChildOptions;
using tobrel_test::RunResult;
using tobrel_test::TempDir;
using tobrel_test::writeApp;

namespace {

AppChildOptions fast() {
  AppChildOptions options;
  options.run.env.push_back(tobrel_test::kFastTimers);
  return options;
}

RunResult runApp(const std::string& mainJs, const std::map<std::string, std::string>& extra = {},
                 const std::string& request = "app PLAIN inst", AppChildOptions options = fast()) {
  TempDir apps;
  writeApp(apps, "app", mainJs, extra);
  return tobrel_test::runAppChild(apps.path(), request, options);
}

}  // namespace

TEST(AppChild, LogsAndEndsWithExitFromATimer) {
  RunResult r = runApp("log('hello');\nsetTimeout(10, function() { exit(); });\n");
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: running app: app\n"));
  EXPECT_THAT(r.err, HasSubstr("MESSAGE: JSLOG: hello\n"));
  EXPECT_THAT(r.err, HasSubstr("DEBUG: EXIT\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("AUTOKILL")));
  EXPECT_TRUE(r.exited && r.exitCode == 0) << r.describe() << "\n" << r.err;
}
