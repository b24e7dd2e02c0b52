// tobrel-common as a library: what it exports, its SONAME, and a program built outside this
// tree that finds the installed copy through pkg-config.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "process.h"
#include "temp_dir.h"

namespace {

// Runs `cmd` through the shell; standard output and error together. `status` gets 0 when it
// exited 0.
std::string run(const std::string &cmd, int *status = nullptr) {
  tobrel_test::RunOptions options;
  options.outputToFile = true;
  options.timeoutMs = 120000;  // installs and compiles; slow under a sanitizer on a loaded machine
  const tobrel_test::RunResult r = tobrel_test::runProgram({"/bin/sh", "-c", cmd}, options);
  if (status) *status = r.exited ? r.exitCode : -1;
  return r.out;
}

}  // namespace

TEST(CommonLibrary, ExportsExactlyTheTwoFunctions) {
  std::istringstream nm(run(std::string("nm -D --defined-only ") + TOBREL_COMMON_LIB));
  std::set<std::string> exported;
  for (std::string addr, type, name; nm >> addr >> type >> name;) {
    EXPECT_EQ(type, "T") << name;
    exported.insert(name);
  }
  EXPECT_EQ(exported, (std::set<std::string>{"g_log_handler", "init_tobrel_log"}));
}

TEST(CommonLibrary, CarriesAVersionedSoname) {
  std::string dyn = run(std::string("readelf -d ") + TOBREL_COMMON_LIB);
  EXPECT_NE(dyn.find("Library soname: [libtobrel-common.so.1]"), std::string::npos) << dyn;
}

TEST(CommonLibrary, InstalledCopyLinksThroughPkgConfig) {
  tobrel_test::TempDir dir;
  const std::string prefix = dir.path() + "/prefix";
  int status = 0;
  std::string out = run(std::string("'") + CMAKE_COMMAND_PATH + "' --install '" + TOBREL_BINARY_DIR +
                            "' --component tobrel-common --prefix '" + prefix + "'",
                        &status);
  ASSERT_EQ(status, 0) << out;

  std::string pcdir = run("dirname \"$(find '" + prefix + "' -name tobrel-common.pc)\"");
  pcdir.erase(pcdir.find_last_not_of('\n') + 1);
  ASSERT_FALSE(pcdir.empty());
  const std::string pc = "PKG_CONFIG_PATH='" + pcdir + "' pkg-config ";
  std::string flags = run(pc + "--cflags --libs tobrel-common", &status);
  ASSERT_EQ(status, 0) << flags;
  flags.erase(flags.find_last_not_of('\n') + 1);
  std::string libdir = run(pc + "--variable=libdir tobrel-common");
  libdir.erase(libdir.find_last_not_of('\n') + 1);

  // A daemon outside this tree: it includes the installed header and logs one message, which
  // the library echoes on standard output.
  {
    std::ofstream src(dir.path() + "/daemon.c");
    src << "#include <tobrel-common.h>\n"
           "int main(void) {\n"
           "  static gint threshold = 0;\n"
           "  init_tobrel_log(\"Outside\", &threshold);\n"
           "  g_message(\"linked %s\", \"fine\");\n"
           "  return 0;\n"
           "}\n";
  }
  const std::string exe = dir.path() + "/daemon";
  out = run(std::string("'") + C_COMPILER_PATH + "' -o '" + exe + "' '" + dir.path() + "/daemon.c' " +
                flags + " -Wl,-rpath,'" + libdir + "'",
            &status);
  ASSERT_EQ(status, 0) << out;

  // The library of a sanitizer build pulls in its runtime late; that is fine for this check.
  out = run("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 '" + exe + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "linked fine\n");
  std::string resolved = run("ldd '" + exe + "' | grep tobrel-common");
  EXPECT_NE(resolved.find(libdir), std::string::npos) << resolved;
}
