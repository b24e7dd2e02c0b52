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
#include "fuzz_common.h"
#include "voice_host.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::quietLogs();
  tobrel_fuzz::voiceHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GKeyFile* conf = g_key_file_new();
  // A file that does not load ends the daemon at start-up (by design): not a finding.
  if (!g_key_file_load_from_data(conf, reinterpret_cast<const gchar*>(data), size, G_KEY_FILE_NONE, nullptr)) {
    g_key_file_free(conf);
    return 0;
  }
  VoiceObject* voice = tobrel_fuzz::voiceHost();
  GKeyFile* kept = voice->conf_file;
  voice->conf_file = conf;
  g_free(voice->asr_server);
  voice->asr_server = nullptr;
  if (asrInit(voice) == 0) {
    if (voice->asr_server_index < 0 || voice->asr_server_index >= voice->nbserver) abort();
    for (int i = 0; i < 4; ++i) {
      asrNextServer(voice);
      if (voice->asr_server_index < 0 || voice->asr_server_index >= voice->nbserver) abort();
    }
  }
  for (const char* lang : {"fr", "en", "de"}) g_free(g_key_file_get_string(conf, "tts", lang, nullptr));
  voice->conf_file = kept;
  g_key_file_free(conf);
  return 0;
}
