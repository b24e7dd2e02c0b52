/* OSS playback for audiotap: the device is opened and configured once, when the plug-in is
 * loaded, and stays open for the life of the process. These names are exported. */
#ifndef TOBREL_PLAYBACK_H
#define TOBREL_PLAYBACK_H

#include <gst/gst.h>

G_BEGIN_DECLS

/* The device path, "/dev/audio". */
GST_PLUGIN_EXPORT extern const char *playbackdevice;
/* 0 before playback_init, then the open descriptor, or -1 when the open failed. */
GST_PLUGIN_EXPORT extern int fdplayback;

/* Prints "Playback error : <message>" and returns -1. */
GST_PLUGIN_EXPORT int playbackpabort(const char *message);
/* Opens playbackdevice write-only into fdplayback; 0, or -1 when it cannot be opened. */
GST_PLUGIN_EXPORT int playback_init(void);
/* Resets the device and sets mu-law samples, the stereo flag and the rate; the width is not
 * used. 0 on success, -1 at the first request that fails. */
GST_PLUGIN_EXPORT int playback_config(int bits, int stereo, int rate);

G_END_DECLS

#endif
