// Named reply callbacks: the script function that a command native binds to its request, and
// the three reply handlers that pass it result-code names (EventCallback) or photo and
// recording objects (EventCallbackWebcam, EventCallbackRecord).
#ifndef TOBREL_VM_CORE_EVENT_CALLBACK_H
#define TOBREL_VM_CORE_EVENT_CALLBACK_H

#include <v8.h>

#include <string>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

class CallbackHandler;

// Files written outside the system for a photo and a recording.
extern const char* const kPicturePath;  // "/tmp/picture.jpg"
extern const char* const kRecordPath;   // "/tmp/record.flac"

// A script function kept with the command's name (used only in debug logs). It lives as long
// as its request's registry entry, which releases it through releaseEventCallbackData.
struct EventCallbackData {
  EventCallbackData(const char* name, v8::Local<v8::Function> function);
  v8::Global<v8::Function> function;
  std::string name;
  // Kept by a handler that calls back inside the caller's own context with the caller's
  // argument (social set-up); empty for the others.
  v8::Global<v8::Value> argument;
  v8::Global<v8::Context> context;
};

// The registry's release hook for an EventCallbackData.
void releaseEventCallbackData(void* record);

// The result code's name ("OK", "ERROR", ...).
std::string codeName(int code);

// Calls the record's function with the name of the result code ("OK", "ERROR", ...).
void callEventFunction(EventCallbackData* record, int code);

// Reply handlers for an EventCallbackData; all stay registered for every later message.
bool EventCallback(void* record, const net::zolvek::nusk::message::NuskMsg& msg);
bool EventCallbackWebcam(void* record, const net::zolvek::nusk::message::NuskMsg& msg);
bool EventCallbackRecord(void* record, const net::zolvek::nusk::message::NuskMsg& msg);

// A CallbackHandler that runs `handler` on a new EventCallbackData holding `function` under
// `name`, and releases the record with its entry. The three handlers above stay registered;
// the one-shot handlers (lists, contacts, device information, recognition) use the same record
// and return false once they have acted, so the registry drops the entry and frees the record.
// `argument` and `context`, when given, are kept in the record too.
CallbackHandler* newEventCallbackHandler(bool (*handler)(void*, const net::zolvek::nusk::message::NuskMsg&),
                                         const char* name, v8::Local<v8::Function> function,
                                         v8::Local<v8::Value> argument = v8::Local<v8::Value>(),
                                         v8::Local<v8::Context> context = v8::Local<v8::Context>());

#endif
