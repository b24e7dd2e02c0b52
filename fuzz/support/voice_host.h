// The voice daemon's one object for the voice fuzz targets, made once per process from a
// voice.conf with one recognition server, as the daemon's start-up requires.
#ifndef TOBREL_FUZZ_SUPPORT_VOICE_HOST_H
#define TOBREL_FUZZ_SUPPORT_VOICE_HOST_H

#include "voice.h"

namespace tobrel_fuzz {

VoiceObject* voiceHost();

}  // namespace tobrel_fuzz

#endif
