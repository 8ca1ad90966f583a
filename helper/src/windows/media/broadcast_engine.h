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
#include "windows/media/broadcast_config.h"
#include "windows/media/broadcast_pipeline.h"
#include "windows/media/media_machine.h"
#include "windows/media/runtime_symbols.h"
#include "windows/media/supervision_event.h"

namespace corvane::helper {

// Recovery reasons, reported once by the next statistics.
namespace recovery_reason {
inline constexpr std::string_view none = "none";
inline constexpr std::string_view screen_capture_fallback = "screen-capture-fallback";
inline constexpr std::string_view bandwidth = "bandwidth";
inline constexpr std::string_view system_audio_unavailable = "system-audio-unavailable";
inline constexpr std::string_view device = "device";
}  // namespace recovery_reason

// Owned by the session from authentication to the end. Dropping it stops any broadcast, then unloads
// the runtime: `running` is declared after `runtime`, so it goes first.
struct BroadcastEngine {
  BroadcastEngine(MediaRuntime loaded, MediaMachine& host) : runtime(std::move(loaded)), machine(host) {}
  BroadcastEngine(const BroadcastEngine&) = delete;
  BroadcastEngine& operator=(const BroadcastEngine&) = delete;
  ~BroadcastEngine() = default;

  MediaRuntime runtime;
  MediaMachine& machine;

  // What probing found.
  bool probed = false;
  std::vector<EncoderProbeRecord> probe_records;
  std::vector<UsableEncoder> usable_encoders;
  // The encoder of the broadcast: set by a start and by a recovery that moves to another encoder, and
  // read by statistics, profile updates and recoveries. A capability report does not change it.
  std::string active_encoder;

  // The running pipeline with the configuration it runs: present exactly while a broadcast runs. A
  // repair replaces it within one call; only start_pipeline creates one.
  std::unique_ptr<BroadcastPipeline> running;

  // Per broadcast, across the pipelines its repairs start.
  std::string capture_api = "dxgi";
  bool capture_fallback_used = false;
  std::uint32_t whip_reconnects = 0;
  std::string recovery_reason{recovery_reason::none};
  std::uint32_t client_process_id = 0;
};

// Launches the broadcast pipeline for `config` with `encoder` and sets it playing; on success
// `engine.running` holds it with fresh counters and a statistics deadline 2 s ahead. On failure the
// engine is unchanged. Refused while a pipeline runs: it must be torn down (reset) first.
Status start_pipeline(BroadcastEngine& engine, const BroadcastConfig& config, std::uint32_t excluded_process_id,
                      const UsableEncoder& encoder);

// Checks a configuration against the profile rules and the ceilings of the encoder that will run it,
// an encoder of `encoder_kind` ("software" or "hardware") whose probe reached `probe_profile`.
Status validate_broadcast_config(const BroadcastConfig& config, std::string_view encoder_kind,
                                 std::string_view probe_profile);

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
