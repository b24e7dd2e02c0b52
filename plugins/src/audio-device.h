/* A thin layer in front of the OSS device calls that audiotap makes, so that tests can put a
 * fake device behind it. The plug-in itself only ever uses the real calls. */
#ifndef TOBREL_AUDIO_DEVICE_H
#define TOBREL_AUDIO_DEVICE_H

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct AudioDeviceOps {
  /* Opens the device; returns a descriptor or -1. */
  int (*open)(const char *path, int flags);
  /* One OSS request with an int argument that the driver may change; returns -1 on failure. */
  int (*ioctl)(int fd, unsigned long request, int *arg);
  ssize_t (*write)(int fd, const void *data, size_t size);
} AudioDeviceOps;

/* The calls in use; points at audio_device_real_ops unless a test replaced it. */
extern const AudioDeviceOps *audio_device_ops;
extern const AudioDeviceOps audio_device_real_ops;

#ifdef __cplusplus
}
#endif

#endif
