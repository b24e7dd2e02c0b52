// log, exit, setTimeout, include, timestamp and uuid: the natives behind every app's globals.
#include "globals.h"

#include <time.h>

#include <string>

#include "script.h"
#include "tobrel_data.h"
#include "utils.h"
#include "whole_file.h"

using v8::Context;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::Global;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::Script;
using v8::ScriptOrigin;
using v8::String;
using v8::Value;

namespace {

// A script timer: the GLib timeout's data while it repeats, deleted when it ends.
struct TimerRecord {
  Global<Function> fn;
};

}  // namespace

void LogFunction(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 1) return throwText(isolate, "Wrong arguments");
  std::string text;
  if (!asciiValue(isolate, args[0], &text)) return;
  g_message("JSLOG: %s", text.c_str());
}

void ExitFunction(const FunctionCallbackInfo<Value>& args) {
  g_debug("EXIT");
  if (args.Length() != 0) return throwText(args.GetIsolate(), "Wrong arguments");
  // Before the loop runs (main.js's top level) quitting it has no effect; runChild then skips
  // the loop instead.
  endApp(appData(args.GetIsolate()), 0);
}

void TimestampFunction(const FunctionCallbackInfo<Value>& args) {
  char text[32];
  // The texts are 32-bit second counts, as apps have always seen them.
  g_snprintf(text, sizeof text, "%d", static_cast<int>(time(nullptr)));
  args.GetReturnValue().Set(newString(args.GetIsolate(), text));
}

void UuidFunction(const FunctionCallbackInfo<Value>& args) {
  char uuid[37];
  generateUuid(uuid);
  args.GetReturnValue().Set(newString(args.GetIsolate(), uuid));
}

void SetTimeoutFunction(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 2 || !args[0]->IsNumber() || !args[1]->IsFunction()) {
    return throwText(isolate, "Must be setTimeout(int,function)");
  }
  auto* record = new TimerRecord{Global<Function>(isolate, args[1].As<Function>())};
  const int interval = args[0]->Int32Value(isolate->GetCurrentContext()).FromMaybe(0);
  g_debug("SetTimeout: %d", interval);
  // GLib reads the interval as unsigned: -1 is about 49.7 days.
  g_timeout_add(static_cast<guint>(interval), timeoutCallback, record);
}

gboolean timeoutCallback(gpointer data) {
  auto* record = static_cast<TimerRecord*>(data);
  Isolate* isolate = Isolate::GetCurrent();
  HandleScope scope(isolate);
  if (callScriptFunction(isolate, record->fn.Get(isolate))) return TRUE;
  record->fn.Reset();
  delete record;
  return FALSE;
}

void IncludeFunction(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  if (args.Length() != 1 || !args[0]->IsString()) return throwText(isolate, "Must contain only one file");
  std::string path;
  if (!checkAppPath(isolate, args[0], &path)) return;
  g_debug("Include: %s", path.c_str());
  TobrelData* data = appData(isolate);
  Local<Context> context = isolate->GetCurrentContext();
  Local<String> source;
  if (!loadSource(data, path.c_str()).ToLocal(&source)) return;
  ScriptOrigin origin(isolate, newString(isolate, path.c_str()));
  Local<Script> script;
  // A compile error stays pending and reaches the caller, like an exception of the run.
  if (!Script::Compile(context, source, &origin).ToLocal(&script)) return;
  script->Run(context).IsEmpty();
}
