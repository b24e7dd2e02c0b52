// The VoiceObject type's signal table, checked in-process: the order the signals are created
// in, their slots in the class, and that the generated marshallers deliver their arguments.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "voice.h"

namespace {

struct Received {
  std::string id;
  int event = -1;
  std::vector<std::string> strings;
};

void onTtsEvent(VoiceObject *, const char *id, int event, gpointer data) {
  auto *r = static_cast<Received *>(data);
  r->id = id;
  r->event = event;
}

void onAsrEvent(VoiceObject *, const char *uid, const char *text, const char *detail, int value,
                gpointer data) {
  auto *r = static_cast<Received *>(data);
  r->strings = {uid, text, detail};
  r->event = value;
}

}  // namespace

TEST(VoiceObjectType, SignalsInCreationOrderWithTheirSlots) {
  auto *klass = static_cast<VoiceObjectClass *>(g_type_class_ref(VOICE_TYPE_OBJECT));
  guint n = 0;
  guint *ids = g_signal_list_ids(VOICE_TYPE_OBJECT, &n);
  std::vector<std::string> names;
  for (guint i = 0; i < n; ++i) names.push_back(g_signal_name(ids[i]));
  // GLib keeps signal names in their canonical, dashed form; on the bus they keep underscores.
  EXPECT_EQ(names, (std::vector<std::string>{"tts-event", "asr-word", "asr-event", "registered"}));
  g_free(ids);

  struct Slot {
    guint id;
    const char *name;
    std::vector<GType> params;
  };
  const Slot slots[] = {
      {klass->asr_event, "asr-event", {G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT}},
      {klass->tts_event, "tts-event", {G_TYPE_STRING, G_TYPE_INT}},
      {klass->asr_word, "asr-word", {G_TYPE_STRING}},
      {klass->registered, "registered", {}},
  };
  for (const Slot &s : slots) {
    SCOPED_TRACE(s.name);
    GSignalQuery q;
    g_signal_query(s.id, &q);
    EXPECT_STREQ(q.signal_name, s.name);
    EXPECT_EQ(q.signal_flags & G_SIGNAL_RUN_FIRST, G_SIGNAL_RUN_FIRST);
    EXPECT_EQ(q.return_type, G_TYPE_NONE);
    ASSERT_EQ(q.n_params, s.params.size());
    for (guint i = 0; i < q.n_params; ++i)
      EXPECT_EQ(q.param_types[i] & ~G_SIGNAL_TYPE_STATIC_SCOPE, s.params[i]);
  }
  g_type_class_unref(klass);
}

TEST(VoiceObjectType, GeneratedMarshallersDeliverTheArguments) {
  // The instance's set-up reads voice.conf: give it one with a recognition server.
  char conf[] = "/tmp/voice-conf-XXXXXX";
  int fd = mkstemp(conf);
  ASSERT_GE(fd, 0);
  const char text[] = "[asr]\nport=1\nnbserver=1\nserver0=127.0.0.1\n";
  ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
  close(fd);
  setenv("TOBREL_VOICE_CONF", conf, 1);
  auto *voice = VOICE_OBJECT(g_object_new(VOICE_TYPE_OBJECT, nullptr));
  unlink(conf);
  EXPECT_EQ(voice->pid, 0);
  EXPECT_NE(voice->conf_file, nullptr);

  Received tts, asr;
  g_signal_connect(voice, "tts_event", G_CALLBACK(onTtsEvent), &tts);
  g_signal_connect(voice, "asr_event", G_CALLBACK(onAsrEvent), &asr);
  VoiceObjectClass *klass = VOICE_OBJECT_GET_CLASS(voice);
  g_signal_emit(voice, klass->tts_event, 0, "utterance-7", 4);
  g_signal_emit(voice, klass->asr_event, 0, "session-3", "bonjour", "<greeting/>", 87);
  EXPECT_EQ(tts.id, "utterance-7");
  EXPECT_EQ(tts.event, 4);
  EXPECT_EQ(asr.strings, (std::vector<std::string>{"session-3", "bonjour", "<greeting/>"}));
  EXPECT_EQ(asr.event, 87);
}
