/* Stand-in for whipclientsink: a bin with request pads video_%u (H.264) and audio_%u (Opus), a
 * "signaller" child holding the endpoint, and the real element's properties that the helper sets.
 * It publishes with webrtcbin: once a first buffer has reached every stream, it makes the offer,
 * waits for ICE gathering, POSTs the offer as application/sdp, applies the answer of a 200/201 that
 * names a resource in its Location header, and DELETEs that resource when it stops. Failures are
 * posted as the real element's errors ("Signalling error: …").
 *
 * Differences from the real element: no STUN server is used unless "stun-server" is set (the real
 * one defaults to a public server), congestion control and the bit-rate limits are stored but not
 * acted on, and the payloaders are fixed (rtph264pay, rtpopuspay). */
#define GST_USE_UNSTABLE_API
#include <gst/sdp/sdp.h>
#include <gst/webrtc/webrtc.h>
#include <string.h>

#include "standin_elements.h"
#include "standin_http.h"

#define DEFAULT_TIMEOUT_SECONDS 15
#define DELETE_TIMEOUT_SECONDS 2

/* ---- the signaller child ---- */

typedef struct {
  GObject parent;
  GMutex lock;
  gchar* whip_endpoint;
  gchar* auth_token;
  guint timeout;
} GstWhipClientSignaller;

typedef struct {
  GObjectClass parent_class;
} GstWhipClientSignallerClass;

G_DEFINE_TYPE(GstWhipClientSignaller, standin_whip_signaller, G_TYPE_OBJECT)

enum { SIGNALLER_PROP_0, SIGNALLER_PROP_WHIP_ENDPOINT, SIGNALLER_PROP_AUTH_TOKEN, SIGNALLER_PROP_TIMEOUT };

static void signaller_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstWhipClientSignaller* self = (GstWhipClientSignaller*)object;
  g_mutex_lock(&self->lock);
  switch (id) {
    case SIGNALLER_PROP_WHIP_ENDPOINT:
      g_free(self->whip_endpoint);
      self->whip_endpoint = g_value_dup_string(value);
      break;
    case SIGNALLER_PROP_AUTH_TOKEN:
      g_free(self->auth_token);
      self->auth_token = g_value_dup_string(value);
      break;
    case SIGNALLER_PROP_TIMEOUT:
      self->timeout = g_value_get_uint(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  g_mutex_unlock(&self->lock);
}

static void signaller_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstWhipClientSignaller* self = (GstWhipClientSignaller*)object;
  g_mutex_lock(&self->lock);
  switch (id) {
    case SIGNALLER_PROP_WHIP_ENDPOINT:
      g_value_set_string(value, self->whip_endpoint);
      break;
    case SIGNALLER_PROP_AUTH_TOKEN:
      g_value_set_string(value, self->auth_token);
      break;
    case SIGNALLER_PROP_TIMEOUT:
      g_value_set_uint(value, self->timeout);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  g_mutex_unlock(&self->lock);
}

static void signaller_finalize(GObject* object) {
  GstWhipClientSignaller* self = (GstWhipClientSignaller*)object;
  g_free(self->whip_endpoint);
  g_free(self->auth_token);
  g_mutex_clear(&self->lock);
  G_OBJECT_CLASS(standin_whip_signaller_parent_class)->finalize(object);
}

static void standin_whip_signaller_class_init(GstWhipClientSignallerClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = signaller_set_property;
  object_class->get_property = signaller_get_property;
  object_class->finalize = signaller_finalize;
  const GParamFlags flags = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
  g_object_class_install_property(object_class, SIGNALLER_PROP_WHIP_ENDPOINT,
                                  g_param_spec_string("whip-endpoint", "WHIP Endpoint",
                                                      "The WHIP server endpoint to POST SDP offer to.", NULL, flags));
  g_object_class_install_property(
      object_class, SIGNALLER_PROP_AUTH_TOKEN,
      g_param_spec_string("auth-token", "Authorization Token",
                          "Authentication token to use, will be sent in the HTTP Header as 'Bearer <auth-token>'", NULL,
                          flags));
  g_object_class_install_property(
      object_class, SIGNALLER_PROP_TIMEOUT,
      g_param_spec_uint("timeout", "Timeout", "Value in seconds to timeout WHIP endpoint requests (0 = No timeout).", 0,
                        3600, DEFAULT_TIMEOUT_SECONDS, flags));
}

static void standin_whip_signaller_init(GstWhipClientSignaller* self) {
  g_mutex_init(&self->lock);
  self->timeout = DEFAULT_TIMEOUT_SECONDS;
}

/* ---- the sink ---- */

enum { CONGESTION_DISABLED, CONGESTION_HOMEGROWN, CONGESTION_GCC };

static GType congestion_control_type(void) {
  static GType type = 0;
  static const GEnumValue values[] = {
      {CONGESTION_DISABLED, "Disabled: no congestion control is applied", "disabled"},
      {CONGESTION_HOMEGROWN, "Homegrown: simple sender-side heuristic", "homegrown"},
      {CONGESTION_GCC, "Google Congestion Control algorithm", "gcc"},
      {0, NULL, NULL},
  };
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, g_enum_register_static("GstRsWebRTCSinkCongestionControl", values));
  }
  return type;
}

