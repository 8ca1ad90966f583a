/* The stand-in plug-in: Windows-only element names for Debian's GStreamer (test only, never shipped;
 * loaded through GST_PLUGIN_PATH). */
#include "standin_elements.h"

#define PACKAGE "corvane-standins"

static gboolean plugin_init(GstPlugin* plugin) {
  return gst_element_register(plugin, "d3d11screencapturesrc", GST_RANK_NONE, standin_capture_src_get_type_public()) &&
         gst_element_register(plugin, "d3d11download", GST_RANK_NONE, standin_download_get_type_public()) &&
         gst_element_register(plugin, "d3d11convert", GST_RANK_NONE, standin_convert_get_type_public()) &&
         gst_element_register(plugin, "wasapi2src", GST_RANK_NONE, standin_audio_src_get_type_public()) &&
         gst_element_register(plugin, "whipclientsink", GST_RANK_NONE, standin_whip_sink_get_type_public());
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, corvanestandins,
                  "Stand-ins for the Windows capture, WASAPI and WHIP elements (tests only)", plugin_init, "0.1",
                  "LGPL", "Corvane", "https://corvane.invalid/")
