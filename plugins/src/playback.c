/* OSS playback for audiotap: open the device, reset it and set format, channels and rate,
 * printing each step on standard output. */
#include "playback.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/soundcard.h>

#include "audio-device.h"

const char *playbackdevice = "/dev/audio";
int fdplayback = 0;

int playbackpabort(const char *message) {
  printf("Playback error : %s\n", message);
  return -1;
}

int playback_init(void) {
  printf("audio device=%s\n", playbackdevice);
  fdplayback = audio_device_ops->open(playbackdevice, O_WRONLY);
  if (fdplayback < 0)
    return playbackpabort("unable to open device");
  return 0;
}

int playback_config(int bits, int stereo, int rate) {
  int arg;

  (void)bits; /* the device always plays mu-law, whatever width the caller names */
  if (fdplayback == 0)
    return -1;

  arg = 0;
  if (audio_device_ops->ioctl(fdplayback, SNDCTL_DSP_RESET, &arg) < 0)
    return playbackpabort("Unable to reset OSS driver.");

  arg = AFMT_MU_LAW;
  printf("expected format=%d\n", arg);
  if (audio_device_ops->ioctl(fdplayback, SNDCTL_DSP_SETFMT, &arg) < 0)
    return playbackpabort("Unable to set format");
  printf("accepted format=%d\n", arg);

  arg = stereo;
  printf("expected stereo=%d\n", arg);
  if (audio_device_ops->ioctl(fdplayback, SNDCTL_DSP_STEREO, &arg) < 0)
    return playbackpabort("Unable to set stereo");
  printf("accepted stereo=%d\n", arg);

  arg = rate;
  if (audio_device_ops->ioctl(fdplayback, SNDCTL_DSP_SPEED, &arg) < 0)
    return playbackpabort("Unable to set speed");
  printf("speed=%d\n", arg);

  return 0;
}
