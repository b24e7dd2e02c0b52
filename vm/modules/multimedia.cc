// The multimedia natives: the player controls and record on the command pattern (command.h),
// play with its path rule, the list queries with their one-shot handler, and the listener of
// player events (listener.h). The method and callback names keep their historical spellings:
// they stand in the daemon's and the apps' logs.
#include "multimedia.h"

#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "command.h"
#include "data_resource.h"
#include "enum_name.h"
#include "event_callback.h"
#include "nusk-message.pb.h"
#include "script.h"
#include "tobrel_data.h"

using net::zolvek::nusk::message::Multimedia;
using net::zolvek::nusk::message::MultimediaCallback;
using net::zolvek::nusk::message::NuskMsg;
using v8::Function;
using v8::FunctionCallbackInfo;
using v8::HandleScope;
using v8::Isolate;
using v8::Local;
using v8::Object;
using v8::Value;

namespace {

// Media installed with an app live under this root on the device, whatever folder the
// launcher reads the apps from.
const char* const kAppRootFormat = "/usr/tobrel/apps/%s/%s";
constexpr size_t kPlayPathBytes = 255;  // a longer path is cut to 254 characters

// The text of play's first argument: a string, or the path of a file object. False after
// "Wrong arguments" for anything else.
bool playText(CommandCall& call, const FunctionCallbackInfo<Value>& args, std::string* text) {
  Isolate* isolate = args.GetIsolate();
  if (args[0]->IsString()) return asciiValue(isolate, args[0], text);
  if (isFileObject(args[0])) return fileObjectPath(isolate, args[0].As<Object>(), text);
  return call.require(false, "Wrong arguments");
}

std::string playUrl(const std::string& appName, const std::string& text) {
  if (text.size() < 3 || text.compare(0, 2, "./") != 0) {
    g_message("MULTIMEDIA: *ascii play[%s]", text.c_str());
    return text;
  }
  char* rest = copySubstring(text.c_str(), 2, static_cast<int>(text.size()) - 1);
  g_message("MULTIMEDIA: tmpStr[%s]", rest);
  char buffer[kPlayPathBytes];
  snprintf(buffer, sizeof buffer, kAppRootFormat, appName.c_str(), rest);
  free(rest);
  g_message("MULTIMEDIA: buffer play[%s]", buffer);
  return buffer;
}

using FillRequest = void (*)(Multimedia* request);

// pause, resume, stop, next, previous and record: () or (fn), then interactive mode. `line`
// is the MESSAGE logged before the send (none for record).
void control(const FunctionCallbackInfo<Value>& args, const char* line, const char* name, FillRequest fill,
             CallbackFunction handler = nullptr) {
  CommandCall call(args, 0);
  if (!call.ok()) return;
  if (line != nullptr) g_message("%s", line);
  fill(call.message().mutable_multimedia());
  call.send(name, handler);
}

// artist, folder, genre, playlist and song: exactly one function, then interactive mode; the
// function hears one reply through MultimedialistCallback.
void listQuery(const FunctionCallbackInfo<Value>& args, const char* line, const char* name, FillRequest fill) {
  CommandCall call(args);
  if (!call.exactly(1, lastArgumentIsFunction) || !call.interactive()) return;
  g_message("%s", line);
  fill(call.message().mutable_multimedia());
  call.sendToLastFunction(name, MultimedialistCallback);
}

}  // namespace

char* copySubstring(const char* source, int first, int last) {
  if (source == nullptr || first > last) return nullptr;
  const size_t length = static_cast<size_t>(last - first) + 1;
  char* copy = static_cast<char*>(malloc(length + 1));
  if (copy == nullptr) {
    static const char kMessage[] = "Memoire insuffisante\n";
    if (write(STDERR_FILENO, kMessage, sizeof kMessage - 1) < 0) {
      // Nothing more can be said about it: the process ends either way.
    }
    fflush(nullptr);
    _exit(1);
  }
  memcpy(copy, source + first, length);
  copy[length] = '\0';
  return copy;
}

void MutimediaPlay(const FunctionCallbackInfo<Value>& args) {
  CommandCall call(args);
  std::string text;
  // The text is taken before the interactive test: a file object's path is read even then.
  if (!call.shape(1) || !playText(call, args, &text) || !call.interactive()) return;
  g_message("MULTIMEDIA: play[%s]", text.c_str());
  call.message().mutable_multimedia()->mutable_play()->set_url(playUrl(call.app()->appName, text));
  call.send("MutimediaPlay");
}

