// The app's pseudo-random numbers: the C library's rand sequence for the start second, drawn
// from a generator state of this module's own. libuuid reseeds the library's shared state at
// every UUID (each sent message makes one), so that state would not keep the sequence.
#include "random.h"

#include <glib.h>
#include <stdlib.h>
#include <time.h>

using v8::FunctionCallbackInfo;
using v8::Integer;
using v8::Value;

namespace {

// The size of the library's own default state: with it, random_r gives what rand gives after
// srand with the same seed. Words, since the generator reads it as such.
int32_t stateWords[32];
// initstate_r reads the previous state it is given, so this starts zeroed.
struct random_data state = {};
bool seeded = false;

void seed(unsigned value) {
  initstate_r(value, reinterpret_cast<char*>(stateWords), sizeof stateWords, &state);
  seeded = true;
}

}  // namespace

void RandomFunction(const FunctionCallbackInfo<Value>& args) {
  // Unseeded, rand draws as if seeded with 1.
  if (!seeded) seed(1);
  int32_t drawn = 0;
  random_r(&state, &drawn);
  const int value = drawn % 10000000;
  g_debug("rand : %d", value);
  args.GetReturnValue().Set(Integer::New(args.GetIsolate(), value));
}

void seedRandom() { seed(static_cast<unsigned>(time(nullptr))); }
