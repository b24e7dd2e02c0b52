/* frameunwrap: passes on the fixed 172-byte payload that follows a 4-byte prefix; the prefix
 * is not read, and whatever follows the payload is dropped.
 *   gst-launch-1.0 filesrc location=frames.bin blocksize=176 ! frameunwrap ! fakesink */
#include "filter-skeleton.h"

GST_DEBUG_CATEGORY_STATIC(gst_frameunwrap_debug);
#define GST_CAT_DEFAULT gst_frameunwrap_debug

/* Byte layout of one input frame. */
enum { PREFIX_SIZE = 4, PAYLOAD_SIZE = 172 };

TOBREL_FILTER_DEFINE_TYPE(Gstframeunwrap, gst_frameunwrap, "frameunwrap", TRUE)

static GstFlowReturn gst_frameunwrap_chain(GstPad *pad, GstObject *parent, GstBuffer *in) {
  Gstframeunwrap *filter = (Gstframeunwrap *)parent;
  gsize in_size = gst_buffer_get_size(in);
  GstBuffer *out = NULL;

  (void)pad;
  if (in_size >= PREFIX_SIZE + PAYLOAD_SIZE) {
    /* Shares the input's memory; the metadata (timestamps, duration, flags) is the whole
     * input's, not that of the cut region. */
    out = gst_buffer_copy_region(in, GST_BUFFER_COPY_MEMORY, PREFIX_SIZE, PAYLOAD_SIZE);
    if (out != NULL)
      gst_buffer_copy_into(out, in, GST_BUFFER_COPY_METADATA, 0, -1);
  }
  if (!filter->silent)
    g_print("process : got %d bytes\n", (int)in_size);
  gst_buffer_unref(in);

  if (out == NULL) {
    GST_ELEMENT_ERROR(filter, STREAM, FAILED, (NULL), (NULL));
    return GST_FLOW_ERROR;
  }
  return gst_pad_push(filter->srcpad, out);
}

static gboolean frameunwrap_init(GstPlugin *plugin) {
  TOBREL_PLUGIN_DEBUG_INIT(gst_frameunwrap_debug, frameunwrap);
  return gst_element_register(plugin, "frameunwrap", GST_RANK_NONE, gst_frameunwrap_get_type());
}

TOBREL_PLUGIN_DEFINE(frameunwrap, frameunwrap_init)
