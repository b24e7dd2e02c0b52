/* The real device calls behind audio-device.h: open, ioctl and write on the OSS device. */
#include "audio-device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

static int real_open(const char *path, int flags) {
  int fd = open(path, flags);
  /* A host started with standard streams closed hands out 0, 1 or 2. Descriptor 0 means
   * "not opened yet" to the playback code, and 1 would route printed lines into the device,
   * so move the device above the standard streams. */
  if (fd >= 0 && fd <= 2) {
    int moved = fcntl(fd, F_DUPFD, 3);
    close(fd);
    fd = moved;
  }
  return fd;
}

static int real_ioctl(int fd, unsigned long request, int *arg) {
  return ioctl(fd, request, arg);
}

static ssize_t real_write(int fd, const void *data, size_t size) {
  return write(fd, data, size);
}

const AudioDeviceOps audio_device_real_ops = {real_open, real_ioctl, real_write};
const AudioDeviceOps *audio_device_ops = &audio_device_real_ops;
