/* The element types of the stand-in plug-in (test only, never shipped). */
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

GType standin_capture_src_get_type_public(void);
GType standin_audio_src_get_type_public(void);
GType standin_download_get_type_public(void);
GType standin_convert_get_type_public(void);
GType standin_whip_sink_get_type_public(void);

G_END_DECLS
