// The script engine of TobrelVM: initialised once in the launcher, before the first fork, with
// the single-threaded platform (no thread exists to be lost at fork, and the children share the
// engine's pages); each app child then makes its own isolate under the heap limits.
#ifndef TOBREL_VM_CORE_ENGINE_H
#define TOBREL_VM_CORE_ENGINE_H

#include <stddef.h>

namespace v8 {
class Isolate;
}

constexpr size_t kMaxYoungGenerationBytes = 2097152;
constexpr size_t kMaxOldGenerationBytes = 10485760;

// Platform, "--single-threaded" and V8 initialisation; later calls do nothing.
void initEngine();

// A new isolate with the heap limits above; dispose of it with disposeAppIsolate.
v8::Isolate* newAppIsolate();
void disposeAppIsolate(v8::Isolate* isolate);

#endif
