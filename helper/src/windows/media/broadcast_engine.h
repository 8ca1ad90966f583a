#pragma once
// The single media and broadcast state of a session: the loaded runtime (or why it is missing), what
// encoder probing found, and the encoder in use.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "protocol/messages.h"
#include "windows/media/media_machine.h"
#include "windows/media/media_telemetry.h"
#include "windows/media/runtime_symbols.h"
#include "windows/media/supervision_event.h"

namespace corvane::helper {

// One probed encoder, as the capability report lists it.
struct EncoderProbeRecord {
  std::string name;
  bool usable = false;
  std::string kind;          // "hardware" or "software"
  std::string profile;       // the first probe profile that passed, or empty
  std::string rate_control;  // "constrained-vbr", "cbr-fallback", or empty when unusable
  std::string note;          // what went wrong on the way, entries joined with "; "
  bool operator==(const EncoderProbeRecord&) const = default;
};

// An encoder that passed probing.
struct UsableEncoder {
  std::string name;
  std::string kind;
  std::string profile;
  std::string rate_control;
  bool operator==(const UsableEncoder&) const = default;
};

// The configuration of one broadcast, as requested by StartBroadcast and stored whole while it runs.
struct BroadcastConfig {
  std::string capture_source_id;
  std::string whip_url;
  std::string stream_key;
  std::string microphone_device_id;  // empty: no microphone
  std::string profile_id;            // empty at start: derived from the size and frame rate
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t frame_rate = 0;
  std::uint32_t video_bitrate_kbps = 0;
  std::uint32_t audio_bitrate_kbps = 0;  // 0 at start means 96
  bool system_audio = false;
  bool exclude_app_audio = false;
  bool auto_profile = false;
  bool operator==(const BroadcastConfig&) const = default;
};

// Recovery reasons, reported once by the next statistics.
namespace recovery_reason {
inline constexpr std::string_view none = "none";
inline constexpr std::string_view screen_capture_fallback = "screen-capture-fallback";
inline constexpr std::string_view bandwidth = "bandwidth";
inline constexpr std::string_view system_audio_unavailable = "system-audio-unavailable";
inline constexpr std::string_view device = "device";
}  // namespace recovery_reason

// Owned by the session from authentication to the end; dropping it stops any broadcast, then
// unloads the runtime.
struct BroadcastEngine {
  using Clock = MediaMachine::Clock;

  BroadcastEngine(MediaRuntime loaded, MediaMachine& host) : runtime(std::move(loaded)), machine(host) {}
  BroadcastEngine(const BroadcastEngine&) = delete;
  BroadcastEngine& operator=(const BroadcastEngine&) = delete;
  ~BroadcastEngine();

  MediaRuntime runtime;
  MediaMachine& machine;

  // What probing found.
  bool probed = false;
  std::vector<EncoderProbeRecord> probe_records;
  std::vector<UsableEncoder> usable_encoders;
  // The encoder of the broadcast: set by a start and by a recovery that moves to another encoder, and
  // read by statistics, profile updates and recoveries. A capability report does not change it.
  std::string active_encoder;

  // The running broadcast.
  std::optional<BroadcastConfig> active_config;
  GstElement* pipeline = nullptr;
  GstBus* bus = nullptr;
  std::unique_ptr<MediaTelemetry> telemetry;  // outlives the pipeline whose callbacks write it

  // Statistics bookkeeping.
  MediaTelemetryCounts previous_counts;
  std::optional<Clock::time_point> previous_sample_time;
  std::optional<Clock::time_point> statistics_deadline;
  std::optional<Clock::time_point> pipeline_started;
  std::uint8_t low_rate_samples = 0;

  // Per broadcast.
  std::string capture_api = "dxgi";
  bool capture_fallback_used = false;
  std::uint32_t whip_reconnects = 0;
  std::string recovery_reason{recovery_reason::none};
  std::uint32_t client_process_id = 0;
};

// Launches the broadcast pipeline for `config` with `encoder`, attaches the frame counters and sets
// it playing; on success the engine holds the pipeline, fresh counters and a statistics deadline 2 s
// ahead. On failure the engine is unchanged. Refused while a pipeline runs: its streaming threads
// still write into its counters, so it must be torn down first.
Status start_pipeline(BroadcastEngine& engine, const BroadcastConfig& config, std::uint32_t excluded_process_id,
                      const UsableEncoder& encoder);

// Stops and releases the running pipeline, then its counters.
void teardown_pipeline(BroadcastEngine& engine);

// Checks a configuration against the profile rules and the ceilings of the encoder that will run it,
// an encoder of `encoder_kind` ("software" or "hardware") whose probe reached `probe_profile`.
Status validate_broadcast_config(const BroadcastConfig& config, std::string_view encoder_kind,
                                 std::string_view probe_profile);

// `text` as it may leave the helper: every occurrence of the broadcast's WHIP endpoint and stream key hidden.
std::string redact_broadcast_secrets(const BroadcastConfig& config, std::string_view text);

// Starts a broadcast of `request`; `client_process_id` is left out of system audio when asked.
Result<BroadcastStarted> start_broadcast(BroadcastEngine& engine, const protocol::StartBroadcast& request,
                                         std::uint32_t client_process_id);

// Ends the broadcast, if any; cannot fail.
void stop_broadcast(BroadcastEngine& engine);

// One supervision step: at most one bus message, statistics every 2 s, missing-frames detection.
SupervisionEvent supervise_broadcast(BroadcastEngine& engine);

// Repairs (or ends) a broadcast after `message`, an error from the bus or missing frames.
SupervisionEvent handle_media_failure(BroadcastEngine& engine, const std::string& message);

// No frame 12 s after the start: switches the capture API once, otherwise handled as a failure.
SupervisionEvent handle_missing_frames(BroadcastEngine& engine);

// Changes the running broadcast's profile: live when the size is unchanged, else by a rebuild that
// falls back to the previous configuration.
ProfileUpdate update_broadcast_profile(BroadcastEngine& engine, const protocol::UpdateBroadcastProfile& request);

}  // namespace corvane::helper
