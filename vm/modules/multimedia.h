// The `multimedia` module object of `tobrel`: the device's media player and recorder through
// the message daemon (play, the player controls, record, the five list queries) and the
// player's events.
#ifndef TOBREL_VM_MODULES_MULTIMEDIA_H
#define TOBREL_VM_MODULES_MULTIMEDIA_H

#include <v8.h>

#include "listener.h"

// Characters `first` through `last` (both included, counted from 0) of `source`, as a new
// NUL-terminated text that the caller frees with free(). Null for a null source or when
// `first` is greater than `last`. When memory runs out it writes "Memoire insuffisante" on
// standard error and ends the process with status 1.
char* copySubstring(const char* source, int first, int last);

// play(x[, fn]), x a text or a file object; pause, resume, stop, next, previous and record,
// each ([fn]); artist, folder, genre, playlist and song, each (fn).
void MutimediaPlay(const v8::FunctionCallbackInfo<v8::Value>& args);
void MutimediaPause(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaResume(const v8::FunctionCallbackInfo<v8::Value>& args);
void MutimediaStop(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaNext(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaPrevious(const v8::FunctionCallbackInfo<v8::Value>& args);
void MutimediaRecord(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaFunctionArtist(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaFunctionFolder(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaFunctionGenre(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaFunctionPlaylist(const v8::FunctionCallbackInfo<v8::Value>& args);
void MultimediaFunctionSong(const v8::FunctionCallbackInfo<v8::Value>& args);

// The one-shot reply handler of the list queries, over an EventCallbackData: calls the
// function with the first entry of the first non-empty list, or with nothing at all, and is
// done either way.
bool MultimedialistCallback(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

// Calls its function with the name of the player event's action.
class MultimediaMsgCallback : public ScriptListener {
 public:
  using ScriptListener::ScriptListener;
  bool onMessage(const net::zolvek::nusk::message::NuskMsg& msg) override;
};

// multimedia.addListener(fn)
void MultimediaFunctionAddListener(const v8::FunctionCallbackInfo<v8::Value>& args);

#endif
