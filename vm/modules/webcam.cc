// The photo native on the command pattern (command.h), bound to the photo reply handler.
#include "webcam.h"

#include <glib.h>

#include <string>

#include "command.h"
#include "event_callback.h"
#include "nusk-message.pb.h"

using v8::FunctionCallbackInfo;
using v8::Value;

void WebcamFunctionPhoto(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 1);
  std::string url;
  if (!call.ok() || !call.ascii(0, &url)) return;
  g_message("WEBCAM: photo url[%s]", url.c_str());
  call.message().mutable_webcam()->set_photo(url);
  call.send("WEBCAM", EventCallbackWebcam);
}
