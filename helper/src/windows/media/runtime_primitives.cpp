#include "windows/media/runtime_primitives.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "common/ascii_text.h"
#include "common/unicode.h"

namespace corvane::helper {

namespace {

// The message of a GError, or `fallback` when there is no error or it has no text.
std::string error_message(const GError* error, const char* fallback) {
  if (error == nullptr || error->message == nullptr || error->message[0] == '\0') {
    return fallback;
  }
  return repair_utf8(error->message);  // GStreamer means UTF-8 but does not enforce it
}

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// The component a failure came from, named by the element paths and source files in the debug text.
const char* component_tag(std::string_view debug) {
  const std::string lower = ascii_lower(debug);
  if (contains_any(lower, {"wasapi2", "gstwasapi"})) {
    return " [component=system-audio]";
  }
  if (contains_any(lower, {"whipsink", "whipclientsink", "whip_signaller", "rswebrtc", "webrtchttp"})) {
    return " [component=whip]";
  }
  return "";
}

}  // namespace

Result<GstElement*> launch_description(const RuntimeSymbols& gst, std::string_view text) {
  if (has_nul(text)) {
    return fail("pipeline contains a null byte");
  }
  const std::string description(text);
  GError* error = nullptr;
  GstElement* pipeline = gst.gst_parse_launch(description.c_str(), &error);
  if (pipeline != nullptr && error == nullptr) {
    // The pipeline is a new object, not derived from the description's or the error's storage.
    // cppcheck-suppress returnDanglingLifetime
    return pipeline;
  }
  // A pipeline returned together with an error is never accepted. GStreamer 1.22 returns one for
  // every parse error it can recover from, and each of them means part of the description was
  // dropped: an unknown element (the chain is cut there), an unknown property or a value it could
  // not set, a link it could not make, an empty bin, even a syntax error. gst-launch-1.0 refuses
  // such a pipeline too ("erroneous pipeline"). There is no separate class of harmless warnings
  // (the table cannot tell the error domain apart anyway), and running what is left could broadcast
  // without an encoder or with a setting silently ignored, so the partial pipeline is released
  // (it was never started) and the error's text is the failure.
  std::string reason = error_message(error, "GStreamer rejected the capture pipeline");
  if (error != nullptr) {
    gst.g_error_free(error);
  }
  if (pipeline != nullptr) {
    gst.gst_object_unref(pipeline);
  }
  return fail(std::move(reason));
}

std::string describe_bus_error(const RuntimeSymbols& gst, GstMessage* message) {
  GError* error = nullptr;
  char* debug = nullptr;
  gst.gst_message_parse_error(message, &error, &debug);
  gst.gst_mini_object_unref(message);
  std::string text = error_message(error, "the media pipeline failed");
  if (error != nullptr) {
    gst.g_error_free(error);
  }
  if (debug != nullptr) {
    text += component_tag(debug);
    gst.g_free(debug);
  }
  return text;
}

Status set_element_property(const RuntimeSymbols& gst, GstElement* pipeline, std::string_view element,
                            std::string_view property, std::string_view value) {
  if (has_nul(element)) {
    return fail("media element name is invalid");
  }
  if (has_nul(property)) {
    return fail("media property name is invalid");
  }
  if (has_nul(value)) {
    return fail("media property value is invalid");
  }
  const std::string element_name(element);
  GstElement* found = gst.gst_bin_get_by_name(pipeline, element_name.c_str());
  if (found == nullptr) {
    return fail("media element " + element_name + " is unavailable");
  }
  const std::string property_name(property);
  const std::string value_text(value);
  gst.gst_util_set_object_arg(found, property_name.c_str(), value_text.c_str());
  gst.gst_object_unref(found);
  return Done{};
}

bool element_available(const RuntimeSymbols& gst, std::string_view factory) {
  if (has_nul(factory)) {
    return false;  // no factory has such a name
  }
  const std::string name(factory);
  GstElementFactory* found = gst.gst_element_factory_find(name.c_str());
  if (found == nullptr) {
    return false;
  }
  gst.gst_object_unref(found);
  return true;
}

BusPoll poll_bus(const RuntimeSymbols& gst, GstBus* bus) {
  GstMessage* message = gst.gst_bus_timed_pop_filtered(bus, 0, kGstMessageEos | kGstMessageError);
  if (message == nullptr) {
    return {};
  }
  std::uint32_t type = 0;
  std::memcpy(&type, reinterpret_cast<const unsigned char*>(message) + kGstMessageTypeOffset, sizeof type);
  if (type == kGstMessageError) {
    return {BusEvent::error, describe_bus_error(gst, message)};
  }
  gst.gst_mini_object_unref(message);
  if (type == kGstMessageEos) {
    return {BusEvent::eos, {}};
  }
  return {};
}

void release_pipeline(const RuntimeSymbols& gst, GstElement* pipeline, GstBus* bus, std::uint64_t wait_ns) {
  if (pipeline != nullptr) {
    gst.gst_element_set_state(pipeline, kGstStateNull);
    int state = 0;
    int pending = 0;
    gst.gst_element_get_state(pipeline, &state, &pending, wait_ns);
  }
  if (bus != nullptr) {
    gst.gst_object_unref(bus);
  }
  if (pipeline != nullptr) {
    gst.gst_object_unref(pipeline);
  }
}

std::string runtime_version(const RuntimeSymbols& gst) {
  char* version = gst.gst_version_string();
  if (version == nullptr) {
    return {};
  }
  std::string text = repair_utf8(version);
  gst.g_free(version);  // a newly allocated string
  return text;
}

}  // namespace corvane::helper
