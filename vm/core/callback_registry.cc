// Correlation registry: request id -> CallbackHandler, purged of entries older than 10 hours at
// each registration, on a monotonic clock so that setting the device's clock loses nothing.
// The purge works from the oldest end of the registration order and reads the clock once.
#include "callback_registry.h"

#include <list>
#include <unordered_map>
#include <vector>

#include "nusk-message.pb.h"

using net::zolvek::nusk::message::NuskMsg;

namespace {

gint64 monotonicSeconds() { return g_get_monotonic_time() / G_USEC_PER_SEC; }

CallbackClock currentClock = monotonicSeconds;

// Keys of the live entries, oldest registration first. The clock only moves forward, so their
// stamps are in order too, and the purge stops at the first entry that is young enough: it
// costs the expired entries only, however many live ones there are.
using Order = std::list<const std::string*>;  // each points at its key in the table

struct Slot {
  CallbackHandler* handler;
  Order::iterator position;
};

// Created at the first registration and never destroyed: its records hold script handles that
// must not be released by static destructors after the engine has gone.
std::unordered_map<std::string, Slot>* table = nullptr;
Order* order = nullptr;

// The app has one thread, so this never contends; it keeps the table's invariants should that
// ever change. Handlers run and records are freed outside it.
GMutex tableLock;

bool expiredAt(gint64 now, const CallbackHandler& handler) { return now - handler.time > kCallbackLifetimeSeconds; }

// Takes the entry out of the table and the order; the caller owns its record from here.
CallbackHandler* take(std::unordered_map<std::string, Slot>::iterator it) {
  CallbackHandler* handler = it->second.handler;
  order->erase(it->second.position);
  table->erase(it);
  return handler;
}

}  // namespace

// Lets the registry's functions reach the in-use bookkeeping of a record.
class CallbackRegistryAccess {
 public:
  // Takes a record out of the table's ownership: freed now, or after its running call.
  static void drop(CallbackHandler* handler) {
    handler->unlinked_ = true;
    if (handler->running_ == 0) delete handler;
  }
  static void enter(CallbackHandler* handler) { ++handler->running_; }
  static bool leave(CallbackHandler* handler) {
    --handler->running_;
    return handler->unlinked_;
  }
};

CallbackHandler::CallbackHandler(CallbackFunction function, void* data, CallbackRelease release)
    : function(function), data(data), release(release) {}

CallbackHandler::~CallbackHandler() {
  if (release != nullptr) release(data);
}

bool CallbackHandler::call(const NuskMsg& msg) {
  g_debug("nuskmsg callback handler");
  g_debug("function pointer: %p", reinterpret_cast<void*>(function));
  g_debug("callback data: %p", data);
  g_debug("response: %p", static_cast<const void*>(&msg));
  return function(data, msg);
}

bool isCallbackExpired(const std::string& /*key*/, const CallbackHandler& handler) {
  return expiredAt(currentClock(), handler);
}

void registerCallback(const std::string& key, CallbackHandler* handler) {
  std::vector<CallbackHandler*> dropped;
  g_mutex_lock(&tableLock);
  if (table == nullptr) {
    table = new std::unordered_map<std::string, Slot>();
    order = new Order();
  }
  const gint64 now = currentClock();
  while (!order->empty()) {
    auto oldest = table->find(*order->front());
    if (!expiredAt(now, *oldest->second.handler)) break;
    dropped.push_back(take(oldest));
  }
  handler->time = now;
  auto found = table->find(key);
  // A key registered again moves to the young end with its new stamp.
  if (found != table->end()) {
    CallbackHandler* old = take(found);
    if (old != handler) dropped.push_back(old);
  }
  auto placed = table->emplace(key, Slot{handler, order->end()}).first;
  placed->second.position = order->insert(order->end(), &placed->first);
  g_mutex_unlock(&tableLock);
  for (CallbackHandler* old : dropped) CallbackRegistryAccess::drop(old);
}

CallbackHandler* findCallback(const NuskMsg& msg) {
  CallbackHandler* found = nullptr;
  g_mutex_lock(&tableLock);
  if (table != nullptr) {
    auto it = table->find(msg.correlationid());
    if (it != table->end()) found = it->second.handler;
  }
  g_mutex_unlock(&tableLock);
  return found;
}

namespace {

// Removes `key` from the table when it still maps to `expected` (any record when null).
CallbackHandler* unlink(const std::string& key, CallbackHandler* expected) {
  CallbackHandler* removed = nullptr;
  g_mutex_lock(&tableLock);
  if (table != nullptr) {
    auto it = table->find(key);
    if (it != table->end() && (expected == nullptr || it->second.handler == expected)) removed = take(it);
  }
  g_mutex_unlock(&tableLock);
  return removed;
}

}  // namespace

bool unregisterCallback(const std::string& key) {
  CallbackHandler* removed = unlink(key, nullptr);
  if (removed == nullptr) return false;
  CallbackRegistryAccess::drop(removed);
  return true;
}

bool dispatchCallback(const NuskMsg& msg) {
  CallbackHandler* handler = findCallback(msg);
  if (handler == nullptr) return false;
  CallbackRegistryAccess::enter(handler);
  const bool keep = handler->call(msg);
  const bool unlinked = CallbackRegistryAccess::leave(handler);
  if (unlinked) {
    // Dropped from the table during its own call; it was left for us to free.
    CallbackRegistryAccess::drop(handler);
  } else if (!keep && unlink(msg.correlationid(), handler) != nullptr) {
    CallbackRegistryAccess::drop(handler);
  }
  return true;
}

size_t callbackCount() {
  g_mutex_lock(&tableLock);
  const size_t count = table != nullptr ? table->size() : 0;
  g_mutex_unlock(&tableLock);
  return count;
}

void setCallbackClock(CallbackClock clock) { currentClock = clock != nullptr ? clock : monotonicSeconds; }

void clearCallbacks() {
  std::vector<CallbackHandler*> dropped;
  g_mutex_lock(&tableLock);
  if (table != nullptr) {
    for (auto& entry : *table) dropped.push_back(entry.second.handler);
    table->clear();
    order->clear();
  }
  g_mutex_unlock(&tableLock);
  for (CallbackHandler* old : dropped) CallbackRegistryAccess::drop(old);
}
