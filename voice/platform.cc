// Defaults of the daemon's platform seam (see platform.h).
#include "platform.h"

#include <stdlib.h>

namespace {

const char *fromEnv(const char *name, const char *fallback) {
  const char *value = getenv(name);
  return value && *value ? value : fallback;
}

// A positive number of milliseconds, or the fallback.
int millisecondsFromEnv(const char *name, int fallback) {
  const char *value = getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  char *end = nullptr;
  const long ms = strtol(value, &end, 10);
  return *end == '\0' && ms > 0 && ms <= 600000 ? static_cast<int>(ms) : fallback;
}

}  // namespace

const VoicePlatform &voicePlatform() {
  static const VoicePlatform platform = {
      fromEnv("TOBREL_VOICE_CONF", "/usr/etc/conf/voice.conf"),
      fromEnv("TOBREL_VOICE_AUDIO_DEVICE", "/dev/audio"),
      "madplay -a 1.5 -",
      "killall madplay",
      millisecondsFromEnv("TOBREL_VOICE_FRAME_DEADLINE_MS", 2000),
      millisecondsFromEnv("TOBREL_VOICE_SEND_DEADLINE_MS", 3000),
      millisecondsFromEnv("TOBREL_VOICE_STOP_GRACE_MS", 2000),
  };
  return platform;
}
