#include "windows/media/media_telemetry.h"

#include <initializer_list>
#include <limits>
#include <string>

namespace corvane::helper {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

void saturating_add(std::uint64_t& counter, std::uint64_t amount) {
  counter = amount > kMax - counter ? kMax : counter + amount;
}

}  // namespace

MediaTelemetryCounts MediaTelemetry::snapshot() const {
  const std::lock_guard lock(mutex);
  return {raw_frames, encoded_frames, encoded_bytes, latency_sum_ms, latency_samples};
}

void on_raw_telemetry_frame(GstElement* /*identity*/, GstBuffer* /*buffer*/, void* user_data) {
  auto& telemetry = *static_cast<MediaTelemetry*>(user_data);
  const MediaTelemetry::Clock::time_point instant = telemetry.now();
  const std::lock_guard lock(telemetry.mutex);
  saturating_add(telemetry.raw_frames, 1);
  telemetry.pending_raw_instants.push_back(instant);
  while (telemetry.pending_raw_instants.size() > MediaTelemetry::kMaxPendingRawInstants) {
    telemetry.pending_raw_instants.pop_front();
  }
}

void on_encoded_telemetry_frame(GstElement* /*identity*/, GstBuffer* buffer, void* user_data) {
  auto& telemetry = *static_cast<MediaTelemetry*>(user_data);
  const MediaTelemetry::Clock::time_point instant = telemetry.now();
  const std::size_t size = telemetry.gst_buffer_get_size != nullptr ? telemetry.gst_buffer_get_size(buffer) : 0;
  const std::lock_guard lock(telemetry.mutex);
  saturating_add(telemetry.encoded_frames, 1);
  saturating_add(telemetry.encoded_bytes, static_cast<std::uint64_t>(size));
  if (telemetry.pending_raw_instants.empty()) {
    return;
  }
  const MediaTelemetry::Clock::time_point raw = telemetry.pending_raw_instants.front();
  telemetry.pending_raw_instants.pop_front();
  const double latency_ms = instant > raw ? std::chrono::duration<double, std::milli>(instant - raw).count() : 0.0;
  telemetry.latency_sum_ms += latency_ms;
  saturating_add(telemetry.latency_samples, 1);
}

Status attach_telemetry(const RuntimeSymbols& gst, GstElement* pipeline, MediaTelemetry& telemetry) {
  {
    const std::lock_guard lock(telemetry.mutex);
    telemetry.gst_buffer_get_size = gst.gst_buffer_get_size;
  }
  struct Tap {
    const char* name;
    HandoffCallback callback;
  };
  for (const Tap tap :
       {Tap{"raw_telemetry", &on_raw_telemetry_frame}, Tap{"encoded_telemetry", &on_encoded_telemetry_frame}}) {
    GstElement* element = gst.gst_bin_get_by_name(pipeline, tap.name);
    if (element == nullptr) {
      return fail("media telemetry element " + std::string(tap.name) + " was not created");
    }
    // GObject takes every handler as void (*)(void) and calls it with the signal's own signature.
    const unsigned long handler = gst.g_signal_connect_data(
        element, "handoff", reinterpret_cast<void (*)()>(tap.callback), &telemetry, nullptr, 0);
    gst.gst_object_unref(element);
    if (handler == 0) {
      return fail("could not attach media telemetry to " + std::string(tap.name));
    }
  }
  return Done{};
}

}  // namespace corvane::helper
