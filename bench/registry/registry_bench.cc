// Correlation-registry benchmark: what one registration costs while 1,000, 10,000, 50,000 and
// 100,000 entries are live (none of them old enough to expire), as a long-running app that
// sends many commands with a function meets it. Each timed registration reads the registry's
// own monotonic clock and is unregistered right after, untimed, so the live count stays put.
//
//   registry_bench [ROUNDS]     (default 500 timed registrations at each size)
//
// Filling the registry up to each size is not timed; it runs on a clock of our own that
// costs nothing, so that it stays bearable even where each registration looks at every entry.
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>

#include "callback_registry.h"
#include "nusk-message.pb.h"

namespace {

bool keep(void*, const net::zolvek::nusk::message::NuskMsg&) { return true; }

// A 36-character key in the form of a request id, distinct for every `n`.
std::string keyOf(const char* kind, unsigned n) {
  char text[37];
  g_snprintf(text, sizeof text, "%08x-0000-4000-8000-%s%06x", n, kind, n & 0xffffffu);
  return text;
}

gint64 fillSecond = 0;
gint64 fillClock() { return fillSecond; }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? atoi(argv[1]) : 500;
  if (rounds <= 0) {
    fprintf(stderr, "usage: %s [ROUNDS]\n", argv[0]);
    return 2;
  }
  fillSecond = g_get_monotonic_time() / G_USEC_PER_SEC;
  printf("%12s %18s\n", "live entries", "ns / registration");
  unsigned filled = 0;
  for (unsigned size : {1000u, 10000u, 50000u, 100000u}) {
    setCallbackClock(fillClock);
    for (; filled < size; ++filled) registerCallback(keyOf("f0f0f0", filled), new CallbackHandler(keep, nullptr));
    setCallbackClock(nullptr);
    std::chrono::nanoseconds spent{0};
    for (int i = 0; i < rounds; ++i) {
      const std::string key = keyOf("a1a1a1", static_cast<unsigned>(i));
      CallbackHandler* handler = new CallbackHandler(keep, nullptr);
      const auto start = std::chrono::steady_clock::now();
      registerCallback(key, handler);
      spent += std::chrono::steady_clock::now() - start;
      unregisterCallback(key);
    }
    if (callbackCount() != size) {
      fprintf(stderr, "expected %u live entries, found %zu\n", size, callbackCount());
      return 1;
    }
    printf("%12u %18.0f\n", size, static_cast<double>(spent.count()) / rounds);
    fflush(stdout);
  }
  clearCallbacks();
  return 0;
}
