// The voice daemon's one service object: every piece of daemon state lives in VoiceObject, and
// the D-Bus handlers below connect each method of the interface to its worker.
#pragma once

#include <glib-object.h>
#include <sys/types.h>

G_BEGIN_DECLS

#define VOICE_TYPE_OBJECT (voice_object_get_type())
#define VOICE_OBJECT(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), VOICE_TYPE_OBJECT, VoiceObject))
#define VOICE_OBJECT_GET_CLASS(obj) \
  (G_TYPE_INSTANCE_GET_CLASS((obj), VOICE_TYPE_OBJECT, VoiceObjectClass))

typedef struct _VoiceObject {
  GObject parent;
  GString *tts_id;        // id of the current or last utterance, sent back in tts_event
  GString *asr_uid;       // uid of the current or last recognition session, sent in asr_event
  int asr_socket;         // recognition server connection; 0 when no session is open
  int audio_fd;           // capture device during a session; 0 otherwise
  gchar *asr_server;      // host of the current recognition server (owned)
  int asr_port;           // [asr] port
  guint asr_idle_id;      // source of the session's audio pump
  int asr_server_index;   // N of the current [asr] serverN key
  int nbserver;           // [asr] nbserver
  pid_t pid;              // text-to-speech child; 0 when no utterance is playing
  guint tts_watch_id;     // child watch on that child
  GKeyFile *conf_file;    // voice.conf, loaded once at start
} VoiceObject;

typedef struct _VoiceObjectClass {
  GObjectClass parent;
  guint asr_event;
  guint tts_event;
  guint asr_word;
  guint registered;
} VoiceObjectClass;

GType voice_object_get_type(void);

// The service's names on the bus.
#define VOICE_SERVICE_NAME "com.helvorand.tobrel.Voice"
#define VOICE_OBJECT_PATH "/com/helvorand/tobrel/Voice"
#define VOICE_INTERFACE_NAME "com.helvorand.tobrel.TobrelInterface"
// The daemon's syslog identity (kept by openlog: a literal).
#define VOICE_LOG_IDENT "Voice"

// D-Bus handlers (dbus-glib server form). A worker's refusal returns FALSE without a GError,
// which dbus-glib answers with an error reply.
gboolean voice_object_tts_speak(VoiceObject *obj, const char *id, const char *text,
                                const char *lang, gint behaviour, gboolean *result,
                                GError **error);
gboolean voice_object_tts_stop(VoiceObject *obj, const char *id, gint behaviour,
                               gboolean *result, GError **error);
gboolean voice_object_asr_start_file(VoiceObject *obj, const char *uid, const char *filename,
                                     gint behaviour, gboolean *result, GError **error);
gboolean voice_object_asr_start_string(VoiceObject *obj, const char *uid, const char *grammar,
                                       const char *lang, gint behaviour, gboolean *result,
                                       GError **error);
gboolean voice_object_asr_stop(VoiceObject *obj, const char *id, gint behaviour,
                               gboolean *result, GError **error);

G_END_DECLS
