// Text-to-speech: one utterance at a time, played by a child process that posts the text to the
// language's web service and pipes the answer into the player.
#pragma once

#include <glib.h>

#include "voice.h"

// Codes of ttsPlay besides 0.
enum {
  TTS_BUSY = -4,       // an utterance is playing
  TTS_NO_CHILD = -5,   // the child process could not be created
  TTS_WRONG_LANG = -6  // lang too short, or no [tts] key for it
};

int ttsInit(VoiceObject *voice);
int ttsPlay(VoiceObject *voice, const char *id, const char *text, const char *lang);
void ttsCancel(VoiceObject *voice);
void ttsPidCallBack(GPid pid, gint status, gpointer object);