void MutimediaPause(const FunctionCallbackInfo<Value>& args) {
  control(args, "MULTIMEDIA: pause", "MutimediaPause", [](Multimedia* m) { m->mutable_pause(); });
}

void MultimediaResume(const FunctionCallbackInfo<Value>& args) {
  control(args, "MULTIMEDIA: resume", "MultimediaResume", [](Multimedia* m) { m->mutable_resume(); });
}

void MutimediaStop(const FunctionCallbackInfo<Value>& args) {
  control(args, "MULTIMEDIA: stop", "MutimediaStop", [](Multimedia* m) { m->mutable_stop(); });
}

void MultimediaNext(const FunctionCallbackInfo<Value>& args) {
  control(args, "MULTIMEDIA: next", "MultimediaNext", [](Multimedia* m) { m->mutable_next(); });
}

void MultimediaPrevious(const FunctionCallbackInfo<Value>& args) {
  control(args, "MULTIMEDIA: previous", "MultimediaPrevious", [](Multimedia* m) { m->mutable_previous(); });
}

void MutimediaRecord(const FunctionCallbackInfo<Value>& args) {
  // The daemon chooses where the recording goes; the reply's event names the file.
  control(args, nullptr, "MutimediaRecord", [](Multimedia* m) { m->mutable_record()->set_url(""); },
          EventCallbackRecord);
}

void MultimediaFunctionArtist(const FunctionCallbackInfo<Value>& args) {
  listQuery(args, "MULTIMEDIA: GetArtist", "MultimediaFunctionArtist", [](Multimedia* m) { m->mutable_getartist(); });
}

void MultimediaFunctionFolder(const FunctionCallbackInfo<Value>& args) {
  listQuery(args, "MULTIMEDIA: GetFolder", "MultimediaFunctionFolder", [](Multimedia* m) { m->mutable_getfolder(); });
}

void MultimediaFunctionGenre(const FunctionCallbackInfo<Value>& args) {
  listQuery(args, "MULTIMEDIA: GetGenre", "MultimediaFunctionGenre", [](Multimedia* m) { m->mutable_getgenre(); });
}

void MultimediaFunctionPlaylist(const FunctionCallbackInfo<Value>& args) {
  listQuery(args, "MULTIMEDIA: GetPlaylist", "MultimediaFunctionPlaylist",
            [](Multimedia* m) { m->mutable_getplaylist(); });
}

void MultimediaFunctionSong(const FunctionCallbackInfo<Value>& args) {
  listQuery(args, "MULTIMEDIA: GetSong", "MultimediaFunctionSong", [](Multimedia* m) { m->mutable_getsong(); });
}

bool MultimedialistCallback(void* raw, const NuskMsg& msg) {
  auto* record = static_cast<EventCallbackData*>(raw);
  g_message("MULTIMEDIA: MultimedialistCallback");
  // The daemon answers every query in one of these lists; the order is fixed whatever was
  // asked. A message without `multimedia` reads as five empty lists.
  const Multimedia& reply = msg.multimedia();
  for (const auto* list : {&reply.artistlist(), &reply.folderlist(), &reply.playlistlist(), &reply.genrelist(),
                           &reply.songlist()}) {
    if (list->empty()) continue;
    Isolate* isolate = Isolate::GetCurrent();
    HandleScope scope(isolate);
    Local<Value> argv[] = {newString(isolate, list->Get(0).c_str())};
    callScriptFunction(isolate, record->function.Get(isolate), 1, argv);
    return false;
  }
  g_message("MULTIMEDIA: MultimedialistCallback : no list");
  return false;  // done either way: the registry drops the entry and frees the record
}

bool MultimediaMsgCallback::onMessage(const NuskMsg& msg) {
  if (!msg.has_multimediacallback()) return true;
  HandleScope scope(isolate());
  Local<Value> argv[] = {
      newString(isolate(), enumName(msg.multimediacallback(), MultimediaCallback::kActionFieldNumber).c_str())};
  return call(1, argv);
}

void MultimediaFunctionAddListener(const FunctionCallbackInfo<Value>& args) {
  addScriptListener(args, [](Local<Function> fn) -> NuskMsgListener* { return new MultimediaMsgCallback(fn); });
}
