// TobrelData: the launch request split and the listener fan-out of an app child.
#include "tobrel_data.h"

#include <stdio.h>

#include <vector>

#include "log.h"

TobrelData::TobrelData() = default;

TobrelData::~TobrelData() {
  // Listeners are released by deleteListeners() while the engine still lives; the socket and
  // the main loop belong to the code that made them.
  g_free(interactiveId);
}

void TobrelData::setCmdLine(const std::string& line) {
  g_debug("setCmdLine %s", line.c_str());
  cmdLine = line;
  // Only the space separates: a tab does not, and two spaces in a row give an empty field.
  const size_t first = line.find(' ');
  if (first == std::string::npos) {
    appName = line;
    return;
  }
  appName = line.substr(0, first);
  g_debug("APP NAME %s", appName.c_str());
  const size_t second = line.find(' ', first + 1);
  if (second == std::string::npos) {
    launchType = line.substr(first + 1);
    return;
  }
  launchType = line.substr(first + 1, second - first - 1);
  g_debug("LAUNCH_TYPE %s", launchType.c_str());
  instanceName = line.substr(second + 1);
  g_debug("INSTANCE_NAME %s", instanceName.c_str());
}

bool TobrelData::onMessage(const net::zolvek::nusk::message::NuskMsg& msg) {
  // The successor is taken before the call, so a listener that drops itself does not cut the
  // walk short; one appended during the walk is reached if the walk has not passed the end.
  for (GList* node = listeners; node != nullptr;) {
    GList* next = node->next;
    callListener(node, msg);
    node = next;
  }
  return true;
}

void TobrelData::callListener(GList* node, const net::zolvek::nusk::message::NuskMsg& msg) {
  auto* listener = static_cast<NuskMsgListener*>(node->data);
  char line[48];
  snprintf(line, sizeof line, "calling listener : [%p]", static_cast<void*>(listener));
  logText(G_LOG_LEVEL_DEBUG, line);
  if (!listener->onMessage(msg)) {
    listeners = g_list_delete_link(listeners, node);
    delete listener;
  }
}

void TobrelData::addListener(NuskMsgListener* listener) {
  g_debug("adding listener : [%p]", static_cast<void*>(listener));
  listeners = g_list_append(listeners, listener);
}

void TobrelData::deleteListeners() {
  for (GList* node = listeners; node != nullptr; node = node->next) delete static_cast<NuskMsgListener*>(node->data);
  g_list_free(listeners);
  listeners = nullptr;
}

std::string appFilePath(const TobrelData& app, const char* name, size_t bufferBytes) {
  std::vector<char> path(bufferBytes > 0 ? bufferBytes : 1);
  snprintf(path.data(), path.size(), "%s/%s/%s", app.options->appFolder, app.appName.c_str(), name);
  return path.data();
}

void endApp(TobrelData* app, int status) {
  if (!app->quitRequested) app->exitStatus = status;
  app->quitRequested = true;
  if (app->loop != nullptr) g_main_loop_quit(app->loop);
}
