// Speech recognition is not built yet: these entry points keep the daemon's frame whole. Set-up
// still checks that voice.conf names a recognition server, as the daemon's start-up requires;
// both starts are refused (a D-Bus error reply) and a stop has nothing to end.
#include <glib.h>

#include "asr.h"

int asrInit(VoiceObject *voice) {
  voice->asr_socket = 0;
  voice->audio_fd = 0;
  voice->asr_uid = g_string_sized_new(40);
  voice->asr_port = g_key_file_get_integer(voice->conf_file, "asr", "port", nullptr);
  g_debug("port %d", voice->asr_port);
  voice->nbserver = g_key_file_get_integer(voice->conf_file, "asr", "nbserver", nullptr);
  g_debug("nbserver %d", voice->nbserver);
  if (voice->nbserver > 0) {
    voice->asr_server_index = 0;
    voice->asr_server = g_key_file_get_string(voice->conf_file, "asr", "server0", nullptr);
  }
  if (!voice->asr_server) {
    g_debug("no server in voice.conf found");
    return 3;
  }
  return 0;
}

int asrStartSession(VoiceObject *voice, const char *uid, const char * /*grammar*/,
                    const char * /*lang*/, const char * /*filename*/) {
  g_string_assign(voice->asr_uid, uid);
  g_debug("speech recognition is not available in this build: session %s refused", uid);
  return -2;
}

int asrCancel(VoiceObject * /*voice*/) {
  g_debug("asrCancel CANCEL");
  return 0;
}
