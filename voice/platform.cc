// Defaults of the daemon's platform seam (see platform.h).
#include "platform.h"

#include <stdlib.h>

namespace {

const char *fromEnv(const char *name, const char *fallback) {
  const char *value = getenv(name);
  return value && *value ? value : fallback;
}

}  // namespace

const VoicePlatform &voicePlatform() {
  static const VoicePlatform platform = {
      fromEnv("TOBREL_VOICE_CONF", "/usr/etc/conf/voice.conf"),
      fromEnv("TOBREL_VOICE_AUDIO_DEVICE", "/dev/audio"),
      "madplay -a 1.5 -",
      "killall madplay",
  };
  return platform;
}