typedef struct {
  GstBin parent;
  GstWhipClientSignaller* signaller;
  GstElement* webrtc;

  GMutex lock; /* everything below */
  GstCaps* video_caps;
  GstCaps* audio_caps;
  gchar* stun_server;
  gint congestion_control;
  guint min_bitrate;
  guint max_bitrate;
  guint start_bitrate;
  gboolean do_fec;
  gboolean do_retransmission;

  guint next_video;
  guint next_audio;
  guint streams;         /* request pads made */
  guint streams_flowing; /* of them, those a buffer has left */
  gboolean offer_started;
  gboolean offer_set;
  gboolean signalling_started;
  gboolean stopping;
  GThread* signalling;
  GCancellable* cancellable;
  gchar* resource_url; /* the Location of the published session, to DELETE at the end */
} GstWhipClientSink;

typedef struct {
  GstBinClass parent_class;
} GstWhipClientSinkClass;

static GstChildProxyInterface* parent_child_proxy = NULL;

static void child_proxy_init(gpointer g_iface, gpointer data);

G_DEFINE_TYPE_WITH_CODE(GstWhipClientSink, standin_whip_sink, GST_TYPE_BIN,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_CHILD_PROXY, child_proxy_init))

enum {
  SINK_PROP_0,
  SINK_PROP_VIDEO_CAPS,
  SINK_PROP_AUDIO_CAPS,
  SINK_PROP_STUN_SERVER,
  SINK_PROP_CONGESTION_CONTROL,
  SINK_PROP_MIN_BITRATE,
  SINK_PROP_MAX_BITRATE,
  SINK_PROP_START_BITRATE,
  SINK_PROP_DO_FEC,
  SINK_PROP_DO_RETRANSMISSION
};

static GObject* child_by_name(GstChildProxy* proxy, const gchar* name) {
  GstWhipClientSink* self = (GstWhipClientSink*)proxy;
  if (g_strcmp0(name, "signaller") == 0) {
    return g_object_ref(G_OBJECT(self->signaller));
  }
  return parent_child_proxy->get_child_by_name(proxy, name);
}

static GObject* child_by_index(GstChildProxy* proxy, guint index) {
  GstWhipClientSink* self = (GstWhipClientSink*)proxy;
  if (index == 0) {
    return g_object_ref(G_OBJECT(self->signaller));
  }
  return parent_child_proxy->get_child_by_index(proxy, index - 1);
}

static guint children_count(GstChildProxy* proxy) { return parent_child_proxy->get_children_count(proxy) + 1; }

