// The VoiceObject GObject type: its signals, its D-Bus object information, its set-up from
// voice.conf, and the five D-Bus method handlers that hand over to the workers.
#include "voice.h"

#include <dbus/dbus-glib.h>
#include <gst/gst.h>
#include <stdlib.h>

#include "asr.h"
#include "platform.h"
#include "tobrel-smarshal.h"
#include "tts.h"

// The generated glue is C written for C compilers: its casts between function types are fine.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "voice-glue.h"
#pragma GCC diagnostic pop

G_DEFINE_TYPE(VoiceObject, voice_object, G_TYPE_OBJECT)

static void voice_object_class_init(VoiceObjectClass *klass) {
  const GType type = G_TYPE_FROM_CLASS(klass);
  klass->tts_event = g_signal_new("tts_event", type, G_SIGNAL_RUN_FIRST, 0, nullptr, nullptr,
                                  tobrel_smarshal_VOID__STRING_INT, G_TYPE_NONE, 2,
                                  G_TYPE_STRING, G_TYPE_INT);
  klass->asr_word = g_signal_new("asr_word", type, G_SIGNAL_RUN_FIRST, 0, nullptr, nullptr,
                                 g_cclosure_marshal_VOID__STRING, G_TYPE_NONE, 1, G_TYPE_STRING);
  klass->asr_event = g_signal_new("asr_event", type, G_SIGNAL_RUN_FIRST, 0, nullptr, nullptr,
                                  tobrel_smarshal_VOID__STRING_STRING_STRING_INT, G_TYPE_NONE, 4,
                                  G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT);
  klass->registered = g_signal_new("registered", type, G_SIGNAL_RUN_FIRST, 0, nullptr, nullptr,
                                   g_cclosure_marshal_VOID__VOID, G_TYPE_NONE, 0);
}

static void voice_object_init(VoiceObject *voice) {
  dbus_g_object_type_install_info(VOICE_TYPE_OBJECT, &dbus_glib_voice_object_object_info);
  gst_init(nullptr, nullptr);

  GError *error = nullptr;
  voice->conf_file = g_key_file_new();
  if (!g_key_file_load_from_file(voice->conf_file, voicePlatform().conf_path, G_KEY_FILE_NONE,
                                 &error)) {
    g_warning("%s", error->message);
    exit(-1);
  }
  int r = asrInit(voice);
  if (r != 0) {
    g_debug("ASR init FAIL%d\n", r);
    exit(-1);
  }
  r = ttsInit(voice);
  if (r != 0) {
    g_debug("TTS init FAIL %d\n", r);
    exit(-1);
  }
}

// Every handler answers TRUE with result TRUE, or FALSE with no GError: dbus-glib's own error
// reply then tells the caller that the start was refused. `behaviour` and the stop ids are not
// used.
static gboolean answer(int code, gboolean *result) {
  *result = code == 0;
  return *result;
}

gboolean voice_object_tts_speak(VoiceObject *obj, const char *id, const char *text,
                                const char *lang, gint /*behaviour*/, gboolean *result,
                                GError ** /*error*/) {
  g_debug("SPEAK : %s\n", text);
  return answer(ttsPlay(obj, id, text, lang), result);
}

gboolean voice_object_tts_stop(VoiceObject *obj, const char * /*id*/, gint /*behaviour*/,
                               gboolean *result, GError ** /*error*/) {
  g_debug("TTS STOP\n");
  ttsCancel(obj);
  return answer(0, result);
}

gboolean voice_object_asr_start_file(VoiceObject *obj, const char *uid, const char *filename,
                                     gint /*behaviour*/, gboolean *result, GError ** /*error*/) {
  return answer(asrStartSession(obj, uid, nullptr, nullptr, filename), result);
}

gboolean voice_object_asr_start_string(VoiceObject *obj, const char *uid, const char *grammar,
                                       const char *lang, gint /*behaviour*/, gboolean *result,
                                       GError ** /*error*/) {
  return answer(asrStartSession(obj, uid, grammar, lang, nullptr), result);
}

gboolean voice_object_asr_stop(VoiceObject *obj, const char * /*id*/, gint /*behaviour*/,
                               gboolean *result, GError ** /*error*/) {
  g_debug("ASR STOP\n");
  asrCancel(obj);
  return answer(0, result);
}
