// The capture device behind a small table of operations, so the recognition pump can run where
// no sound card exists. The default is the OSS device at the platform's path (/dev/audio); see
// audioDevice() for the test seam.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct AudioDevice {
  int (*open)(const char *path);                             // read-only; -1 and errno on failure
  int (*control)(int fd, unsigned long request, int *value);  // ioctl; -1 and errno on failure
  ssize_t (*read)(int fd, void *buffer, size_t size);
  int (*close)(int fd);
};

// The device in use. Chosen once: when the environment variable TOBREL_AUDIO_CAPTURE_FILE names a
// file (set only by tests), opening the device opens that file instead, its bytes are delivered
// as mu-law capture at the device's pace (2048 bytes in 128 ms) and the OSS controls are accepted
// as asked. Otherwise the real device.
const AudioDevice &audioDevice();

// Replaces the device for in-process tests; null goes back to the choice above.
void setAudioDevice(const AudioDevice *device);

// Reads exactly size bytes, retrying interrupted reads. false on end of data or an error.
bool audioReadFull(int fd, void *buffer, size_t size);
