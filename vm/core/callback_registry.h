// The process-wide registry that ties replies to their requests: a request that expects
// replies registers a CallbackHandler under its message id before its frame is written, and
// the link's poller hands every message naming that id to the handler.
#ifndef TOBREL_VM_CORE_CALLBACK_REGISTRY_H
#define TOBREL_VM_CORE_CALLBACK_REGISTRY_H

#include <glib.h>

#include <string>

namespace net::zolvek::nusk::message {
class NuskMsg;
}

// A reply handler. `msg` belongs to the poller and lives only for the call. Returns true to
// stay registered for later messages about the same request, false when it is done: the
// registry then drops the entry and releases the handler's data. A handler never frees its
// data itself, so it needs to know nothing of how long its entry lives.
typedef bool (*CallbackFunction)(void* data, const net::zolvek::nusk::message::NuskMsg& msg);

// Releases a handler's data when its entry is dropped (done, expired or replaced).
typedef void (*CallbackRelease)(void* data);

// Seconds on a clock that only moves forward; tests install their own through setCallbackClock.
typedef gint64 (*CallbackClock)();

// Entries expire this many seconds after their registration.
constexpr gint64 kCallbackLifetimeSeconds = 36000;

class CallbackHandler {
 public:
  // `release`, when given, is called with `data` once the entry is dropped.
  CallbackHandler(CallbackFunction function, void* data, CallbackRelease release = nullptr);
  CallbackHandler(const CallbackHandler&) = delete;
  CallbackHandler& operator=(const CallbackHandler&) = delete;
  ~CallbackHandler();

  // Logs the handler's pointers and calls `function` with (data, msg); returns its verdict.
  bool call(const net::zolvek::nusk::message::NuskMsg& msg);

  CallbackFunction function;
  void* data;
  gint64 time = 0;  // registration time, in seconds of the registry's clock
  CallbackRelease release;

 private:
  friend class CallbackRegistryAccess;
  int running_ = 0;         // calls in progress: the record must outlive them
  bool unlinked_ = false;   // no longer in the table; freed once no call is running
};

// Adds `handler` under `key`, first dropping every entry older than the lifetime. The registry
// owns the handler from here. A key that is already registered has its old entry replaced.
void registerCallback(const std::string& key, CallbackHandler* handler);

// The handler registered under msg's correlationId, or null. The entry stays registered.
CallbackHandler* findCallback(const net::zolvek::nusk::message::NuskMsg& msg);

// Drops the entry under `key`, if any, releasing its data. False when there was none.
bool unregisterCallback(const std::string& key);

// The purge's test: the handler was registered more than the lifetime ago.
bool isCallbackExpired(const std::string& key, const CallbackHandler& handler);

// The poller's step for a message with a correlationId: calls its handler and drops the entry
// when the handler is done. An entry dropped while its own handler runs (a script function
// sent a command that purged it) is freed only after that call returns. False when no handler
// is registered under the id.
bool dispatchCallback(const net::zolvek::nusk::message::NuskMsg& msg);

// Number of live entries.
size_t callbackCount();

// Replaces the registry's clock (null restores the monotonic default). For tests.
void setCallbackClock(CallbackClock clock);

// Drops every entry, releasing the data of each. For the end of the app and for tests.
void clearCallbacks();

#endif
