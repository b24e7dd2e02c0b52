// devicebus as a library: its SONAME, and a program built outside this tree that finds the
// installed copy through pkg-config and calls it.
#include <gtest/gtest.h>

#include <string>

#include "installed_library.h"
#include "process.h"
#include "temp_dir.h"

using tobrel_test::runShell;

TEST(DevicebusLibrary, CarriesAVersionedSoname) {
  const std::string dyn = runShell("readelf -d '" DEVICEBUS_LIBRARY "'");
  EXPECT_NE(dyn.find("Library soname: [libdevicebus.so.1]"), std::string::npos) << dyn;
}

TEST(DevicebusLibrary, InstalledCopyLinksThroughPkgConfig) {
  tobrel_test::TempDir dir;
  tobrel_test::InstalledLibrary lib;
  ASSERT_TRUE(lib.install(CMAKE_COMMAND_PATH, TOBREL_BINARY_DIR, "devicebus", dir.path())) << lib.error();

  // A program of the device: it includes the installed header and calls the library without a
  // bus, through the paths that need none.
  const std::string exe = dir.path() + "/client";
  ASSERT_TRUE(lib.buildProgram(C_COMPILER_PATH,
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
                               "}\n",
                               exe))
      << lib.error();

  int status = 0;
  const std::string out = lib.run(exe, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out, "Failed to create proxy for ERROR Module\nabc 36\n");
  const std::string resolved = lib.linkedCopy(exe, "devicebus");
  EXPECT_NE(resolved.find(lib.libdir() + "/libdevicebus.so.1"), std::string::npos) << resolved;
}
