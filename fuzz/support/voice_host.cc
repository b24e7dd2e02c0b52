// The voice fuzz targets' daemon object (see voice_host.h).
#include "voice_host.h"

#include <stdlib.h>
#include <unistd.h>

namespace tobrel_fuzz {

VoiceObject* voiceHost() {
  static VoiceObject* voice = nullptr;
  if (voice != nullptr) return voice;
  char conf[] = "/tmp/voice-fuzz-conf-XXXXXX";
  const int fd = mkstemp(conf);
  const char text[] = "[asr]\nport=1\nnbserver=1\nserver0=127.0.0.1\n";
  if (fd < 0 || write(fd, text, sizeof text - 1) != static_cast<ssize_t>(sizeof text - 1)) abort();
  close(fd);
  setenv("TOBREL_VOICE_CONF", conf, 1);
  voice = VOICE_OBJECT(g_object_new(VOICE_TYPE_OBJECT, nullptr));
  unlink(conf);
  return voice;
}

}  // namespace tobrel_fuzz