static void child_proxy_init(gpointer g_iface, gpointer data) {
  (void)data;
  GstChildProxyInterface* iface = g_iface;
  parent_child_proxy = g_type_interface_peek_parent(iface);
  iface->get_child_by_name = child_by_name;
  iface->get_child_by_index = child_by_index;
  iface->get_children_count = children_count;
}

static void sink_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  GstWhipClientSink* self = (GstWhipClientSink*)object;
  g_mutex_lock(&self->lock);
  switch (id) {
    case SINK_PROP_VIDEO_CAPS:
      gst_caps_replace(&self->video_caps, (GstCaps*)gst_value_get_caps(value));
      break;
    case SINK_PROP_AUDIO_CAPS:
      gst_caps_replace(&self->audio_caps, (GstCaps*)gst_value_get_caps(value));
      break;
    case SINK_PROP_STUN_SERVER:
      g_free(self->stun_server);
      self->stun_server = g_value_dup_string(value);
      break;
    case SINK_PROP_CONGESTION_CONTROL:
      self->congestion_control = g_value_get_enum(value);
      break;
    case SINK_PROP_MIN_BITRATE:
      self->min_bitrate = g_value_get_uint(value);
      break;
    case SINK_PROP_MAX_BITRATE:
      self->max_bitrate = g_value_get_uint(value);
      break;
    case SINK_PROP_START_BITRATE:
      self->start_bitrate = g_value_get_uint(value);
      break;
    case SINK_PROP_DO_FEC:
      self->do_fec = g_value_get_boolean(value);
      break;
    case SINK_PROP_DO_RETRANSMISSION:
      self->do_retransmission = g_value_get_boolean(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  g_mutex_unlock(&self->lock);
}

static void sink_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  GstWhipClientSink* self = (GstWhipClientSink*)object;
  g_mutex_lock(&self->lock);
  switch (id) {
    case SINK_PROP_VIDEO_CAPS:
      gst_value_set_caps(value, self->video_caps);
      break;
    case SINK_PROP_AUDIO_CAPS:
      gst_value_set_caps(value, self->audio_caps);
      break;
    case SINK_PROP_STUN_SERVER:
      g_value_set_string(value, self->stun_server);
      break;
    case SINK_PROP_CONGESTION_CONTROL:
      g_value_set_enum(value, self->congestion_control);
      break;
    case SINK_PROP_MIN_BITRATE:
      g_value_set_uint(value, self->min_bitrate);
      break;
    case SINK_PROP_MAX_BITRATE:
      g_value_set_uint(value, self->max_bitrate);
      break;
    case SINK_PROP_START_BITRATE:
      g_value_set_uint(value, self->start_bitrate);
      break;
    case SINK_PROP_DO_FEC:
      g_value_set_boolean(value, self->do_fec);
      break;
    case SINK_PROP_DO_RETRANSMISSION:
      g_value_set_boolean(value, self->do_retransmission);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
      break;
  }
  g_mutex_unlock(&self->lock);
}

/* Posts the real element's error: "Signalling error: <text>", with a debug text (GStreamer adds the
 * element's path to it). */
static void post_signalling_error(GstWhipClientSink* self, const gchar* text) {
  GST_ELEMENT_ERROR(self, STREAM, FAILED, ("Signalling error: %s", text), ("WHIP signalling failed"));
}

