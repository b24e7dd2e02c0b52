/* The common element skeleton of the audio plug-ins: pad templates, the "silent" property
 * and caps handling. Linked statically into each plug-in, so every plug-in stays
 * self-contained while the code exists once in the source tree. */
#include "filter-skeleton.h"

enum { PROP_0, PROP_SILENT };

static GstStaticPadTemplate sink_factory =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("ANY"));

static GstStaticPadTemplate src_factory =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("ANY"));

/* Every element's instance starts with TobrelFilter, so the handlers can be shared. */
static void tobrel_filter_set_property(GObject *object, guint prop_id, const GValue *value,
                                       GParamSpec *pspec) {
  TobrelFilter *filter = (TobrelFilter *)object;
  switch (prop_id) {
    case PROP_SILENT:
      filter->silent = g_value_get_boolean(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
      break;
  }
}

static void tobrel_filter_get_property(GObject *object, guint prop_id, GValue *value,
                                       GParamSpec *pspec) {
  TobrelFilter *filter = (TobrelFilter *)object;
  switch (prop_id) {
    case PROP_SILENT:
      g_value_set_boolean(value, filter->silent);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
      break;
  }
}

void tobrel_filter_class_setup(GstElementClass *klass, const gchar *longname) {
  GObjectClass *gobject_class = G_OBJECT_CLASS(klass);

  gobject_class->set_property = tobrel_filter_set_property;
  gobject_class->get_property = tobrel_filter_get_property;
  g_object_class_install_property(
      gobject_class, PROP_SILENT,
      g_param_spec_boolean("silent", "Silent", "Produce verbose output ?", FALSE,
                           G_PARAM_READWRITE));

  gst_element_class_set_static_metadata(klass, longname, "FIXME:Generic",
                                        "FIXME:Generic Template Element", "Tobrel project");
  gst_element_class_add_static_pad_template(klass, &src_factory);
  gst_element_class_add_static_pad_template(klass, &sink_factory);
}

void tobrel_filter_instance_setup(TobrelFilter *filter, GstPadChainFunction chain,
                                  gboolean silent) {
  /* With proxy caps the default handlers forward the CAPS event from sink to src and answer
   * caps queries on either pad with what the peer of the other pad accepts. */
  filter->sinkpad = gst_pad_new_from_static_template(&sink_factory, "sink");
  GST_PAD_SET_PROXY_CAPS(filter->sinkpad);
  gst_pad_set_chain_function(filter->sinkpad, chain);

  filter->srcpad = gst_pad_new_from_static_template(&src_factory, "src");
  GST_PAD_SET_PROXY_CAPS(filter->srcpad);

  gst_element_add_pad(GST_ELEMENT(filter), filter->sinkpad);
  gst_element_add_pad(GST_ELEMENT(filter), filter->srcpad);

  filter->silent = silent;
}
