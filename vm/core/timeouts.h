// The fixed time limits of an app child, and the one seam through which tests shorten them.
// Every limit is written here at its real value; scaledTimeoutMs() gives the interval to arm.
// Tests set TOBRELVM_TIME_DIVISOR=N (a positive integer) in the child's environment: every
// armed limit is then divided by N (at least 1 ms). Log lines keep printing the real values.
#ifndef TOBREL_VM_CORE_TIMEOUTS_H
#define TOBREL_VM_CORE_TIMEOUTS_H

#include <stdlib.h>

// An app that has no interactive id this long after main.js has run ends with status 255.
constexpr unsigned kNotInteractiveTimeoutMs = 10000;
// After the daemon stops interactive mode the app ends with status 0 this much later.
constexpr unsigned kInteractiveStoppedTimeoutMs = 300000;

inline unsigned scaledTimeoutMs(unsigned specifiedMs) {
  const char* divisor = getenv("TOBRELVM_TIME_DIVISOR");
  const long n = divisor != nullptr ? strtol(divisor, nullptr, 10) : 0;
  if (n <= 1) return specifiedMs;
  const unsigned scaled = static_cast<unsigned>(specifiedMs / static_cast<unsigned long>(n));
  return scaled > 0 ? scaled : 1;
}

#endif