/* The WHIP exchange, on a thread of its own: POST the gathered offer, apply the answer. */
static gpointer signalling_main(gpointer data) {
  GstWhipClientSink* self = data;
  GstWebRTCSessionDescription* local = NULL;
  g_object_get(self->webrtc, "local-description", &local, NULL);
  if (!local) {
    post_signalling_error(self, "no local description to send");
    return NULL;
  }
  gchar* offer = gst_sdp_message_as_text(local->sdp);
  gst_webrtc_session_description_free(local);

  g_mutex_lock(&self->signaller->lock);
  gchar* endpoint = g_strdup(self->signaller->whip_endpoint);
  gchar* token = g_strdup(self->signaller->auth_token);
  const guint timeout = self->signaller->timeout;
  g_mutex_unlock(&self->signaller->lock);
  g_mutex_lock(&self->lock);
  GCancellable* cancellable = g_object_ref(self->cancellable);
  g_mutex_unlock(&self->lock);

  StandinHttpResponse response;
  GError* error = NULL;
  if (!endpoint || endpoint[0] == '\0') {
    post_signalling_error(self, "WHIP endpoint URL must be set");
  } else if (!standin_http_request("POST", endpoint, "application/sdp", offer, token, timeout, cancellable, &response,
                                   &error)) {
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      gchar* text = g_strdup_printf("error sending request for url (%s): %s", endpoint, error->message);
      post_signalling_error(self, text);
      g_free(text);
    }
    g_clear_error(&error);
  } else {
    if (response.status != 200 && response.status != 201) {
      gchar* text = g_strdup_printf("Unexpected response: %u - %s", response.status, response.body);
      post_signalling_error(self, text);
      g_free(text);
    } else if (!response.location) {
      post_signalling_error(self, "Location header field should be present for WHIP resource URL");
    } else {
      GstSDPMessage* sdp = NULL;
      if (gst_sdp_message_new_from_text(response.body, &sdp) != GST_SDP_OK || !sdp) {
        post_signalling_error(self, "could not parse the answer SDP");
      } else {
        g_mutex_lock(&self->lock);
        g_free(self->resource_url);
        self->resource_url = standin_http_resolve(endpoint, response.location);
        g_mutex_unlock(&self->lock);
        GstWebRTCSessionDescription* answer = gst_webrtc_session_description_new(GST_WEBRTC_SDP_TYPE_ANSWER, sdp);
        GstPromise* promise = gst_promise_new();
        g_signal_emit_by_name(self->webrtc, "set-remote-description", answer, promise);
        gst_promise_wait(promise);
        gst_promise_unref(promise);
        gst_webrtc_session_description_free(answer);
      }
    }
    standin_http_response_clear(&response);
  }
  g_object_unref(cancellable);
  g_free(endpoint);
  g_free(token);
  g_free(offer);
  return NULL;
}

static void maybe_start_signalling(GstWhipClientSink* self) {
  GstWebRTCICEGatheringState state = GST_WEBRTC_ICE_GATHERING_STATE_NEW;
  g_object_get(self->webrtc, "ice-gathering-state", &state, NULL);
  g_mutex_lock(&self->lock);
  if (self->offer_set && !self->signalling_started && !self->stopping &&
      state == GST_WEBRTC_ICE_GATHERING_STATE_COMPLETE) {
    self->signalling_started = TRUE;
    self->signalling = g_thread_new("whip-signalling", signalling_main, self);
  }
  g_mutex_unlock(&self->lock);
}

static void on_gathering_state(GObject* webrtc, GParamSpec* pspec, gpointer data) {
  (void)webrtc;
  (void)pspec;
  maybe_start_signalling(data);
}

static void on_offer_created(GstPromise* promise, gpointer data) {
  GstWhipClientSink* self = data;
  GstWebRTCSessionDescription* offer = NULL;
  if (gst_promise_wait(promise) == GST_PROMISE_RESULT_REPLIED) {
    const GstStructure* reply = gst_promise_get_reply(promise);
    if (reply) {
      gst_structure_get(reply, "offer", GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &offer, NULL);
    }
  }
  gst_promise_unref(promise);
  if (!offer) {
    g_mutex_lock(&self->lock);
    const gboolean stopping = self->stopping;
    g_mutex_unlock(&self->lock);
    if (!stopping) {
      post_signalling_error(self, "could not create an offer");
    }
    return;
  }
  g_signal_emit_by_name(self->webrtc, "set-local-description", offer, NULL);
  gst_webrtc_session_description_free(offer);
  g_mutex_lock(&self->lock);
  self->offer_set = TRUE;
  g_mutex_unlock(&self->lock);
  maybe_start_signalling(self);
}

