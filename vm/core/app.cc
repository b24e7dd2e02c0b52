// The app child: main loop, script context in its fixed order, main.js, the not-interactive
// end and the heap-limit end. Later features add their own one-line steps to startApp.
#include "app.h"

#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>

#include "descriptor.h"
#include "engine.h"
#include "globals.h"
#include "hmac_sha1.h"
#include "info.h"
#include "interactive.h"
#include "launch_type.h"
#include "link.h"
#include "modules.h"
#include "params.h"
#include "ping.h"
#include "random.h"
#include "script.h"
#include "timeouts.h"
#include "tobrel_data.h"
#include "whole_file.h"

using v8::Context;
using v8::FunctionTemplate;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::MaybeLocal;
using v8::ObjectTemplate;
using v8::Script;
using v8::ScriptOrigin;
using v8::String;
using v8::TryCatch;

namespace {

void setFunction(Isolate* isolate, Local<ObjectTemplate> target, const char* name, v8::FunctionCallback native) {
  target->Set(isolate, name, FunctionTemplate::New(isolate, native));
}

// The running app, for the engine's out-of-memory handler, which gets no data of its own.
TobrelData* g_runningApp = nullptr;
bool g_heapWarned = false;

void warnHeapExhausted(const TobrelData& data) {
  if (g_heapWarned) return;
  g_heapWarned = true;
  g_warning("script heap limit of %zu bytes reached: ending %s", kMaxOldGenerationBytes, data.appName.c_str());
}

// Reached when the app's script heap is nearly full. The script is terminated and the app ends
// with status 1; the extra room lets the engine finish the allocation in progress instead of
// dying of its own out-of-memory trap. The room is given once: every later call terminates
// again and the limit stays where it is, so an app never grows past one and a half budgets.
size_t onNearHeapLimit(void* raw, size_t currentLimit, size_t initialLimit) {
  auto* data = static_cast<TobrelData*>(raw);
  warnHeapExhausted(*data);
  endApp(data, 1);
  Isolate::GetCurrent()->TerminateExecution();
  return std::max(currentLimit, initialLimit + initialLimit / 2);
}

// One allocation larger than any extra room (a huge array, say): the engine cannot go on, and
// would otherwise end the process with a trap. Ends the app as above, at once.
void onOutOfMemory(const char* /*location*/, bool /*isHeap*/) {
  if (g_runningApp != nullptr) warnHeapExhausted(*g_runningApp);
  fflush(nullptr);
  _exit(1);
}

}  // namespace

Local<ObjectTemplate> createGlobalTemplate(Isolate* isolate) {
  Local<ObjectTemplate> global = ObjectTemplate::New(isolate);
  setFunction(isolate, global, "log", LogFunction);
  setFunction(isolate, global, "exit", ExitFunction);
  setFunction(isolate, global, "setTimeout", SetTimeoutFunction);
  setFunction(isolate, global, "ping", PingFunction);
  global->SetInternalFieldCount(1);
  return global;
}

void setLinkFunctions(Isolate* isolate, Local<ObjectTemplate> tobrel) {
  setFunction(isolate, tobrel, "connect", ConnectFunction);
  setFunction(isolate, tobrel, "start", InteractiveFunctionStart);
  setFunction(isolate, tobrel, "stop", InteractiveFunctionStop);
}

void startApp(TobrelData* data) {
  Isolate* isolate = Isolate::GetCurrent();
  HandleScope scope(isolate);
  Local<ObjectTemplate> global = createGlobalTemplate(isolate);
  Local<ObjectTemplate> tobrel = ObjectTemplate::New(isolate);
  // Installation points, in their fixed order; each feature adds its own line here:
  Descriptor* descriptor = loadDescriptor(data);  // an unreadable one has ended the app here
  g_message("decriptor loaded");
  installModules(isolate, global, tobrel, *descriptor);
  data->descriptor.reset(descriptor);
  setFunction(isolate, tobrel, "ping", PingFunction);
  setLinkFunctions(isolate, tobrel);
  setFunction(isolate, tobrel, "info", ConfigTobrelGet);
  seedRandom();
  setFunction(isolate, tobrel, "random", RandomFunction);
  setFunction(isolate, global, "include", IncludeFunction);
  setFunction(isolate, global, "signHMACSHA1", SignHMACSHA1);
  setFunction(isolate, global, "uuid", UuidFunction);
  setFunction(isolate, global, "timestamp", TimestampFunction);
  global->Set(isolate, "tobrel", tobrel);
  global->Set(isolate, "file", createFileTemplate(isolate));
  global->Set(isolate, "cmdline", newString(isolate, data->cmdLine.c_str()));
  global->Set(isolate, "instanceName", newString(isolate, data->instanceName.c_str()));
  global->Set(isolate, "appName", newString(isolate, data->appName.c_str()));
  Local<ObjectTemplate> launchType = ObjectTemplate::New(isolate);
  createLaunchTypeTemplate(isolate, launchType, data->launchType);
  global->Set(isolate, "launchType", launchType);

  Local<Context> context = Context::New(isolate, nullptr, global);
  Context::Scope contextScope(context);
  context->Global()->SetAlignedPointerInInternalField(0, data);
  const std::string paramsPath = appFilePath(*data, "config.bin");
  setProperty(isolate, context->Global(), "params", loadParams(isolate, paramsPath.c_str()));

  Local<String> source;
  if (!loadSource(data, "main.js").ToLocal(&source)) {
    g_warning("main.js is too long for a script string");
    return;
  }
  TryCatch tryCatch(isolate);
  ScriptOrigin origin(isolate, newString(isolate, "main.js"));
  Local<Script> script;
  if (!Script::Compile(context, source, &origin).ToLocal(&script)) {
    reportException(isolate, &tryCatch);
    return;
  }
  g_message("running app: %s", data->appName.c_str());
  if (script->Run(context).IsEmpty()) reportException(isolate, &tryCatch);
}

gboolean autokillNotInteractive(gpointer raw) {
  auto* data = static_cast<TobrelData*>(raw);
  if (data->interactiveId != nullptr) return FALSE;
  g_warning("/!\\ AUTOKILL, application still not interactive after %dms", kNotInteractiveTimeoutMs);
  // Ends through the loop, so the engine is torn down as after exit(); the status is the same.
  endApp(data, 255);
  return FALSE;
}

int runChild(void* /*unused*/, TobrelData* data) {
  // Standard output is the launcher's, and its reader may have gone: a trace written there is
  // then lost, not the app. The child starts no program, so nothing inherits this; the link's
  // sends report a reset peer themselves.
  signal(SIGPIPE, SIG_IGN);
  data->loop = g_main_loop_new(nullptr, FALSE);
  g_debug("running app: %s/%s", data->options->appFolder, data->appName.c_str());
  Isolate* isolate = newAppIsolate();
  {
    Isolate::Scope isolateScope(isolate);
    HandleScope scope(isolate);
    isolate->SetCaptureStackTraceForUncaughtExceptions(true, 10, v8::StackTrace::kOverview);
    g_runningApp = data;
    isolate->AddNearHeapLimitCallback(onNearHeapLimit, data);
    isolate->SetOOMErrorHandler(onOutOfMemory);
    startApp(data);
    g_timeout_add(scaledTimeoutMs(kNotInteractiveTimeoutMs), autokillNotInteractive, data);
    if (!data->quitRequested) g_main_loop_run(data->loop);
    data->deleteListeners();
  }
  disposeAppIsolate(isolate);
  g_runningApp = nullptr;
  g_main_loop_unref(data->loop);
  data->loop = nullptr;
  return data->exitStatus;
}
