// The app's pseudo-random numbers: the C library's generator, seeded by the second.
#include "random.h"

#include <glib.h>
#include <stdlib.h>
#include <time.h>

using v8::FunctionCallbackInfo;
using v8::Integer;
using v8::Value;

void RandomFunction(const FunctionCallbackInfo<Value>& args) {
  const int value = rand() % 10000000;
  g_debug("rand : %d", value);
  args.GetReturnValue().Set(Integer::New(args.GetIsolate(), value));
}

void seedRandom() { srand(static_cast<unsigned>(time(nullptr))); }
