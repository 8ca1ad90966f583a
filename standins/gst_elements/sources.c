/* Stand-ins for the Windows capture sources: d3d11screencapturesrc (a moving test picture in BGRA, as
 * the real element's frames look after d3d11download) and wasapi2src (a sine tone, 48 kHz stereo
 * 32-bit float, as WASAPI's shared mode delivers). Both are live base sources that stamp their
 * buffers with running time and let GstBaseSrc wait for the clock; each accepts the properties of
 * the real element that the helper sets, and no other. */
#include <gst/audio/audio.h>
#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>
#include <math.h>
#include <string.h>

#include "standin_elements.h"

/* ---- d3d11screencapturesrc ---- */

#define CAPTURE_WIDTH 1280
#define CAPTURE_HEIGHT 720

enum { CAPTURE_API_DXGI, CAPTURE_API_WGC };
enum { WINDOW_CAPTURE_DEFAULT, WINDOW_CAPTURE_CLIENT };

static GType capture_api_type(void) {
  static GType type = 0;
  static const GEnumValue values[] = {
      {CAPTURE_API_DXGI, "DXGI Desktop Duplication", "dxgi"},
      {CAPTURE_API_WGC, "Windows Graphics Capture", "wgc"},
      {0, NULL, NULL},
  };
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, g_enum_register_static("GstD3D11ScreenCaptureAPI", values));
  }
  return type;
}

static GType window_capture_mode_type(void) {
  static GType type = 0;
  static const GEnumValue values[] = {
      {WINDOW_CAPTURE_DEFAULT, "Capture entire window area", "default"},
      {WINDOW_CAPTURE_CLIENT, "Capture client area", "client"},
      {0, NULL, NULL},
  };
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, g_enum_register_static("GstD3D11WindowCaptureMode", values));
  }
  return type;
}

typedef struct {
  GstPushSrc parent;
  gint capture_api;
  guint64 monitor_handle;
  guint64 window_handle;
  gint window_capture_mode;
  gboolean show_cursor;
  GstVideoInfo info;
  guint64 frames;
} GstD3D11ScreenCaptureSrc;

typedef struct {
  GstPushSrcClass parent_class;
} GstD3D11ScreenCaptureSrcClass;

G_DEFINE_TYPE(GstD3D11ScreenCaptureSrc, standin_capture_src, GST_TYPE_PUSH_SRC)

enum {
  CAPTURE_PROP_0,
  CAPTURE_PROP_CAPTURE_API,
  CAPTURE_PROP_MONITOR_HANDLE,
  CAPTURE_PROP_WINDOW_HANDLE,
  CAPTURE_PROP_WINDOW_CAPTURE_MODE,
  CAPTURE_PROP_SHOW_CURSOR
};

static void capture_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstD3D11ScreenCaptureSrc* self = (GstD3D11ScreenCaptureSrc*)object;
  GST_OBJECT_LOCK(self);
  switch (id) {
    case CAPTURE_PROP_CAPTURE_API:
      self->capture_api = g_value_get_enum(value);
      break;
    case CAPTURE_PROP_MONITOR_HANDLE:
      self->monitor_handle = g_value_get_uint64(value);
      break;
    case CAPTURE_PROP_WINDOW_HANDLE:
      self->window_handle = g_value_get_uint64(value);
      break;
    case CAPTURE_PROP_WINDOW_CAPTURE_MODE:
      self->window_capture_mode = g_value_get_enum(value);
      break;
    case CAPTURE_PROP_SHOW_CURSOR:
      self->show_cursor = g_value_get_boolean(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

static void capture_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstD3D11ScreenCaptureSrc* self = (GstD3D11ScreenCaptureSrc*)object;
  GST_OBJECT_LOCK(self);
  switch (id) {
    case CAPTURE_PROP_CAPTURE_API:
      g_value_set_enum(value, self->capture_api);
      break;
    case CAPTURE_PROP_MONITOR_HANDLE:
      g_value_set_uint64(value, self->monitor_handle);
      break;
    case CAPTURE_PROP_WINDOW_HANDLE:
      g_value_set_uint64(value, self->window_handle);
      break;
    case CAPTURE_PROP_WINDOW_CAPTURE_MODE:
      g_value_set_enum(value, self->window_capture_mode);
      break;
    case CAPTURE_PROP_SHOW_CURSOR:
      g_value_set_boolean(value, self->show_cursor);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

static GstCaps* capture_fixate(GstBaseSrc* src, GstCaps* caps) {
  caps = gst_caps_make_writable(caps);
  caps = gst_caps_truncate(caps);
  GstStructure* structure = gst_caps_get_structure(caps, 0);
  gst_structure_fixate_field_nearest_int(structure, "width", CAPTURE_WIDTH);
  gst_structure_fixate_field_nearest_int(structure, "height", CAPTURE_HEIGHT);
  gst_structure_fixate_field_nearest_fraction(structure, "framerate", 30, 1);
  return GST_BASE_SRC_CLASS(standin_capture_src_parent_class)->fixate(src, caps);
}

static gboolean capture_set_caps(GstBaseSrc* src, GstCaps* caps) {
  GstD3D11ScreenCaptureSrc* self = (GstD3D11ScreenCaptureSrc*)src;
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, caps) || GST_VIDEO_INFO_FPS_N(&info) <= 0) {
    return FALSE;
  }
  self->info = info;
  gst_base_src_set_blocksize(src, (guint)GST_VIDEO_INFO_SIZE(&info));
  return TRUE;
}

static gboolean capture_start(GstBaseSrc* src) {
  ((GstD3D11ScreenCaptureSrc*)src)->frames = 0;
  return TRUE;
}

static void capture_get_times(GstBaseSrc* src, GstBuffer* buffer, GstClockTime* start, GstClockTime* end) {
  (void)src;
  *start = GST_BUFFER_PTS(buffer);
  *end = GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer)
             ? GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer)
             : GST_CLOCK_TIME_NONE;
}

