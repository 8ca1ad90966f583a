/* Stand-ins for d3d11download (frames already in system memory pass through untouched) and
 * d3d11convert (a bin of videoconvert and videoscale: system memory only, since nothing here has
 * Direct3D memory). */
#include <gst/base/gstbasetransform.h>

#include "standin_elements.h"

typedef struct {
  GstBaseTransform parent;
} GstD3D11Download;

typedef struct {
  GstBaseTransformClass parent_class;
} GstD3D11DownloadClass;

G_DEFINE_TYPE(GstD3D11Download, standin_download, GST_TYPE_BASE_TRANSFORM)

static GstFlowReturn download_transform_ip(GstBaseTransform* transform, GstBuffer* buffer) {
  (void)transform;
  (void)buffer;
  return GST_FLOW_OK;
}

static void standin_download_class_init(GstD3D11DownloadClass* klass) {
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(element_class, "Direct3D11 downloader (stand-in)", "Filter/Video",
                                        "Passes system-memory frames through", "Corvane tests");
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                                    GST_STATIC_CAPS("video/x-raw")));
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                                                                    GST_STATIC_CAPS("video/x-raw")));
  GST_BASE_TRANSFORM_CLASS(klass)->transform_ip = download_transform_ip;
  GST_BASE_TRANSFORM_CLASS(klass)->passthrough_on_same_caps = TRUE;
}

static void standin_download_init(GstD3D11Download* self) {
  gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(self), TRUE);
}

GType standin_download_get_type_public(void) { return standin_download_get_type(); }

typedef struct {
  GstBin parent;
} GstD3D11Convert;

typedef struct {
  GstBinClass parent_class;
} GstD3D11ConvertClass;

G_DEFINE_TYPE(GstD3D11Convert, standin_convert, GST_TYPE_BIN)

static void standin_convert_class_init(GstD3D11ConvertClass* klass) {
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  gst_element_class_set_static_metadata(element_class, "Direct3D11 colorspace converter and scaler (stand-in)",
                                        "Filter/Converter/Scaler/Video", "videoconvert and videoscale",
                                        "Corvane tests");
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                                                    GST_STATIC_CAPS("video/x-raw")));
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                                                                    GST_STATIC_CAPS("video/x-raw")));
}

static void standin_convert_init(GstD3D11Convert* self) {
  GstElement* convert = gst_element_factory_make("videoconvert", NULL);
  GstElement* scale = gst_element_factory_make("videoscale", NULL);
  if (!convert || !scale) {
    g_clear_object(&convert);
    g_clear_object(&scale);
    return;
  }
  gst_bin_add_many(GST_BIN(self), convert, scale, NULL);
  gst_element_link(convert, scale);
  GstPad* sink = gst_element_get_static_pad(convert, "sink");
  GstPad* src = gst_element_get_static_pad(scale, "src");
  gst_element_add_pad(GST_ELEMENT(self), gst_ghost_pad_new("sink", sink));
  gst_element_add_pad(GST_ELEMENT(self), gst_ghost_pad_new("src", src));
  gst_object_unref(sink);
  gst_object_unref(src);
}

GType standin_convert_get_type_public(void) { return standin_convert_get_type(); }