/* The first buffer of a stream left its payloader: when every stream has one, the offer is made
 * (the payloaders' caps are known, and frames have been captured and encoded). */
static GstPadProbeReturn on_first_buffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  (void)pad;
  (void)info;
  GstWhipClientSink* self = data;
  g_mutex_lock(&self->lock);
  ++self->streams_flowing;
  const gboolean ready = self->streams_flowing >= self->streams && !self->offer_started && !self->stopping;
  if (ready) {
    self->offer_started = TRUE;
  }
  g_mutex_unlock(&self->lock);
  if (ready) {
    GstPromise* promise = gst_promise_new_with_change_func(on_offer_created, self, NULL);
    g_signal_emit_by_name(self->webrtc, "create-offer", NULL, promise);
  }
  return GST_PAD_PROBE_REMOVE;
}

static GstPad* sink_request_new_pad(GstElement* element, GstPadTemplate* templ, const gchar* name,
                                    const GstCaps* caps) {
  (void)caps;
  GstWhipClientSink* self = (GstWhipClientSink*)element;
  const gboolean video = g_str_has_prefix(GST_PAD_TEMPLATE_NAME_TEMPLATE(templ), "video_");
  g_mutex_lock(&self->lock);
  const guint index = video ? self->next_video++ : self->next_audio++;
  const gboolean retransmission = self->do_retransmission;
  g_mutex_unlock(&self->lock);
  gchar* pad_name = name ? g_strdup(name) : g_strdup_printf(video ? "video_%u" : "audio_%u", index);

  GstElement* payloader = gst_element_factory_make(video ? "rtph264pay" : "rtpopuspay", NULL);
  if (!payloader) {
    GST_ELEMENT_ERROR(self, CORE, MISSING_PLUGIN, ("%s is missing", video ? "rtph264pay" : "rtpopuspay"), (NULL));
    g_free(pad_name);
    return NULL;
  }
  g_object_set(payloader, "pt", video ? 96u : 111u, NULL);
  if (video) {
    g_object_set(payloader, "config-interval", -1, NULL);
    gst_util_set_object_arg(G_OBJECT(payloader), "aggregate-mode", "zero-latency");
  }
  gst_bin_add(GST_BIN(self), payloader);
  GstPad* webrtc_sink = gst_element_request_pad_simple(self->webrtc, "sink_%u");
  GstPad* payloader_src = gst_element_get_static_pad(payloader, "src");
  if (!webrtc_sink || gst_pad_link(payloader_src, webrtc_sink) != GST_PAD_LINK_OK) {
    GST_ELEMENT_ERROR(self, CORE, PAD, ("could not link %s to webrtcbin", pad_name), (NULL));
    gst_object_unref(payloader_src);
    if (webrtc_sink) {
      gst_object_unref(webrtc_sink);
    }
    gst_bin_remove(GST_BIN(self), payloader);
    g_free(pad_name);
    return NULL;
  }
  GstWebRTCRTPTransceiver* transceiver = NULL;
  g_object_get(webrtc_sink, "transceiver", &transceiver, NULL);
  if (transceiver) {
    g_object_set(transceiver, "direction", GST_WEBRTC_RTP_TRANSCEIVER_DIRECTION_SENDONLY, "do-nack", retransmission,
                 NULL);
    gst_object_unref(transceiver);
  }
  gst_object_unref(webrtc_sink);
  gst_pad_add_probe(payloader_src, GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST, on_first_buffer, self,
                    NULL);
  gst_object_unref(payloader_src);

  GstPad* target = gst_element_get_static_pad(payloader, "sink");
  GstPad* ghost = gst_ghost_pad_new_from_template(pad_name, target, templ);
  gst_object_unref(target);
  g_free(pad_name);
  g_mutex_lock(&self->lock);
  ++self->streams;
  g_mutex_unlock(&self->lock);
  if (GST_STATE(self) > GST_STATE_NULL) {
    gst_pad_set_active(ghost, TRUE);
  }
  gst_element_add_pad(element, ghost);
  gst_element_sync_state_with_parent(payloader);
  return ghost;
}

