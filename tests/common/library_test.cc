// tobrel-common as a library: what it exports, its SONAME, and a program built outside this
// tree that finds the installed copy through pkg-config.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "installed_library.h"
#include "process.h"
#include "temp_dir.h"

using tobrel_test::runShell;

TEST(CommonLibrary, ExportsExactlyTheTwoFunctions) {
  std::istringstream nm(runShell(std::string("nm -D --defined-only ") + TOBREL_COMMON_LIB));
  std::set<std::string> exported;
  for (std::string addr, type, name; nm >> addr >> type >> name;) {
    EXPECT_EQ(type, "T") << name;
    exported.insert(name);
  }
  EXPECT_EQ(exported, (std::set<std::string>{"g_log_handler", "init_tobrel_log"}));
}

TEST(CommonLibrary, CarriesAVersionedSoname) {
  std::string dyn = runShell(std::string("readelf -d ") + TOBREL_COMMON_LIB);
  EXPECT_NE(dyn.find("Library soname: [libtobrel-common.so.1]"), std::string::npos) << dyn;
}

TEST(CommonLibrary, InstalledCopyLinksThroughPkgConfig) {
  tobrel_test::TempDir dir;
  tobrel_test::InstalledLibrary lib;
  ASSERT_TRUE(lib.install(CMAKE_COMMAND_PATH, TOBREL_BINARY_DIR, "tobrel-common", dir.path())) << lib.error();

  // A daemon outside this tree: it includes the installed header and logs one message, which
  // the library echoes on standard output.
  const std::string exe = dir.path() + "/daemon";
  ASSERT_TRUE(lib.buildProgram(C_COMPILER_PATH,
                               "#include <tobrel-common.h>\n"
                               "int main(void) {\n"
                               "  static gint threshold = 0;\n"
                               "  init_tobrel_log(\"Outside\", &threshold);\n"
                               "  g_message(\"linked %s\", \"fine\");\n"
                               "  return 0;\n"
                               "}\n",
                               exe))
      << lib.error();

  int status = 0;
  const std::string out = lib.run(exe, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "linked fine\n");
  const std::string resolved = lib.linkedCopy(exe, "tobrel-common");
  EXPECT_NE(resolved.find(lib.libdir()), std::string::npos) << resolved;
}
