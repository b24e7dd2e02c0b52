/* framewrap: puts the buffer's size, 4 bytes big-endian, in front of every buffer.
 *   gst-launch-1.0 audiotestsrc num-buffers=3 ! framewrap silent=false ! fakesink */
#include "filter-skeleton.h"

GST_DEBUG_CATEGORY_STATIC(gst_framewrap_debug);
#define GST_CAT_DEFAULT gst_framewrap_debug

TOBREL_FILTER_DEFINE_TYPE(Gstframewrap, gst_framewrap, "framewrap", TRUE)

static GstFlowReturn gst_framewrap_chain(GstPad *pad, GstObject *parent, GstBuffer *in) {
  Gstframewrap *filter = (Gstframewrap *)parent;
  gsize in_size = gst_buffer_get_size(in);
  GstBuffer *out = gst_buffer_new_allocate(NULL, 4, NULL);

  (void)pad;
  if (out != NULL) {
    guint32 length = g_htonl((guint32)in_size);
    gst_buffer_fill(out, 0, &length, sizeof length);
    /* The payload is the input's own memory behind the prefix, not a copy. */
    out = gst_buffer_append(out, gst_buffer_ref(in));
    gst_buffer_copy_into(out, in, GST_BUFFER_COPY_METADATA, 0, -1);
  }
  gst_buffer_unref(in);

  if (out == NULL) {
    GST_ELEMENT_ERROR(filter, STREAM, FAILED, (NULL), (NULL));
    return GST_FLOW_ERROR;
  }
  if (!filter->silent)
    g_print("process : got %d -> %d bytes\n", (int)in_size, (int)gst_buffer_get_size(out));
  return gst_pad_push(filter->srcpad, out);
}

static gboolean framewrap_init(GstPlugin *plugin) {
  TOBREL_PLUGIN_DEBUG_INIT(gst_framewrap_debug, framewrap);
  return gst_element_register(plugin, "framewrap", GST_RANK_NONE, gst_framewrap_get_type());
}

TOBREL_PLUGIN_DEFINE(framewrap, framewrap_init)