static void sink_release_pad(GstElement* element, GstPad* pad) { gst_element_remove_pad(element, pad); }

/* Stops the exchange in flight, then DELETEs the published session, if any. */
static void stop_signalling(GstWhipClientSink* self) {
  g_mutex_lock(&self->lock);
  self->stopping = TRUE;
  GThread* thread = self->signalling;
  self->signalling = NULL;
  g_cancellable_cancel(self->cancellable);
  g_mutex_unlock(&self->lock);
  if (thread) {
    g_thread_join(thread);
  }
}

static void delete_resource(GstWhipClientSink* self) {
  g_mutex_lock(&self->lock);
  gchar* resource = self->resource_url;
  self->resource_url = NULL;
  g_mutex_unlock(&self->lock);
  if (!resource) {
    return;
  }
  g_mutex_lock(&self->signaller->lock);
  gchar* token = g_strdup(self->signaller->auth_token);
  g_mutex_unlock(&self->signaller->lock);
  StandinHttpResponse response;
  if (standin_http_request("DELETE", resource, NULL, NULL, token, DELETE_TIMEOUT_SECONDS, NULL, &response, NULL)) {
    standin_http_response_clear(&response);
  }
  g_free(token);
  g_free(resource);
}

static GstStateChangeReturn sink_change_state(GstElement* element, GstStateChange transition) {
  GstWhipClientSink* self = (GstWhipClientSink*)element;
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
    g_mutex_lock(&self->lock);
    self->stopping = FALSE;
    self->streams_flowing = 0;
    self->offer_started = FALSE;
    self->offer_set = FALSE;
    self->signalling_started = FALSE;
    g_clear_object(&self->cancellable);
    self->cancellable = g_cancellable_new();
    if (self->stun_server && self->stun_server[0] != '\0') {
      g_object_set(self->webrtc, "stun-server", self->stun_server, NULL);
    }
    g_mutex_unlock(&self->lock);
  } else if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    stop_signalling(self);
  }
  const GstStateChangeReturn result =
      GST_ELEMENT_CLASS(standin_whip_sink_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
    delete_resource(self);
  }
  return result;
}

static void sink_dispose(GObject* object) {
  GstWhipClientSink* self = (GstWhipClientSink*)object;
  stop_signalling(self);
  g_clear_object(&self->signaller);
  G_OBJECT_CLASS(standin_whip_sink_parent_class)->dispose(object);
}

static void sink_finalize(GObject* object) {
  GstWhipClientSink* self = (GstWhipClientSink*)object;
  gst_caps_replace(&self->video_caps, NULL);
  gst_caps_replace(&self->audio_caps, NULL);
  g_free(self->stun_server);
  g_free(self->resource_url);
  g_clear_object(&self->cancellable);
  g_mutex_clear(&self->lock);
  G_OBJECT_CLASS(standin_whip_sink_parent_class)->finalize(object);
}

