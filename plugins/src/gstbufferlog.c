/* bufferlog: prints the size of every buffer, whatever "silent" says, and passes the buffer
 * on unchanged.
 *   gst-launch-1.0 audiotestsrc num-buffers=3 ! bufferlog ! fakesink */
#include <stdio.h>

#include "filter-skeleton.h"

GST_DEBUG_CATEGORY_STATIC(gst_buffer_log_debug);
#define GST_CAT_DEFAULT gst_buffer_log_debug

TOBREL_FILTER_DEFINE_TYPE(GstBufferlog, gst_buffer_log, "Bufferlog", FALSE)

static GstFlowReturn gst_buffer_log_chain(GstPad *pad, GstObject *parent, GstBuffer *buf) {
  GstBufferlog *filter = (GstBufferlog *)parent;

  (void)pad;
  printf("pcmSink : got %d bytes\n", (int)gst_buffer_get_size(buf));
  return gst_pad_push(filter->srcpad, buf);
}

static gboolean bufferlog_init(GstPlugin *plugin) {
  TOBREL_PLUGIN_DEBUG_INIT(gst_buffer_log_debug, bufferlog);
  puts("INIT PCMSINK");
  return gst_element_register(plugin, "bufferlog", GST_RANK_NONE, gst_buffer_log_get_type());
}

TOBREL_PLUGIN_DEFINE(bufferlog, bufferlog_init)
