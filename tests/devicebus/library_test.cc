// devicebus as a library: its SONAME, and a program built outside this tree that finds the
// installed copy through pkg-config and calls it.
#include <gtest/gtest.h>

#include <string>

#include "process.h"
#include "temp_dir.h"

namespace {

// Runs `cmd` through the shell; standard output and error together. `status` gets 0 when it
// exited 0.
std::string run(const std::string& cmd, int* status = nullptr) {
  tobrel_test::RunOptions options;
  options.outputToFile = true;
  options.timeoutMs = 120000;  // installs and compiles; slow under a sanitizer on a loaded machine
  const tobrel_test::RunResult r = tobrel_test::runProgram({"/bin/sh", "-c", cmd}, options);
  if (status) *status = r.exited ? r.exitCode : -1;
  return r.out;
}

std::string firstLine(std::string text) {
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  return text;
}

}  // namespace

TEST(DevicebusLibrary, CarriesAVersionedSoname) {
  const std::string dyn = run("readelf -d '" DEVICEBUS_LIBRARY "'");
  EXPECT_NE(dyn.find("Library soname: [libdevicebus.so.1]"), std::string::npos) << dyn;
}

TEST(DevicebusLibrary, InstalledCopyLinksThroughPkgConfig) {
  tobrel_test::TempDir dir;
  const std::string prefix = dir.path() + "/prefix";
  int status = 0;
  std::string out = run("'" CMAKE_COMMAND_PATH "' --install '" TOBREL_BINARY_DIR
                        "' --component devicebus --prefix '" + prefix + "'",
                        &status);
  ASSERT_EQ(status, 0) << out;

  const std::string pcdir = firstLine(run("dirname \"$(find '" + prefix + "' -name devicebus.pc)\""));
  ASSERT_FALSE(pcdir.empty());
  const std::string pc = "PKG_CONFIG_PATH='" + pcdir + "' pkg-config ";
  const std::string flags = firstLine(run(pc + "--cflags --libs devicebus", &status));
  ASSERT_EQ(status, 0) << flags;
  const std::string libdir = firstLine(run(pc + "--variable=libdir devicebus"));

  // A program of the device: it includes the installed header and calls the library without a
  // bus, through the paths that need none.
  tobrel_test::writeFile(dir.path() + "/client.c",
                         "#include <devicebus.h>\n"
                         "#include <stdio.h>\n"
                         "int main(void) {\n"
                         "  DBusGProxy *proxy = NULL;\n"
                         "  char id[37], text[] = \"ABC\";\n"
                         "  if (dbus_load_proxy(&proxy, 15, NULL) || proxy != NULL) return 2;\n"
                         "  if (ledLight(proxy, \"id\", \"red\")) return 3;\n"
                         "  if (!generateUuid(id)) return 4;\n"
                         "  toLower(text);\n"
                         "  printf(\"%s %d\\n\", text, (int)sizeof id - 1);\n"
                         "  return 0;\n"
                         "}\n");
  const std::string exe = dir.path() + "/client";
  out = run("'" C_COMPILER_PATH "' -Wall -Werror -o '" + exe + "' '" + dir.path() + "/client.c' " + flags +
                " -Wl,-rpath,'" + libdir + "'",
            &status);
  ASSERT_EQ(status, 0) << out;

  // The library of a sanitizer build pulls in its runtime late; that is fine for this check.
  out = run("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 '" + exe + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "Failed to create proxy for ERROR Module\nabc 36\n");
  const std::string resolved = run("ldd '" + exe + "' | grep devicebus");
  EXPECT_NE(resolved.find(libdir + "/libdevicebus.so.1"), std::string::npos) << resolved;
}
