// Test support: install one component of this build into a fresh prefix and build a C program
// outside the tree against it, the way a program of the device would: through pkg-config.
//
//   tobrel_test::InstalledLibrary lib;
//   ASSERT_TRUE(lib.install(CMAKE_COMMAND_PATH, TOBREL_BINARY_DIR, "devicebus", dir.path())) << lib.error();
//   ASSERT_TRUE(lib.buildProgram(C_COMPILER_PATH, source, dir.path() + "/client")) << lib.error();
#ifndef TOBREL_TESTS_SUPPORT_INSTALLED_LIBRARY_H
#define TOBREL_TESTS_SUPPORT_INSTALLED_LIBRARY_H

#include <string>

namespace tobrel_test {

class InstalledLibrary {
 public:
  // `cmake --install` of `component` into `folder`/prefix, then the flags and libdir of the
  // pkg-config file named after the component, found anywhere under that prefix.
  bool install(const std::string& cmake, const std::string& binaryDir, const std::string& component,
               const std::string& folder);
  // Compiles `source` (C) into `exe` with -Wall -Werror, the package's flags and an rpath to its
  // libdir, so the program runs against the installed copy.
  bool buildProgram(const std::string& compiler, const std::string& source, const std::string& exe);

  // Runs the built program; output and error together. The library of a sanitizer build pulls
  // in its runtime late, which is fine for such a check.
  std::string run(const std::string& exe, int* status) const;
  // The line of `ldd exe` that names `library`, so a test can see which copy was linked.
  std::string linkedCopy(const std::string& exe, const std::string& library) const;

  const std::string& flags() const { return flags_; }
  const std::string& libdir() const { return libdir_; }
  // The output of the step that failed.
  const std::string& error() const { return error_; }

 private:
  std::string flags_, libdir_, error_;
};

}  // namespace tobrel_test

#endif
