// Steps of a recognition session below the three entry points of asr.h, exposed for tests.
#pragma once

#include <glib.h>

#include <string>

#include "asr.h"

void asrPickServer(VoiceObject *self);
void asrNextServer(VoiceObject *self);
int asrConnect(VoiceObject *self);
int asrSetupDsp(int fd);
gboolean asrAudioCallback(gpointer self);
int asrWaitSocket(VoiceObject *self);

// The grammar sent for a string: unchanged when "http" lies within its first 10 bytes, else
// wrapped into an ABNF grammar with one public rule.
std::string asrGrammarText(const char *grammar, const char *lang);

// 2048 bytes captured at 16 kHz become 1024 bytes at 8 kHz: the bytes at even positions.
std::string asrDecimate(const unsigned char *captured, size_t size);
