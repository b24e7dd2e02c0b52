// Capture device table (see audio_device.h): the OSS device, and a paced file for tests.
#include "audio_device.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <glib.h>

#include <cstdlib>

namespace {

// Close-on-exec: the player of an utterance must not keep the microphone.
int realOpen(const char *path) { return ::open(path, O_RDONLY | O_CLOEXEC); }
int realControl(int fd, unsigned long request, int *value) { return ::ioctl(fd, request, value); }
ssize_t realRead(int fd, void *buffer, size_t size) { return ::read(fd, buffer, size); }
int realClose(int fd) { return ::close(fd); }

const AudioDevice kRealDevice = {realOpen, realControl, realRead, realClose};

// The file device delivers 16000 bytes a second, like the device set to 16 kHz 8-bit mono, so a
// session keeps its real rhythm. One capture at a time, as in the daemon.
constexpr gint64 kBytesPerSecond = 16000;
struct FileCapture {
  int fd = -1;
  gint64 opened = 0;   // monotonic microseconds
  gint64 delivered = 0;
} capture;

int fileOpen(const char *) {
  const int fd = ::open(getenv("TOBREL_AUDIO_CAPTURE_FILE"), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) capture = FileCapture{fd, g_get_monotonic_time(), 0};
  return fd;
}

int fileControl(int, unsigned long, int *) { return 0; }

ssize_t fileRead(int fd, void *buffer, size_t size) {
  if (fd == capture.fd) {
    const gint64 bytes = capture.delivered + static_cast<gint64>(size);
    const gint64 due = capture.opened + bytes * G_USEC_PER_SEC / kBytesPerSecond;
    const gint64 now = g_get_monotonic_time();
    if (due > now) g_usleep(static_cast<gulong>(due - now));
  }
  const ssize_t r = ::read(fd, buffer, size);
  if (r > 0 && fd == capture.fd) capture.delivered += r;
  return r;
}

int fileClose(int fd) {
  if (fd == capture.fd) capture.fd = -1;
  return ::close(fd);
}

const AudioDevice kFileDevice = {fileOpen, fileControl, fileRead, fileClose};

const AudioDevice *chosen = nullptr;

}  // namespace

const AudioDevice &audioDevice() {
  if (chosen == nullptr) {
    const char *file = getenv("TOBREL_AUDIO_CAPTURE_FILE");
    chosen = (file != nullptr && *file != '\0') ? &kFileDevice : &kRealDevice;
  }
  return *chosen;
}

void setAudioDevice(const AudioDevice *device) { chosen = device; }

bool audioReadFull(int fd, void *buffer, size_t size) {
  const AudioDevice &device = audioDevice();
  size_t got = 0;
  while (got < size) {
    const ssize_t r = device.read(fd, static_cast<char *>(buffer) + got, size - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}