static GstFlowReturn capture_fill(GstPushSrc* src, GstBuffer* buffer) {
  GstD3D11ScreenCaptureSrc* self = (GstD3D11ScreenCaptureSrc*)src;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &self->info, buffer, GST_MAP_WRITE)) {
    return GST_FLOW_ERROR;
  }
  const gint width = GST_VIDEO_FRAME_WIDTH(&frame);
  const gint height = GST_VIDEO_FRAME_HEIGHT(&frame);
  const gint stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  guint8* pixels = GST_VIDEO_FRAME_PLANE_DATA(&frame, 0);
  /* A dark background that changes shade, and a bright bar that sweeps across: every frame differs. */
  const guint8 shade = (guint8)(32 + (self->frames % 64));
  const gint bar = (gint)((self->frames * 8) % (guint64)width);
  const gint bar_width = width / 16 > 0 ? width / 16 : 1;
  for (gint y = 0; y < height; ++y) {
    guint8* row = pixels + (gsize)y * (gsize)stride;
    memset(row, shade, (gsize)width * 4);
    for (gint x = bar; x < bar + bar_width && x < width; ++x) {
      row[x * 4 + 0] = 40;  /* B */
      row[x * 4 + 1] = 200; /* G */
      row[x * 4 + 2] = 240; /* R */
      row[x * 4 + 3] = 255; /* A */
    }
  }
  gst_video_frame_unmap(&frame);
  const gint fps_n = GST_VIDEO_INFO_FPS_N(&self->info);
  const gint fps_d = GST_VIDEO_INFO_FPS_D(&self->info);
  GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(self->frames, (guint64)fps_d * GST_SECOND, (guint64)fps_n);
  GST_BUFFER_DURATION(buffer) =
      gst_util_uint64_scale(self->frames + 1, (guint64)fps_d * GST_SECOND, (guint64)fps_n) - GST_BUFFER_PTS(buffer);
  GST_BUFFER_OFFSET(buffer) = self->frames;
  ++self->frames;
  GST_BUFFER_OFFSET_END(buffer) = self->frames;
  return GST_FLOW_OK;
}

static void standin_capture_src_class_init(GstD3D11ScreenCaptureSrcClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstBaseSrcClass* base_class = GST_BASE_SRC_CLASS(klass);
  object_class->set_property = capture_set_property;
  object_class->get_property = capture_get_property;
  const GParamFlags flags = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
  g_object_class_install_property(object_class, CAPTURE_PROP_CAPTURE_API,
                                  g_param_spec_enum("capture-api", "Capture API", "Capture API to use",
                                                    capture_api_type(), CAPTURE_API_DXGI, flags));
  g_object_class_install_property(
      object_class, CAPTURE_PROP_MONITOR_HANDLE,
      g_param_spec_uint64("monitor-handle", "Monitor Handle", "A HMONITOR handle", 0, G_MAXUINT64, 0, flags));
  g_object_class_install_property(
      object_class, CAPTURE_PROP_WINDOW_HANDLE,
      g_param_spec_uint64("window-handle", "Window Handle", "A HWND handle", 0, G_MAXUINT64, 0, flags));
  g_object_class_install_property(object_class, CAPTURE_PROP_WINDOW_CAPTURE_MODE,
                                  g_param_spec_enum("window-capture-mode", "Window Capture Mode", "Window capture mode",
                                                    window_capture_mode_type(), WINDOW_CAPTURE_DEFAULT, flags));
  g_object_class_install_property(
      object_class, CAPTURE_PROP_SHOW_CURSOR,
      g_param_spec_boolean("show-cursor", "Show Mouse Cursor", "Whether to show mouse cursor", FALSE, flags));
  gst_element_class_set_static_metadata(element_class, "Direct3D11 Screen Capture Source (stand-in)", "Source/Video",
                                        "A moving test picture in place of the screen", "Corvane tests");
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE(
                         "src", GST_PAD_SRC, GST_PAD_ALWAYS,
                         GST_STATIC_CAPS("video/x-raw, format=(string)BGRA, width=(int)[1,16384], "
                                         "height=(int)[1,16384], framerate=(fraction)[1/1,2147483647/1]")));
  base_class->fixate = capture_fixate;
  base_class->set_caps = capture_set_caps;
  base_class->start = capture_start;
  base_class->get_times = capture_get_times;
  GST_PUSH_SRC_CLASS(klass)->fill = capture_fill;
}

