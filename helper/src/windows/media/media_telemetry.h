#pragma once
// Frame counts and capture-to-encoder latency of a running pipeline, measured by two identity
// elements: "raw_telemetry" before the encoder and "encoded_telemetry" after it. Their "handoff"
// signals arrive on GStreamer's streaming threads, hence the lock.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "common/result.h"
#include "windows/media/runtime_symbols.h"

namespace corvane::helper {

// The counters at one moment.
struct MediaTelemetryCounts {
  std::uint64_t raw_frames = 0;
  std::uint64_t encoded_frames = 0;
  std::uint64_t encoded_bytes = 0;
  double latency_sum_ms = 0;
  std::uint64_t latency_samples = 0;
};

struct MediaTelemetry {
  using Clock = std::chrono::steady_clock;
  using TimeSource = Clock::time_point (*)();

  // Raw frames waiting for their encoded counterpart; older ones are dropped beyond this.
  static constexpr std::size_t kMaxPendingRawInstants = 240;

  static Clock::time_point steady_now() { return Clock::now(); }

  mutable std::mutex mutex;
  std::deque<Clock::time_point> pending_raw_instants;
  std::uint64_t raw_frames = 0;
  std::uint64_t encoded_frames = 0;
  std::uint64_t encoded_bytes = 0;
  double latency_sum_ms = 0;
  std::uint64_t latency_samples = 0;
  // Copied from the entry-point table by attach_telemetry; no bytes are counted while it is null.
  std::size_t (*gst_buffer_get_size)(GstBuffer* buffer) = nullptr;
  // Where the instants come from; tests substitute their own clock.
  TimeSource now = &steady_now;

  MediaTelemetryCounts snapshot() const;
};

// The "handoff" handlers (HandoffCallback); `user_data` is the MediaTelemetry.
// A raw frame: counted, and its instant queued for the latency of its encoded frame.
void on_raw_telemetry_frame(GstElement* identity, GstBuffer* buffer, void* user_data);
// An encoded frame: counted with its size, and paired with the oldest queued raw instant (first in,
// first out) for one latency sample; a negative difference counts as 0 ms.
void on_encoded_telemetry_frame(GstElement* identity, GstBuffer* buffer, void* user_data);

// Connects the handlers to the pipeline's "raw_telemetry" and "encoded_telemetry" elements.
// `telemetry` must outlive the pipeline. On failure the pipeline must be released without running
// (a handler may already be connected).
Status attach_telemetry(const RuntimeSymbols& gst, GstElement* pipeline, MediaTelemetry& telemetry);

}  // namespace corvane::helper