static void standin_whip_sink_class_init(GstWhipClientSinkClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  object_class->set_property = sink_set_property;
  object_class->get_property = sink_get_property;
  object_class->dispose = sink_dispose;
  object_class->finalize = sink_finalize;
  const GParamFlags flags = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS;
  g_object_class_install_property(
      object_class, SINK_PROP_VIDEO_CAPS,
      g_param_spec_boxed("video-caps", "Video encoder caps", "Governs what video codecs will be proposed",
                         GST_TYPE_CAPS, flags));
  g_object_class_install_property(
      object_class, SINK_PROP_AUDIO_CAPS,
      g_param_spec_boxed("audio-caps", "Audio encoder caps", "Governs what audio codecs will be proposed",
                         GST_TYPE_CAPS, flags));
  g_object_class_install_property(object_class, SINK_PROP_STUN_SERVER,
                                  g_param_spec_string("stun-server", "STUN Server",
                                                      "The STUN server of the form stun://hostname:port", NULL, flags));
  g_object_class_install_property(
      object_class, SINK_PROP_CONGESTION_CONTROL,
      g_param_spec_enum("congestion-control", "Congestion control", "Defines how congestion is controlled, if at all",
                        congestion_control_type(), CONGESTION_GCC, flags));
  g_object_class_install_property(
      object_class, SINK_PROP_MIN_BITRATE,
      g_param_spec_uint("min-bitrate", "Minimal Bitrate",
                        "Minimal bitrate to use (in bit/sec) when computing it through congestion control", 1,
                        G_MAXUINT, 1000, flags));
  g_object_class_install_property(
      object_class, SINK_PROP_MAX_BITRATE,
      g_param_spec_uint("max-bitrate", "Maximal Bitrate",
                        "Maximal bitrate to use (in bit/sec) when computing it through congestion control", 1,
                        G_MAXUINT, 8192000, flags));
  g_object_class_install_property(object_class, SINK_PROP_START_BITRATE,
                                  g_param_spec_uint("start-bitrate", "Start Bitrate",
                                                    "Start bitrate to use (in bit/sec)", 1, G_MAXUINT, 2048000, flags));
  g_object_class_install_property(
      object_class, SINK_PROP_DO_FEC,
      g_param_spec_boolean("do-fec", "Do Forward Error Correction",
                           "Whether the element should negotiate and send FEC data", TRUE, flags));
  g_object_class_install_property(
      object_class, SINK_PROP_DO_RETRANSMISSION,
      g_param_spec_boolean("do-retransmission", "Do retransmission",
                           "Whether the element should offer to honor retransmission requests", TRUE, flags));
  gst_element_class_set_static_metadata(element_class, "WhipClientSink (stand-in)", "Sink/Network/WebRTC",
                                        "WebRTC sink with WHIP client signaller, on webrtcbin", "Corvane tests");
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE("video_%u", GST_PAD_SINK, GST_PAD_REQUEST,
                                                                    GST_STATIC_CAPS("video/x-h264")));
  gst_element_class_add_static_pad_template(
      element_class, &(GstStaticPadTemplate)GST_STATIC_PAD_TEMPLATE("audio_%u", GST_PAD_SINK, GST_PAD_REQUEST,
                                                                    GST_STATIC_CAPS("audio/x-opus")));
  element_class->request_new_pad = sink_request_new_pad;
  element_class->release_pad = sink_release_pad;
  element_class->change_state = sink_change_state;
}

static void standin_whip_sink_init(GstWhipClientSink* self) {
  g_mutex_init(&self->lock);
  self->signaller = g_object_new(standin_whip_signaller_get_type(), NULL);
  self->congestion_control = CONGESTION_GCC;
  self->min_bitrate = 1000;
  self->max_bitrate = 8192000;
  self->start_bitrate = 2048000;
  self->do_fec = TRUE;
  self->do_retransmission = TRUE;
  self->cancellable = g_cancellable_new();
  self->webrtc = gst_element_factory_make("webrtcbin", "webrtcbin");
  if (self->webrtc) {
    gst_util_set_object_arg(G_OBJECT(self->webrtc), "bundle-policy", "max-bundle");
    gst_bin_add(GST_BIN(self), self->webrtc);
    g_signal_connect(self->webrtc, "notify::ice-gathering-state", G_CALLBACK(on_gathering_state), self);
  }
}

GType standin_whip_sink_get_type_public(void) { return standin_whip_sink_get_type(); }
