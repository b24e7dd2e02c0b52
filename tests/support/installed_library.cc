#include "installed_library.h"

#include "process.h"
#include "temp_dir.h"

namespace tobrel_test {

namespace {

std::string firstLine(std::string text) {
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  return text;
}

}  // namespace

bool InstalledLibrary::install(const std::string& cmake, const std::string& binaryDir,
                               const std::string& component, const std::string& folder) {
  const std::string prefix = folder + "/prefix";
  int status = 0;
  error_ = runShell("'" + cmake + "' --install '" + binaryDir + "' --component " + component + " --prefix '" +
                        prefix + "'",
                    &status);
  if (status != 0) return false;
  const std::string pcdir = firstLine(runShell("dirname \"$(find '" + prefix + "' -name " + component + ".pc)\""));
  if (pcdir.empty() || pcdir == ".") {
    error_ = "no " + component + ".pc under " + prefix;
    return false;
  }
  // The build's own pkg-config: a cross build's knows the target's packages.
  const std::string pkgConfig = "PKG_CONFIG_PATH='" + pcdir + "' '" TOBREL_PKG_CONFIG "' ";
  const std::string flags = runShell(pkgConfig + "--cflags --libs " + component, &status);
  if (status != 0) {
    error_ = flags;
    return false;
  }
  flags_ = firstLine(flags);
  libdir_ = firstLine(runShell(pkgConfig + "--variable=libdir " + component));
  error_.clear();
  return true;
}

bool InstalledLibrary::buildProgram(const std::string& compiler, const std::string& source,
                                    const std::string& exe) {
  writeFile(exe + ".c", source);
  int status = 0;
  error_ = runShell("'" + compiler + "' -Wall -Werror -o '" + exe + "' '" + exe + ".c' " + flags_ +
                        " -Wl,-rpath,'" + libdir_ + "'",
                    &status);
  return status == 0;
}

std::string InstalledLibrary::run(const std::string& exe, int* status) const {
  RunOptions options;
  options.outputToFile = true;
  options.env = {"ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"};
  // A program that logs reaches a sink of the test's own, not the console.
  options.discardSyslog = true;
  const RunResult r = runProgram({exe}, options);
  if (status != nullptr) *status = r.exited ? r.exitCode : -1;
  return r.out;
}

std::string InstalledLibrary::linkedCopy(const std::string& exe, const std::string& library) const {
  // Under an emulator the target's own loader lists what it loads, which is what ldd asks it.
  const std::string list = underEmulator() ? "LD_TRACE_LOADED_OBJECTS=1 " + shellCommandFor(exe) : "ldd '" + exe + "'";
  return runShell(list + " | grep '" + library + "'");
}

}  // namespace tobrel_test
