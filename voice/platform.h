// Where the daemon meets the device: the configuration file, the capture device, the external
// programs, how long the recognition link may stall and how long a stopped utterance's child may
// take to end. The defaults are the device's; the two paths and the three times can be changed
// by environment variables that only tests set (TOBREL_VOICE_CONF, TOBREL_VOICE_AUDIO_DEVICE,
// TOBREL_VOICE_FRAME_DEADLINE_MS, TOBREL_VOICE_SEND_DEADLINE_MS, TOBREL_VOICE_STOP_GRACE_MS).
#pragma once

struct VoicePlatform {
  const char *conf_path;            // voice.conf
  const char *audio_device;         // OSS capture device
  const char *player_command;       // run through the shell, MPEG audio on its standard input
  const char *kill_player_command;  // run through the shell when an utterance is stopped
  int frame_deadline_ms;            // the rest of a server's frame, once its first byte is in
  int send_deadline_ms;             // one frame out to a server that takes nothing
  int stop_grace_ms;                // a stopped utterance's child, after SIGTERM, before SIGKILL
};

const VoicePlatform &voicePlatform();
