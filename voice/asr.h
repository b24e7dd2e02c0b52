// Speech recognition sessions: the entry points that the voice object's set-up and D-Bus
// handlers call. Each answers 0 or a small negative code (3 from asrInit: no server configured).
#pragma once

#include "voice.h"

int asrInit(VoiceObject *voice);
int asrStartSession(VoiceObject *voice, const char *uid, const char *grammar, const char *lang,
                    const char *filename);
int asrCancel(VoiceObject *voice);
