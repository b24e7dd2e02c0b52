// Where the daemon meets the device: the configuration file, the capture device and the external
// programs. The defaults are the device's; the two paths can be moved by environment variables
// that only tests set (TOBREL_VOICE_CONF, TOBREL_VOICE_AUDIO_DEVICE).
#pragma once

struct VoicePlatform {
  const char *conf_path;            // voice.conf
  const char *audio_device;         // OSS capture device
  const char *player_command;       // run through the shell, MPEG audio on its standard input
  const char *kill_player_command;  // run through the shell when an utterance is stopped
};

const VoicePlatform &voicePlatform();
