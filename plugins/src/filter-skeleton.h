/* The shape that all four audio elements share: one always sink pad and one always src pad
 * with ANY caps, caps forwarded from sink to src, and the boolean "silent" property.
 * Each plug-in links its own copy; nothing here is shared between plug-ins at run time. */
#ifndef TOBREL_FILTER_SKELETON_H
#define TOBREL_FILTER_SKELETON_H

#include <gst/gst.h>

G_BEGIN_DECLS

/* Instance layout of every element; each plug-in names it after its own type. */
typedef struct _TobrelFilter {
  GstElement element;
  GstPad *sinkpad;
  GstPad *srcpad;
  gboolean silent; /* TRUE: the chain function prints no per-buffer trace line */
} TobrelFilter;

/* The element class adds nothing to GstElementClass. */
typedef GstElementClass TobrelFilterClass;

/* Installs the property handlers and "silent", the element metadata with the given long name,
 * and the src then the sink pad template. */
void tobrel_filter_class_setup(GstElementClass *klass, const gchar *longname);

/* Creates and adds the sink pad (with the chain function) and the src pad, then sets the
 * instance's starting "silent" value, which may differ from the property's declared default. */
void tobrel_filter_instance_setup(TobrelFilter *filter, GstPadChainFunction chain,
                                  gboolean silent);

/* Defines element type TypeName (type name "TypeName", functions type_name_get_type,
 * type_name_class_init and type_name_init) on the skeleton: LONGNAME in its metadata,
 * type_name_chain, which the plug-in defines, as the sink pad's chain function, and SILENT as
 * the starting value of "silent". */
#define TOBREL_FILTER_DEFINE_TYPE(TypeName, type_name, longname, silent)                      \
  typedef TobrelFilter TypeName;                                                             \
  typedef TobrelFilterClass TypeName##Class;                                                 \
  GST_PLUGIN_EXPORT GType type_name##_get_type(void);                                        \
  static GstFlowReturn type_name##_chain(GstPad *pad, GstObject *parent, GstBuffer *buffer); \
  G_DEFINE_TYPE(TypeName, type_name, GST_TYPE_ELEMENT)                                       \
  static void type_name##_class_init(TypeName##Class *klass) {                               \
    tobrel_filter_class_setup(klass, longname);                                              \
  }                                                                                          \
  static void type_name##_init(TypeName *filter) {                                           \
    tobrel_filter_instance_setup(filter, GST_DEBUG_FUNCPTR(type_name##_chain), silent);      \
  }

/* The plug-in descriptor and the debug category of plug-in NAME, both described as
 * "Template NAME". The version string is the plug-in's own, not GStreamer's. */
#define TOBREL_PLUGIN_DEFINE(name, init)                                                     \
  GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, name, "Template " #name, init,     \
                    "0.10.0", "LGPL", "GStreamer", "https://tobrel.invalid/")
#define TOBREL_PLUGIN_DEBUG_INIT(category, name)                                              \
  do {                                                                                       \
    if (category == NULL)                                                                    \
      GST_DEBUG_CATEGORY_INIT(category, #name, 0, "Template " #name);                        \
  } while (0)

G_END_DECLS

#endif
