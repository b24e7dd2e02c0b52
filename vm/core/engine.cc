// V8 set-up shared by the launcher (before fork) and every app child.
#include "engine.h"

#include <libplatform/libplatform.h>
#include <v8.h>

#include <memory>

namespace {
// Kept for the life of the process and never destroyed: an exit handler must not tear the
// platform down under an isolate that is still alive.
v8::Platform* g_platform = nullptr;
v8::ArrayBuffer::Allocator* g_allocator = nullptr;
}  // namespace

void initEngine() {
  if (g_platform) return;
  // The default platform starts worker threads, which would not survive fork().
  g_platform = v8::platform::NewSingleThreadedDefaultPlatform().release();
  v8::V8::InitializePlatform(g_platform);
  v8::V8::SetFlagsFromString("--single-threaded");
  v8::V8::Initialize();
  g_allocator = v8::ArrayBuffer::Allocator::NewDefaultAllocator();
}

v8::Isolate* newAppIsolate() {
  initEngine();
  v8::Isolate::CreateParams params;
  params.array_buffer_allocator = g_allocator;
  params.constraints.set_max_young_generation_size_in_bytes(kMaxYoungGenerationBytes);
  params.constraints.set_max_old_generation_size_in_bytes(kMaxOldGenerationBytes);
  return v8::Isolate::New(params);
}

void disposeAppIsolate(v8::Isolate* isolate) { isolate->Dispose(); }
