// The recognition server's reply as the daemon meets it: any bytes as what the server writes
// on the session's socket, read by one pass of the session's audio pump (frame read, decode)
// and turned into the asr_event signal. Every signal carries valid UTF-8, which D-Bus demands.
#include <glib.h>
#include <google/protobuf/stubs/logging.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "asr_internal.h"
#include "audio_device.h"
#include "voice.h"

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

void dropLogLine(const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
  if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL)) != 0) fprintf(stderr, "%s\n", message);
}
void dropProtobufLine(google::protobuf::LogLevel, const char*, int, const std::string&) {}

VoiceObject* g_voice = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_log_set_default_handler(dropLogLine, nullptr);
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL));
  google::protobuf::SetLogHandler(dropProtobufLine);
  // The object's set-up reads voice.conf and needs one recognition server in it.
  char conf[] = "/tmp/asr-reply-fuzz-XXXXXX";
  const int fd = mkstemp(conf);
  const char text[] = "[asr]\nport=1\nnbserver=1\nserver0=127.0.0.1\n";
  if (fd < 0 || write(fd, text, sizeof text - 1) != static_cast<ssize_t>(sizeof text - 1)) abort();
  close(fd);
  setenv("TOBREL_VOICE_CONF", conf, 1);
  g_voice = VOICE_OBJECT(g_object_new(VOICE_TYPE_OBJECT, nullptr));
  unlink(conf);
  g_signal_connect(g_voice, "asr_event", G_CALLBACK(onAsrEvent), nullptr);
  g_string_assign(g_voice->asr_uid, "session-1");
  setAudioDevice(&kSilence);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole reply must fit the socket's buffer, or writing it would block.
  if (size > 65536) return 0;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) abort();
  size_t written = 0;
  while (written < size) {
    const ssize_t n = write(pair[1], data + written, size - written);
    if (n <= 0) abort();
    written += static_cast<size_t>(n);
  }
  // The server's side ends after its reply, so a reply cut short reads as a lost connection.
  shutdown(pair[1], SHUT_WR);
  g_voice->asr_socket = pair[0];
  g_voice->audio_fd = openSilence(nullptr);
  g_events = 0;
  // One pass: audio out, the reply in, the outcome signalled, the session closed.
  if (asrAudioCallback(g_voice) != FALSE) abort();
  if (g_voice->asr_socket != 0 || g_voice->audio_fd != 0 || g_events > 1) abort();
  close(pair[1]);
  return 0;
}
