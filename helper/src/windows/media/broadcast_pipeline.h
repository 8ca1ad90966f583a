#pragma once
// One running broadcast pipeline with everything that lives exactly as long as it: its bus, the
// counters its streaming threads write, the configuration it runs and the bookkeeping of its
// statistics. A configuration without a pipeline, or counters that go before it, cannot be expressed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "common/result.h"
#include "protocol/messages.h"
#include "windows/media/broadcast_config.h"
#include "windows/media/media_machine.h"
#include "windows/media/media_telemetry.h"
#include "windows/media/runtime_primitives.h"
#include "windows/media/runtime_symbols.h"

namespace corvane::helper {

// What one statistics sample found.
struct PipelineSample {
  // Rates, latency, drops and the profile; the encoder and the recovery reason are the caller's.
  protocol::BroadcastStats stats;
  // No frame encoded 12 s after the start, and the rate under 0.5 frames/s twice in a row.
  bool frames_missing = false;
};

class BroadcastPipeline {
 public:
  using Clock = MediaMachine::Clock;

  // Launches `description` (built for `config`), attaches the frame counters and sets it playing; the
  // first statistics are due 2 s after it plays, by `machine`'s clock. A launch error comes back with
  // the configuration's WHIP endpoint and stream key hidden. On failure nothing is left behind.
  static Result<std::unique_ptr<BroadcastPipeline>> launch(const RuntimeSymbols& gst, std::string_view description,
                                                           const BroadcastConfig& config, MediaMachine& machine);

  BroadcastPipeline(const BroadcastPipeline&) = delete;
  BroadcastPipeline& operator=(const BroadcastPipeline&) = delete;
  ~BroadcastPipeline() = default;  // the pipeline stops and goes first, then its counters

  const BroadcastConfig& config() const { return config_; }
  // Records a change the caller made to the running elements in place (a live profile change).
  void adopt_live_change(const BroadcastConfig& config) { config_ = config; }

  GstElement* element() const { return pipeline_.element(); }
  GstBus* bus() const { return pipeline_.bus(); }
  MediaTelemetry& telemetry() { return telemetry_; }
  MediaTelemetryCounts counts() const { return telemetry_.snapshot(); }

  // The sample of the interval since the previous one when statistics are due at `now` (every 2 s);
  // nothing before then.
  std::optional<PipelineSample> sample(Clock::time_point now);

 private:
  BroadcastPipeline(const RuntimeSymbols& gst, GstElement* pipeline, const BroadcastConfig& config);

  // Declared before the pipeline, so it outlives it: the pipeline's streaming threads write into it
  // until the pipeline has stopped.
  MediaTelemetry telemetry_;
  LaunchedPipeline pipeline_;
  BroadcastConfig config_;
  Clock::time_point started_{};
  Clock::time_point previous_sample_time_{};
  Clock::time_point statistics_deadline_{};
  MediaTelemetryCounts previous_counts_;
  std::uint8_t samples_taken_ = 0;  // saturates at 255
};

}  // namespace corvane::helper