static void standin_capture_src_init(GstD3D11ScreenCaptureSrc* self) {
  self->show_cursor = FALSE;
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

GType standin_capture_src_get_type_public(void) { return standin_capture_src_get_type(); }

/* ---- wasapi2src ---- */

#define AUDIO_RATE 48000
#define AUDIO_CHANNELS 2
#define AUDIO_FRAMES_PER_BUFFER 480 /* 10 ms */

enum { LOOPBACK_DEFAULT, LOOPBACK_INCLUDE_PROCESS_TREE, LOOPBACK_EXCLUDE_PROCESS_TREE };

static GType loopback_mode_type(void) {
  static GType type = 0;
  static const GEnumValue values[] = {
      {LOOPBACK_DEFAULT, "Default", "default"},
      {LOOPBACK_INCLUDE_PROCESS_TREE, "Include process and its child processes", "include-process-tree"},
      {LOOPBACK_EXCLUDE_PROCESS_TREE, "Exclude process and its child processes", "exclude-process-tree"},
      {0, NULL, NULL},
  };
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, g_enum_register_static("GstWasapi2SrcLoopbackMode", values));
  }
  return type;
}

typedef struct {
  GstPushSrc parent;
  gchar* device;
  gboolean low_latency;
  gboolean loopback;
  gint loopback_mode;
  guint loopback_target_pid;
  guint64 frames;
} GstWasapi2Src;

typedef struct {
  GstPushSrcClass parent_class;
} GstWasapi2SrcClass;

G_DEFINE_TYPE(GstWasapi2Src, standin_audio_src, GST_TYPE_PUSH_SRC)

enum {
  AUDIO_PROP_0,
  AUDIO_PROP_DEVICE,
  AUDIO_PROP_LOW_LATENCY,
  AUDIO_PROP_LOOPBACK,
  AUDIO_PROP_LOOPBACK_MODE,
  AUDIO_PROP_LOOPBACK_TARGET_PID
};

