// Stand-in for the daemon's object while the recognition code is built without the daemon:
// the fields recognition uses and its asr_event signal, nothing else.
#pragma once

#include <glib-object.h>
#include <sys/types.h>

typedef struct _VoiceObject {
  GObject parent;
  GString *tts_id;
  GString *asr_uid;
  int asr_socket;
  int audio_fd;
  gchar *asr_server;
  int asr_port;
  guint asr_idle_id;
  int asr_server_index;
  int nbserver;
  pid_t pid;
  guint tts_watch_id;
  GKeyFile *conf_file;
} VoiceObject;

GType voice_object_get_type(void);

int asrInit(VoiceObject *self);
int asrStartSession(VoiceObject *self, const char *uid, const char *grammar, const char *lang,
                    const char *filename);
int asrCancel(VoiceObject *self);
