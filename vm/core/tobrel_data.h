// The per-app record of a TobrelVM child, the launcher's options, and the base class of every
// receiver of device messages. The launcher fills a TobrelData from one launch request; the
// forked child keeps its copy for the app's whole life (natives find it through script.h).
#ifndef TOBREL_VM_CORE_TOBREL_DATA_H
#define TOBREL_VM_CORE_TOBREL_DATA_H

#include <glib.h>
#include <stddef.h>

#include <memory>
#include <string>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

class Descriptor;

// The launcher's command line, one record for the life of the process (fork copies it).
struct LauncherOptions {
  int debugLevel = 7;             // "--debug=": stderr echo threshold, see log.h
  const char* appFolder = "";     // "--app_folder=": points into argv
  const char* libFolder = nullptr;  // "--lib_folder=": accepted, read by nothing
};

// Abstract receiver of device messages. The virtual destructor lets the listener list delete a
// module listener through this base, so its destructor can release its script function.
class NuskMsgListener {
 public:
  NuskMsgListener() = default;
  NuskMsgListener(const NuskMsgListener&) = delete;
  NuskMsgListener& operator=(const NuskMsgListener&) = delete;
  virtual ~NuskMsgListener() = default;

  // `msg` belongs to the caller and lives only for the call. Returns true to stay registered;
  // false has the owning list remove and delete this listener.
  virtual bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) = 0;
};

class TobrelData : public NuskMsgListener {
 public:
  TobrelData();
  ~TobrelData() override;

  // Splits a launch request (without its newline) at its first two spaces into appName,
  // launchType and instanceName; cmdLine keeps the whole line.
  void setCmdLine(const std::string& line);

  // Offers one received event message to every listener in registration order, removing and
  // deleting those that return false. The result means nothing (the link's poller ignores it).
  bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) override;

  // Appends a listener; the list owns it from here.
  void addListener(NuskMsgListener* listener);

  // One step of the fan-out: calls the listener held by `node` and drops it when it returns false.
  void callListener(GList* node, const net::zolvek::nusk::message::NuskMsg& msg);

  // Deletes every listener while the script engine still lives (their destructors release
  // script handles). Called once when the app ends.
  void deleteListeners();

  bool isConnected() const { return sock != -1; }

  int sock = -1;                  // device link socket; -1 while there is none
  char* interactiveId = nullptr;  // granted interactive id (g_strdup'd; g_free'd here), or null
  GMainLoop* loop = nullptr;      // the child's main loop, set by runChild
  GList* listeners = nullptr;     // of NuskMsgListener*, owned, in order of registration
  std::string appName;
  std::string launchType;
  std::string instanceName;
  std::string cmdLine;
  LauncherOptions* options = nullptr;  // the launcher's record, set before setCmdLine
  // The app's access list, set during start-up and owned by this record alone. A shared_ptr
  // only so that this header needs no more than the forward declaration.
  std::shared_ptr<Descriptor> descriptor;

  // exit() (or a fatal app condition) asked the app to end, through endApp. Also set before the
  // main loop has started, so runChild then skips the loop instead of losing the request.
  bool quitRequested = false;
  // Status of the child once its loop has ended: 0, or what the quitting code chose.
  int exitStatus = 0;
};

// Ends the app through its main loop with `status` (exit() ends it with 0). The first end
// decides the status; the loop is asked to quit whenever it runs, and runChild does not start
// a loop for an app that has already ended.
void endApp(TobrelData* app, int status);

// Paths of an app's files are "<appFolder>/<appName>/<name>" in a buffer of this many bytes: a
// longer path is cut to one character less. Start-up (scripts, access list, parameters) uses
// the first; the script's own data files (file.read, file.write) the second.
constexpr size_t kAppPathBytes = 255;
constexpr size_t kAppDataPathBytes = 512;

// The one builder of app file paths. The name is joined unchanged: one that begins with "/"
// still lands inside the app's folder.
std::string appFilePath(const TobrelData& app, const char* name, size_t bufferBytes = kAppPathBytes);

#endif
