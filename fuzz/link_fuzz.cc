// The device link from the app's side: any bytes as what the message daemon writes on the
// socket. Each whole frame is read by the link's own poller (length read, payload read,
// decode) and dispatched as in an app: to the reply handler registered under its
// correlationId, then to the app's listeners. Every input starts from the same app: five
// button and RFID listeners added by script (staying, dropping themselves, throwing, adding
// another during the walk, sending a command) and handlers under fixed ids ("start-1" for
// interactive mode, "led-1", "photo-1", "record-1", and the one-shot "once-1").
//
// The link ends the app on purpose when a frame announces more than 16 MiB or the stream
// stops inside a frame; the target stops reading before such a frame.
#include <glib.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include "callback_registry.h"
#include "event_callback.h"
#include "frame_codec.h"
#include "fuzz_support.h"
#include "interactive.h"
#include "link.h"
#include "nusk-message.pb.h"

namespace {

const char kSetUp[] = R"JS(
var fuzzSent = 0;
// Commands go to the daemon's side of the socket, which nobody reads during one input.
function fuzzSend(send) { if (fuzzSent++ < 20) { try { send(); } catch (e) {} } }
tobrel.button.addListener(function (type) { return true; });
tobrel.button.addListener(function (type) { return type !== 'DOUBLE'; });
tobrel.button.addListener(function (type) {
  if (type === 'LONG_START') throw 'listener failed';
  tobrel.button.addListener(function () { return false; });
  return true;
});
tobrel.rfid.addListener(function (tag) { return JSON.stringify(tag) !== ''; });
tobrel.rfid.addListener(function (tag) {
  if (tag.content) fuzzSend(function () { tobrel.led.light(tag.content); });
  return tag.direction !== 'OUT';
});
var fuzzHandlers = {
  start: function (options) { log('granted ' + JSON.stringify(options)); },
  led: function (code) { if (code === 'OK') fuzzSend(function () { tobrel.led.light('red', fuzzHandlers.led); }); },
  photo: function (result) { log(JSON.stringify(result)); },
  record: function (result) { if (result.data) log(typeof result.data); },
  once: function (code) { if (code === 'ERROR') fuzzSend(function () { tobrel.stop(); }); }
};
fuzzHandlers;
)JS";

// A one-shot reply handler: reports the code like the generic one, then is done.
bool oneShot(void* record, const net::zolvek::nusk::message::NuskMsg& msg) {
  EventCallback(record, msg);
  return false;
}

v8::Local<v8::Function> handler(v8::Local<v8::Object> handlers, const char* name) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  v8::Local<v8::Value> value =
      handlers->Get(isolate->GetCurrentContext(), v8::String::NewFromUtf8(isolate, name).ToLocalChecked())
          .ToLocalChecked();
  return value.As<v8::Function>();
}

void resetApp(TobrelData& app) {
  app.deleteListeners();
  clearCallbacks();
  g_free(app.interactiveId);
  app.interactiveId = nullptr;
  app.quitRequested = false;
  app.exitStatus = 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::ScriptHost::initTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int pair[2];
  if (!tobrel_fuzz::socketWithInput(data, size, pair)) return 0;
  tobrel_fuzz::ScriptHost& host = tobrel_fuzz::ScriptHost::get();
  v8::Isolate* isolate = host.isolate();
  v8::HandleScope scope(isolate);
  TobrelData& app = host.app();
  resetApp(app);

  v8::Local<v8::Object> handlers = host.run(kSetUp).As<v8::Object>();
  registerCallback("start-1", new CallbackHandler(InteractiveCallback,
                                                  new InteractiveData("fuzz-interactive", &app,
                                                                      handler(handlers, "start"),
                                                                      v8::Object::New(isolate)),
                                                  releaseInteractiveData));
  registerCallback("led-1", newEventCallbackHandler(EventCallback, "led.light", handler(handlers, "led")));
  registerCallback("photo-1", newEventCallbackHandler(EventCallbackWebcam, "webcam.photo", handler(handlers, "photo")));
  registerCallback("record-1",
                   newEventCallbackHandler(EventCallbackRecord, "multimedia.record", handler(handlers, "record")));
  registerCallback("once-1", newEventCallbackHandler(oneShot, "once", handler(handlers, "once")));

  app.sock = pair[0];
  // One pass for each frame the link reads whole; it stops where the link would fail.
  tobrel::frame::Reader frames;
  frames.feed(data, size);
  for (std::string payload; frames.next(&payload) == tobrel::frame::Reader::Result::kFrame;) pollServer(&app);

  resetApp(app);
  close(pair[0]);
  close(pair[1]);
  app.sock = -1;
  // A STOP arms the app's end on the main loop, which never runs here.
  while (g_source_remove_by_user_data(&app)) {
  }
  return 0;
}
