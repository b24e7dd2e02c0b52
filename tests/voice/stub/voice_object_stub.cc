// GObject type behind the stand-in object of asr.h, with only the asr_event signal.
#include "asr.h"

typedef struct {
  GObjectClass parent;
} VoiceObjectClass;

G_DEFINE_TYPE(VoiceObject, voice_object, G_TYPE_OBJECT)

static void voice_object_finalize(GObject *object) {
  VoiceObject *self = reinterpret_cast<VoiceObject *>(object);
  if (self->asr_uid != nullptr) g_string_free(self->asr_uid, TRUE);
  g_free(self->asr_server);
  if (self->conf_file != nullptr) g_key_file_free(self->conf_file);
  G_OBJECT_CLASS(voice_object_parent_class)->finalize(object);
}

static void voice_object_class_init(VoiceObjectClass *klass) {
  G_OBJECT_CLASS(klass)->finalize = voice_object_finalize;
  g_signal_new("asr_event", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_FIRST, 0, nullptr, nullptr,
               nullptr, G_TYPE_NONE, 4, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT);
}

static void voice_object_init(VoiceObject *) {}
