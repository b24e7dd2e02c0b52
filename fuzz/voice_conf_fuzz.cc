// voice.conf: any bytes as the daemon's configuration file. What loads is read as start-up
// reads it (port, server count, the first server picked and each next one in turn) and as an
// utterance looks up its language's service.
#include <glib.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "asr.h"
#include "asr_internal.h"
#include "voice.h"

namespace {

void dropLogLine(const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
  if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) != 0) fprintf(stderr, "%s\n", message);
}

VoiceObject* g_voice = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_log_set_default_handler(dropLogLine, nullptr);
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL));
  char conf[] = "/tmp/voice-conf-fuzz-XXXXXX";
  const int fd = mkstemp(conf);
  const char text[] = "[asr]\nport=1\nnbserver=1\nserver0=127.0.0.1\n";
  if (fd < 0 || write(fd, text, sizeof text - 1) != static_cast<ssize_t>(sizeof text - 1)) abort();
  close(fd);
  setenv("TOBREL_VOICE_CONF", conf, 1);
  g_voice = VOICE_OBJECT(g_object_new(VOICE_TYPE_OBJECT, nullptr));
  unlink(conf);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GKeyFile* conf = g_key_file_new();
  // A file that does not load ends the daemon at start-up (by design): not a finding.
  if (!g_key_file_load_from_data(conf, reinterpret_cast<const gchar*>(data), size, G_KEY_FILE_NONE, nullptr)) {
    g_key_file_free(conf);
    return 0;
  }
  GKeyFile* kept = g_voice->conf_file;
  g_voice->conf_file = conf;
  g_free(g_voice->asr_server);
  g_voice->asr_server = nullptr;
  if (asrInit(g_voice) == 0) {
    if (g_voice->asr_server_index < 0 || g_voice->asr_server_index >= g_voice->nbserver) abort();
    for (int i = 0; i < 4; ++i) {
      asrNextServer(g_voice);
      if (g_voice->asr_server_index < 0 || g_voice->asr_server_index >= g_voice->nbserver) abort();
    }
  }
  for (const char* lang : {"fr", "en", "de"}) g_free(g_key_file_get_string(conf, "tts", lang, nullptr));
  g_voice->conf_file = kept;
  g_key_file_free(conf);
  return 0;
}
