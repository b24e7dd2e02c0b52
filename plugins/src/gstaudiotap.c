/* audiotap: passes every buffer on unchanged and also writes it to the OSS device, which the
 * plug-in opens and configures (mu-law, one channel, 8000 Hz) once, when it is loaded.
 *   gst-launch-1.0 filesrc location=voice.ul ! audiotap ! fakesink */
#include <stdio.h>

#include "audio-device.h"
#include "filter-skeleton.h"
#include "playback.h"

GST_DEBUG_CATEGORY_STATIC(gst_audio_tap_debug);
#define GST_CAT_DEFAULT gst_audio_tap_debug

TOBREL_FILTER_DEFINE_TYPE(GstAudiotap, gst_audio_tap, "Audiotap", FALSE)

static GstFlowReturn gst_audio_tap_chain(GstPad *pad, GstObject *parent, GstBuffer *buf) {
  GstAudiotap *filter = (GstAudiotap *)parent;
  GstMapInfo map;

  (void)pad;
  if (!filter->silent)
    printf("pcmSink : got %d bytes\n", (int)gst_buffer_get_size(buf));
  /* One write of the whole buffer, silent or not. Playback is best effort: a failed or short
   * write must not stop the stream, so its result is not looked at. */
  if (gst_buffer_map(buf, &map, GST_MAP_READ)) {
    (void)audio_device_ops->write(fdplayback, map.data, map.size);
    gst_buffer_unmap(buf, &map);
  }
  return gst_pad_push(filter->srcpad, buf);
}

static gboolean audiotap_init(GstPlugin *plugin) {
  TOBREL_PLUGIN_DEBUG_INIT(gst_audio_tap_debug, audiotap);
  puts("INIT PCMSINK");
  /* The element is registered even without a usable device; its writes then just fail. */
  playback_init();
  playback_config(16, 0, 8000);
  return gst_element_register(plugin, "audiotap", GST_RANK_NONE, gst_audio_tap_get_type());
}

TOBREL_PLUGIN_DEFINE(audiotap, audiotap_init)
