// tobrel.start / tobrel.stop and the one-shot handler that acts on the answer to a START.
#include "interactive.h"

#include <glib.h>

#include <memory>

#include "callback_registry.h"
#include "link.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "tobrel_data.h"
#include "utils.h"

using net::zolvek::nusk::message::InteractiveMode;
using net::zolvek::nusk::message::NuskMsg;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

InteractiveData::InteractiveData(const char* id, TobrelData* app, Local<Function> function, Local<Object> options)
    : function(Isolate::GetCurrent(), function), app(app), interactiveId(id) {
  if (!options.IsEmpty()) this->options.Reset(Isolate::GetCurrent(), options);
}

InteractiveData::~InteractiveData() { g_debug("clean InteractiveData"); }

void InteractiveData::callFunction() {
  Isolate* isolate = Isolate::GetCurrent();
  HandleScope scope(isolate);
  Local<Value> argv[1];
  int argc = 0;
  if (!options.IsEmpty()) argv[argc++] = options.Get(isolate);
  callScriptFunction(isolate, function.Get(isolate), argc, argv);
}

void releaseInteractiveData(void* data) { delete static_cast<InteractiveData*>(data); }

bool InteractiveCallback(void* raw, const NuskMsg& msg) {
  auto* data = static_cast<InteractiveData*>(raw);
  g_debug("InteractiveCallback...");
  if (msg.has_response()) {
    g_debug("Response...");
    if (msg.response().has_code()) {
      if (msg.response().code() == net::zolvek::nusk::message::OK) {
        TobrelData* app = data->app;
        g_debug("TobrelData: %p", static_cast<void*>(app));
        // Natives copy the id into each message, so nothing still points at the old copy.
        g_free(app->interactiveId);
        app->interactiveId = g_strdup(data->interactiveId.c_str());
        g_debug("calling interactiveMode function");
        data->callFunction();
      } else {
        g_debug("Interactive mode is not valid: EXIT !");
        endApp(data->app, 1);
      }
    }
  }
  // The START is answered, whatever the answer held: later messages naming it find nothing.
  return false;
}

void InteractiveFunctionStart(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  g_debug("starting interactiveMode");
  g_debug("check arguments");
  const int argc = args.Length();
  if (argc < 1 || argc > 3 || !args[0]->IsFunction() || (argc > 1 && !args[1]->IsObject())) {
    return throwText(isolate, "Wrong arguments");
  }
  Local<Object> options;
  if (argc > 1) options = args[1].As<Object>();
  std::string id;
  if (argc == 3) {
    g_warning("DEPRECATED Use SetInteractive");
    if (!asciiValue(isolate, args[2], &id)) return;
  } else {
    char uuid[37];
    generateUuid(uuid);
    id = uuid;
  }
  TobrelData* app = appData(isolate);
  g_debug("TobrelData: %p", static_cast<void*>(app));
  if (!app->isConnected()) return throwText(isolate, "Connect first");
  g_debug("starting interactiveMode: %s", id.c_str());
  auto* data = new InteractiveData(id.c_str(), app, args[0].As<Function>(), options);
  std::unique_ptr<NuskMsg> msg(newMessage(nullptr));
  InteractiveMode* mode = msg->mutable_interactivemode();
  mode->set_interactiveid(id);
  mode->set_action(InteractiveMode::START);
  auto* handler = new CallbackHandler(InteractiveCallback, data, releaseInteractiveData);
  g_debug("function pointer: %p", reinterpret_cast<void*>(handler->function));
  sendMessageWithCallback(app->sock, *msg, handler);
}

void InteractiveFunctionStop(const FunctionCallbackInfo<Value>& args) {
  Isolate* isolate = args.GetIsolate();
  g_debug("stop interactiveMode");
  if (args.Length() != 0) return throwText(isolate, "Wrong arguments");
  TobrelData* app = appData(isolate);
  if (app->interactiveId == nullptr) return throwText(isolate, "Must be in interactive mode");
  g_debug("stop interactiveMode: %s", app->interactiveId);
  std::unique_ptr<NuskMsg> msg(newMessage(nullptr));
  msg->set_interactiveid(app->interactiveId);
  msg->mutable_interactivemode()->set_action(InteractiveMode::STOP);
  sendMessage(app->sock, *msg);
}