static void audio_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstWasapi2Src* self = (GstWasapi2Src*)object;
  GST_OBJECT_LOCK(self);
  switch (id) {
    case AUDIO_PROP_DEVICE:
      g_free(self->device);
      self->device = g_value_dup_string(value);
      break;
    case AUDIO_PROP_LOW_LATENCY:
      self->low_latency = g_value_get_boolean(value);
      break;
    case AUDIO_PROP_LOOPBACK:
      self->loopback = g_value_get_boolean(value);
      break;
    case AUDIO_PROP_LOOPBACK_MODE:
      self->loopback_mode = g_value_get_enum(value);
      break;
    case AUDIO_PROP_LOOPBACK_TARGET_PID:
      self->loopback_target_pid = g_value_get_uint(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

static void audio_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstWasapi2Src* self = (GstWasapi2Src*)object;
  GST_OBJECT_LOCK(self);
  switch (id) {
    case AUDIO_PROP_DEVICE:
      g_value_set_string(value, self->device);
      break;
    case AUDIO_PROP_LOW_LATENCY:
      g_value_set_boolean(value, self->low_latency);
      break;
    case AUDIO_PROP_LOOPBACK:
      g_value_set_boolean(value, self->loopback);
      break;
    case AUDIO_PROP_LOOPBACK_MODE:
      g_value_set_enum(value, self->loopback_mode);
      break;
    case AUDIO_PROP_LOOPBACK_TARGET_PID:
      g_value_set_uint(value, self->loopback_target_pid);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

static void audio_finalize(GObject* object) {
  g_free(((GstWasapi2Src*)object)->device);
  G_OBJECT_CLASS(standin_audio_src_parent_class)->finalize(object);
}

static gboolean audio_start(GstBaseSrc* src) {
  ((GstWasapi2Src*)src)->frames = 0;
  return TRUE;
}

static GstFlowReturn audio_fill(GstPushSrc* src, GstBuffer* buffer) {
  GstWasapi2Src* self = (GstWasapi2Src*)src;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
    return GST_FLOW_ERROR;
  }
  /* System audio plays 440 Hz, a microphone 660 Hz, at a quarter of full scale. */
  const double frequency = self->loopback ? 440.0 : 660.0;
  float* samples = (float*)map.data;
  for (guint i = 0; i < AUDIO_FRAMES_PER_BUFFER; ++i) {
    const double t = (double)(self->frames + i) / AUDIO_RATE;
    const float sample = (float)(0.25 * sin(2.0 * G_PI * frequency * t));
    samples[i * AUDIO_CHANNELS] = sample;
    samples[i * AUDIO_CHANNELS + 1] = sample;
  }
  gst_buffer_unmap(buffer, &map);
  GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(self->frames, GST_SECOND, AUDIO_RATE);
  GST_BUFFER_DURATION(buffer) =
      gst_util_uint64_scale(self->frames + AUDIO_FRAMES_PER_BUFFER, GST_SECOND, AUDIO_RATE) - GST_BUFFER_PTS(buffer);
  GST_BUFFER_OFFSET(buffer) = self->frames;
  self->frames += AUDIO_FRAMES_PER_BUFFER;
  GST_BUFFER_OFFSET_END(buffer) = self->frames;
  return GST_FLOW_OK;
}

static gboolean audio_query(GstBaseSrc* src, GstQuery* query) {
  if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
    /* One buffer of audio is captured before it can be pushed. */
    gst_query_set_latency(query, TRUE, gst_util_uint64_scale(AUDIO_FRAMES_PER_BUFFER, GST_SECOND, AUDIO_RATE),
                          GST_CLOCK_TIME_NONE);
    return TRUE;
  }
  return GST_BASE_SRC_CLASS(standin_audio_src_parent_class)->query(src, query);
}

static void standin_audio_src_class_init(GstWasapi2SrcClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstBaseSrcClass* base_class = GST_BASE_SRC_CLASS(klass);
  object_class->set_property = audio_set_property;
  object_class->get_property = audio_get_property;
  object_class->finalize = audio_finalize;
  const GParamFlags flags = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
  g_object_class_install_property(object_class, AUDIO_PROP_DEVICE,
                                  g_param_spec_string("device", "Device", "Audio device ID", NULL, flags));
  g_object_class_install_property(
      object_class, AUDIO_PROP_LOW_LATENCY,
      g_param_spec_boolean("low-latency", "Low latency", "Optimize all settings for lowest latency", FALSE, flags));
  g_object_class_install_property(object_class, AUDIO_PROP_LOOPBACK,
                                  g_param_spec_boolean("loopback", "Loopback recording",
                                                       "Open render device for loopback recording", FALSE, flags));
  g_object_class_install_property(object_class, AUDIO_PROP_LOOPBACK_MODE,
                                  g_param_spec_enum("loopback-mode", "Loopback Mode", "Loopback mode",
                                                    loopback_mode_type(), LOOPBACK_DEFAULT, flags));
  g_object_class_install_property(object_class, AUDIO_PROP_LOOPBACK_TARGET_PID,
                                  g_param_spec_uint("loopback-target-pid", "Loopback Target PID",
                                                    "Process ID to be recorded or excluded", 0, G_MAXUINT, 0, flags));
  gst_element_class_set_static_metadata(element_class, "Wasapi2Src (stand-in)", "Source/Audio/Hardware",
                                        "A sine tone in place of a WASAPI capture device", "Corvane tests");
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE(
                         "src", GST_PAD_SRC, GST_PAD_ALWAYS,
                         GST_STATIC_CAPS("audio/x-raw, format=(string)F32LE, layout=(string)interleaved, "
                                         "rate=(int)48000, channels=(int)2, channel-mask=(bitmask)0x3")));
  base_class->start = audio_start;
  base_class->get_times = capture_get_times;
  base_class->query = audio_query;
  GST_PUSH_SRC_CLASS(klass)->fill = audio_fill;
}

static void standin_audio_src_init(GstWasapi2Src* self) {
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
  gst_base_src_set_blocksize(GST_BASE_SRC(self), AUDIO_FRAMES_PER_BUFFER * AUDIO_CHANNELS * sizeof(float));
}

GType standin_audio_src_get_type_public(void) { return standin_audio_src_get_type(); }
