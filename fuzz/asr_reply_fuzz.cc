// The recognition server's reply as the daemon meets it: any bytes as what the server writes
// on the session's socket, read by one pass of the session's audio pump (frame read, decode)
// and turned into the asr_event signal. Every signal carries valid UTF-8, which D-Bus demands.
#include <glib.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "asr_internal.h"
#include "audio_device.h"
#include "fuzz_common.h"
#include "voice_host.h"

namespace {

// The capture device: silence, always ready.
int openSilence(const char*) { return 1000; }
int controlSilence(int, unsigned long, int*) { return 0; }
ssize_t readSilence(int, void* buffer, size_t size) {
  memset(buffer, 0xff, size);
  return static_cast<ssize_t>(size);
}
int closeSilence(int) { return 0; }
const AudioDevice kSilence = {openSilence, controlSilence, readSilence, closeSilence};

int g_events = 0;

void onAsrEvent(VoiceObject*, const char* uid, const char* text, const char* detail, int, gpointer) {
  if (!g_utf8_validate(uid, -1, nullptr) || !g_utf8_validate(text, -1, nullptr) ||
      !g_utf8_validate(detail, -1, nullptr))
    abort();
  ++g_events;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tobrel_fuzz::quietLogs();
  VoiceObject* voice = tobrel_fuzz::voiceHost();
  g_signal_connect(voice, "asr_event", G_CALLBACK(onAsrEvent), nullptr);
  g_string_assign(voice->asr_uid, "session-1");
  setAudioDevice(&kSilence);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int pair[2];
  if (!tobrel_fuzz::socketWithInput(data, size, pair)) return 0;
  // The server's side ends after its reply, so a reply cut short reads as a lost connection.
  shutdown(pair[1], SHUT_WR);
  VoiceObject* voice = tobrel_fuzz::voiceHost();
  voice->asr_socket = pair[0];
  voice->audio_fd = openSilence(nullptr);
  g_events = 0;
  // One pass: audio out, the reply in, the outcome signalled, the session closed.
  if (asrAudioCallback(voice) != FALSE) abort();
  if (voice->asr_socket != 0 || voice->audio_fd != 0 || g_events > 1) abort();
  close(pair[1]);
  return 0;
}
