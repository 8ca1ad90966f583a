#include "windows/media/broadcast_pipeline.h"

#include <algorithm>
#include <limits>

#include "windows/media/pipeline_description.h"

namespace corvane::helper {

namespace {

using std::chrono::seconds;

constexpr seconds kStatisticsInterval{2};
constexpr seconds kMissingFramesWindow{12};
constexpr std::uint64_t kReleaseWaitNs = 2 * kGstSecond;

std::uint64_t saturating_delta(std::uint64_t now, std::uint64_t before) { return now > before ? now - before : 0; }

std::uint64_t to_u64(double value) {
  if (!(value > 0)) {
    return 0;
  }
  if (value >= 18446744073709551615.0) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(value);
}

}  // namespace

BroadcastPipeline::BroadcastPipeline(const RuntimeSymbols& gst, GstElement* pipeline, const BroadcastConfig& config)
    : pipeline_(gst, pipeline, kReleaseWaitNs), config_(config) {}

Result<std::unique_ptr<BroadcastPipeline>> BroadcastPipeline::launch(const RuntimeSymbols& gst,
                                                                     std::string_view description,
                                                                     const BroadcastConfig& config,
                                                                     MediaMachine& machine) {
  auto launched = launch_description(gst, description);
  if (!launched) {
    return fail(redact_broadcast_secrets(config, launched.error()));
  }
  // The constructor is private; the object is complete only once this returns it.
  std::unique_ptr<BroadcastPipeline> running(new BroadcastPipeline(gst, *launched, config));
  if (running->bus() == nullptr) {
    return fail("GStreamer did not create a pipeline bus");
  }
  if (auto attached = attach_telemetry(gst, running->element(), running->telemetry_); !attached) {
    return fail(attached.error());
  }
  if (gst.gst_element_set_state(running->element(), kGstStatePlaying) == kGstStateChangeFailure) {
    return fail("GStreamer could not start the capture pipeline");
  }
  const auto now = machine.now();
  running->started_ = now;
  running->previous_sample_time_ = now;
  running->statistics_deadline_ = now + kStatisticsInterval;
  return running;
}

std::optional<PipelineSample> BroadcastPipeline::sample(Clock::time_point now) {
  if (now < statistics_deadline_) {
    return std::nullopt;
  }
  statistics_deadline_ = now + kStatisticsInterval;
  const MediaTelemetryCounts totals = telemetry_.snapshot();
  const MediaTelemetryCounts& before = previous_counts_;
  const double interval = std::max(0.001, std::chrono::duration<double>(now - previous_sample_time_).count());
  const std::uint64_t raw = saturating_delta(totals.raw_frames, before.raw_frames);
  const std::uint64_t encoded = saturating_delta(totals.encoded_frames, before.encoded_frames);
  const std::uint64_t bytes = saturating_delta(totals.encoded_bytes, before.encoded_bytes);
  const double latency_sum = totals.latency_sum_ms - before.latency_sum_ms;
  const std::uint64_t latency_samples = saturating_delta(totals.latency_samples, before.latency_samples);

  PipelineSample taken;
  protocol::BroadcastStats& stats = taken.stats;
  stats.frames_per_second = static_cast<double>(encoded) / interval;
  stats.bitrate_bps = to_u64(static_cast<double>(bytes) * 8.0 / interval);
  stats.average_latency_ms = latency_samples > 0 ? latency_sum / static_cast<double>(latency_samples) : 0.0;
  stats.dropped_frames = raw > encoded ? raw - encoded : 0;
  stats.profile_id = config_.profile_id;
  previous_counts_ = totals;
  previous_sample_time_ = now;

  samples_taken_ = samples_taken_ == 255 ? 255 : static_cast<std::uint8_t>(samples_taken_ + 1);
  // The totals count from the start: while no frame has been encoded, every sample so far ran under
  // 0.5 frames/s, so two samples taken are two slow samples in a row.
  taken.frames_missing = totals.encoded_frames == 0 && now - started_ >= kMissingFramesWindow && samples_taken_ >= 2;
  return taken;
}

}  // namespace corvane::helper
