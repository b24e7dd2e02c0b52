// ping on the command pattern (command.h): the request carries the empty `ping` sub-message.
#include "ping.h"

#include <glib.h>

#include "command.h"
#include "nusk-message.pb.h"

using v8::FunctionCallbackInfo;
using v8::Value;

void PingFunction(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args, 0);
  if (!call.ok()) return;
  g_message("PingFunction");
  call.message().mutable_ping();
  call.send("PingFunction");
}
