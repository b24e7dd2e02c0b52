// runAppChild: the launcher's child branch, run in a forked copy of the test process.
#include "app_child.h"

#include <syslog.h>

#include "app.h"
#include "engine.h"
#include "log.h"
#include "tobrel_data.h"

namespace tobrel_test {

const char* const kFastTimers = "TOBRELVM_TIME_DIVISOR=100";
const char* const kEmptyDescriptor = "<descriptor><accesses></accesses></descriptor>\n";

const char* const kTryFunction =
    "function t(tag, f) {\n"
    "  try { log(tag + ' returned ' + JSON.stringify(f())); } catch (e) { log(tag + ' threw ' + e); }\n"
    "}\n";

RunOptions launcherRunOptions() {
  RunOptions options;
  options.discardSyslog = true;
  return options;
}

std::string writeApp(const TempDir& root, const std::string& name, const std::string& mainJs,
                     const std::map<std::string, std::string>& extraFiles) {
  root.write(name + "/main.js", mainJs);
  if (extraFiles.count("descriptor.xml") == 0) root.write(name + "/descriptor.xml", kEmptyDescriptor);
  for (const auto& file : extraFiles) root.write(name + "/" + file.first, file.second);
  return root.path() + "/" + name;
}

int runAppHere(const std::string& appFolder, const std::string& requestLine, int debugLevel) {
  LauncherOptions launcher;
  launcher.debugLevel = debugLevel;
  launcher.appFolder = appFolder.c_str();
  openTobrelLog(&launcher);
  initEngine();
  int status;
  {
    TobrelData data;
    data.options = &launcher;
    data.setCmdLine(requestLine);
    status = runChild(nullptr, &data);
  }
  closelog();
  return status;
}

std::unique_ptr<Process> startAppChild(const std::string& appFolder, const std::string& requestLine,
                                       const AppChildOptions& options) {
  const int debugLevel = options.debugLevel;
  return Process::start([appFolder, requestLine, debugLevel]() { return runAppHere(appFolder, requestLine, debugLevel); },
                        options.run);
}

RunResult runAppChild(const std::string& appFolder, const std::string& requestLine, const AppChildOptions& options) {
  auto process = startAppChild(appFolder, requestLine, options);
  process->closeStdin();
  return process->wait(options.run.timeoutMs);
}

}  // namespace tobrel_test
