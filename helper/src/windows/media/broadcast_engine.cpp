#include "windows/media/broadcast_engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "common/ascii_text.h"
#include "common/unicode.h"
#include "windows/media/encoder_probe.h"
#include "windows/media/pipeline_description.h"
#include "windows/media/runtime_primitives.h"
#include "windows/media/video_profiles.h"

namespace corvane::helper {

namespace {

constexpr std::uint32_t kAppAudioExclusionBuild = 20348;
constexpr std::uint32_t kMaxWhipReconnects = 3;

SupervisionEvent failed(std::string message) { return BroadcastFailed{std::move(message)}; }

SupervisionEvent recovered(std::string component, std::string detail) {
  return protocol::BroadcastRecovery{std::move(component), std::move(detail), true};
}

// The position of the usable-encoder entry named `name`, or nothing.
std::optional<std::size_t> usable_index(const BroadcastEngine& engine, std::string_view name) {
  const auto found = std::find_if(engine.usable_encoders.begin(), engine.usable_encoders.end(),
                                  [&](const UsableEncoder& entry) { return entry.name == name; });
  if (found == engine.usable_encoders.end()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(found - engine.usable_encoders.begin());
}

// The usable-encoder entry named `name`, or nothing.
const UsableEncoder* usable_named(const BroadcastEngine& engine, std::string_view name) {
  const auto index = usable_index(engine, name);
  return index ? &engine.usable_encoders[*index] : nullptr;
}

// "ice" as a word of its own: the text split at every character that is not an ASCII letter or digit.
bool has_ice_word(std::string_view lowered) {
  std::size_t start = 0;
  while (start <= lowered.size()) {
    std::size_t end = start;
    while (end < lowered.size() &&
           ((lowered[end] >= 'a' && lowered[end] <= 'z') || (lowered[end] >= '0' && lowered[end] <= '9'))) {
      ++end;
    }
    if (lowered.substr(start, end - start) == "ice") {
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool is_network_failure(std::string_view lowered) {
  return contains_any(lowered, {"whip", "http", "network", "connection", "timeout", "socket"}) || has_ice_word(lowered);
}

bool is_audio_failure(std::string_view lowered) {
  return contains_any(lowered, {"component=system-audio", "wasapi", "audio device"});
}

bool is_capture_api(std::string_view api) { return api == "dxgi" || api == "wgc"; }

// Switches the capture API once and restarts `config` with it; on failure the previous API is restored
// and nothing runs.
std::optional<SupervisionEvent> try_capture_fallback(BroadcastEngine& engine, const BroadcastConfig& config) {
  engine.capture_fallback_used = true;
  engine.running.reset();
  const std::string previous = engine.capture_api;
  engine.capture_api = previous == "dxgi" ? "wgc" : "dxgi";
  if (const UsableEncoder* entry = usable_named(engine, engine.active_encoder)) {
    if (start_pipeline(engine, config, engine.client_process_id, *entry)) {
      engine.recovery_reason = recovery_reason::screen_capture_fallback;
      return recovered("screen-capture", engine.capture_api);
    }
  }
  engine.capture_api = previous;
  return std::nullopt;
}

// Repairs a broadcast of `config` whose pipeline failed with `message` and is gone: system audio is
// dropped after an audio failure, the WHIP transport reconnects after a network one (three times at
// most), and a device failure moves to the later encoders of the usable list. Nothing runs after a
// failed repair.
SupervisionEvent repair_broadcast(BroadcastEngine& engine, BroadcastConfig config, const std::string& message) {
  const std::size_t index = usable_index(engine, engine.active_encoder).value_or(0);
  // The class is read from the text as the media framework wrote it; only what is sent is redacted
  // (an error may quote the endpoint, and a key may happen to contain a class word).
  const std::string shown = redact_broadcast_secrets(config, message);
  const std::string lowered = ascii_lower(message);

  if (is_audio_failure(lowered)) {
    if (config.system_audio && config.exclude_app_audio && index < engine.usable_encoders.size()) {
      config.system_audio = false;
      const UsableEncoder entry = engine.usable_encoders[index];
      if (start_pipeline(engine, config, engine.client_process_id, entry)) {
        engine.recovery_reason = recovery_reason::system_audio_unavailable;
        return recovered("system-audio", "loopback-unavailable");
      }
    }
    return failed("system audio capture failed and could not recover: " + shown);
  }

  if (is_network_failure(lowered)) {
    if (contains_any(lowered, {"404", "not found", "410", "gone", "unauthorized", "403"})) {
      engine.whip_reconnects = 0;
      return failed("the WHIP credentials are no longer valid; start the broadcast again: " + shown);
    }
    if (index < engine.usable_encoders.size() && engine.whip_reconnects < kMaxWhipReconnects) {
      const UsableEncoder entry = engine.usable_encoders[index];
      if (start_pipeline(engine, config, engine.client_process_id, entry)) {
        ++engine.whip_reconnects;
        engine.recovery_reason = recovery_reason::bandwidth;
        return recovered("network", "whip");
      }
    }
    engine.whip_reconnects = 0;
    return failed("the WHIP transport could not reconnect: " + shown);
  }

  // A device failure: later encoders of the usable list, in order.
  for (std::size_t next = index + 1; next < engine.usable_encoders.size(); ++next) {
    const UsableEncoder entry = engine.usable_encoders[next];
    if (entry.kind == kSoftwareEncoder && (config.width > 960 || config.frame_rate > 30)) {
      config.profile_id = "compat";
      config.width = 960;
      config.height = 540;
      config.frame_rate = 30;
      config.video_bitrate_kbps = 1300;
      config.audio_bitrate_kbps = 96;
    }
    engine.active_encoder = entry.name;
    if (start_pipeline(engine, config, engine.client_process_id, entry)) {
      engine.recovery_reason = recovery_reason::device;
      return recovered("video-encoder", entry.name);
    }
  }
  return failed("the media device failed and no fallback encoder recovered it: " + shown);
}

// No control character (U+0000-U+001F, U+007F-U+009F) and at most 2048 bytes.
bool microphone_id_acceptable(std::string_view id) {
  if (id.size() > 2048) {
    return false;
  }
  std::size_t at = 0;
  while (at < id.size()) {
    const char32_t c = next_code_point(id, at);
    if (c <= 0x1F || (c >= 0x7F && c <= 0x9F)) {
      return false;
    }
  }
  return true;
}

}  // namespace

Status start_pipeline(BroadcastEngine& engine, const BroadcastConfig& config, std::uint32_t excluded_process_id,
                      const UsableEncoder& encoder) {
  if (engine.running) {
    return fail("a media pipeline is already running");
  }
  auto description = build_broadcast_description(config, engine.capture_api, excluded_process_id, encoder);
  if (!description) {
    return fail(description.error());
  }
  if (!engine.runtime.available()) {
    return fail("GStreamer is unavailable");
  }
  auto launched = BroadcastPipeline::launch(*engine.runtime.symbols, *description, config, engine.machine);
  if (!launched) {
    return fail(launched.error());
  }
  engine.running = std::move(*launched);
  return Done{};
}

Status validate_broadcast_config(const BroadcastConfig& config, std::string_view encoder_kind,
                                 std::string_view probe_profile) {
  if (!profile_id_supported(config.profile_id)) {
    return fail("video profile ID is unsupported");
  }
  if (!within_launch_range(config.width, config.height, config.frame_rate, config.video_bitrate_kbps,
                           config.audio_bitrate_kbps)) {
    return fail(std::string(kOutsideLaunchRangeMessage));
  }
  if (Status ceiling =
          check_encoder_ceiling(encoder_kind, probe_profile, config.width, config.height, config.frame_rate);
      !ceiling) {
    return ceiling;
  }
  if (!whip_url_acceptable(config.whip_url)) {
    return fail("WHIP URL must use HTTPS (HTTP is allowed only for loopback development)");
  }
  if (!stream_key_acceptable(config.stream_key)) {
    return fail("LiveKit WHIP stream key is invalid");
  }
  if (!microphone_id_acceptable(config.microphone_device_id)) {
    return fail("microphone device ID is invalid");
  }
  return Done{};
}

Result<BroadcastStarted> start_broadcast(BroadcastEngine& engine, const protocol::StartBroadcast& request,
                                         std::uint32_t client_process_id) {
  if (engine.running) {
    return fail("a broadcast is already active");
  }
  const protocol::MediaCapabilities report = build_media_capabilities(engine);
  if (!report.windows_graphics_capture_available) {
    const auto reason = report.unavailable_reasons.find("windowsGraphicsCapture");
    return fail(reason != report.unavailable_reasons.end() ? reason->second : "Windows capture is unavailable");
  }

  BroadcastConfig config{request.capture_source_id,
                         request.whip_url,
                         request.stream_key,
                         request.microphone_device_id,
                         request.profile_id,
                         request.width,
                         request.height,
                         request.frame_rate,
                         request.video_bitrate_kbps,
                         request.audio_bitrate_kbps,
                         request.system_audio,
                         request.exclude_app_audio,
                         request.auto_profile};
  if (config.profile_id.empty()) {
    config.profile_id = derive_profile_id(config.width, config.frame_rate);
    config.auto_profile = true;
  }
  if (config.audio_bitrate_kbps == 0) {
    config.audio_bitrate_kbps = 96;
  }
  // The report's active encoder is the first usable one, the one this start runs.
  if (auto valid = validate_broadcast_config(config, report.active_encoder_kind, report.active_probe_profile); !valid) {
    return fail(valid.error());
  }

  const auto sources = engine.machine.capture_sources();
  if (!sources || std::none_of(sources->begin(), sources->end(), [&](const protocol::CaptureSource& source) {
        return source.id == config.capture_source_id;
      })) {
    return fail("the selected capture source no longer exists");
  }

  bool dropped_system_audio = false;
  if (config.system_audio) {
    if (!report.system_audio_available) {
      const auto reason = report.unavailable_reasons.find("systemAudio");
      return fail(reason != report.unavailable_reasons.end() ? reason->second : "system audio is unavailable");
    }
    if (!engine.runtime.available()) {
      return fail("GStreamer is unavailable");
    }
    const RuntimeSymbols& gst = *engine.runtime.symbols;
    if (config.exclude_app_audio) {
      if (!probe_system_audio(gst, engine.machine, true, client_process_id)) {
        config.system_audio = false;  // the broadcast goes on without system audio
        dropped_system_audio = true;
      } else {
        const auto build = engine.machine.windows_build();
        if (!build || *build < kAppAudioExclusionBuild) {
          return fail("excluding the app audio requires Windows build 20348 or newer");
        }
      }
    } else if (auto probe = probe_system_audio(gst, engine.machine, false, client_process_id); !probe) {
      return fail("system audio capture is unavailable: " + probe.error());
    }
  }

  if (!config.microphone_device_id.empty() && config.system_audio &&
      !(engine.runtime.available() && element_available(*engine.runtime.symbols, "audiomixer"))) {
    return fail("the GStreamer audiomixer element is required to combine microphone and system audio");
  }
  if (engine.usable_encoders.empty()) {
    return fail("no usable H.264 encoder is available");
  }
  const UsableEncoder entry = engine.usable_encoders.front();
  engine.active_encoder = entry.name;
  engine.client_process_id = client_process_id;
  engine.capture_api = "dxgi";
  engine.capture_fallback_used = false;
  if (auto started = start_pipeline(engine, config, client_process_id, entry); !started) {
    return fail(started.error());
  }
  engine.whip_reconnects = 0;
  engine.recovery_reason = dropped_system_audio ? recovery_reason::system_audio_unavailable : recovery_reason::none;
  return BroadcastStarted{engine.active_encoder, config.system_audio};
}

void stop_broadcast(BroadcastEngine& engine) {
  engine.running.reset();
  engine.recovery_reason = recovery_reason::none;
}

SupervisionEvent supervise_broadcast(BroadcastEngine& engine) {
  if (!engine.running) {
    return {};
  }
  const BusPoll poll = poll_bus(*engine.runtime.symbols, engine.running->bus());
  if (poll.event == BusEvent::eos) {
    stop_broadcast(engine);
    return BroadcastEnded{};
  }
  if (poll.event == BusEvent::error) {
    return handle_media_failure(engine, poll.error_text);
  }
  std::optional<PipelineSample> sample = engine.running->sample(engine.machine.now());
  if (!sample) {
    return {};
  }
  protocol::BroadcastStats& stats = sample->stats;
  stats.encoder = engine.active_encoder;
  const UsableEncoder* active = usable_named(engine, engine.active_encoder);
  stats.encoder_kind = active != nullptr ? active->kind : std::string();
  // Reported once, even by a sample that finds the frames missing.
  stats.recovery_reason = engine.recovery_reason;
  engine.recovery_reason = recovery_reason::none;
  if (sample->frames_missing) {
    return handle_missing_frames(engine);
  }
  return std::move(sample->stats);
}

SupervisionEvent handle_missing_frames(BroadcastEngine& engine) {
  if (!engine.running) {
    stop_broadcast(engine);
    return failed("video capture produced no frames");
  }
  const std::string message = "video encoder produced no frames";
  if (engine.capture_fallback_used || !is_capture_api(engine.capture_api)) {
    return handle_media_failure(engine, message);
  }
  const BroadcastConfig config = engine.running->config();
  if (auto recovery = try_capture_fallback(engine, config)) {
    return *recovery;
  }
  return repair_broadcast(engine, config, message);
}

SupervisionEvent handle_media_failure(BroadcastEngine& engine, const std::string& message) {
  if (!engine.running) {
    stop_broadcast(engine);
    return failed(message);
  }
  const BroadcastConfig config = engine.running->config();
  const MediaTelemetryCounts counts = engine.running->counts();
  engine.running.reset();
  // Nothing was ever captured: the capture API is the first suspect, whatever the message says.
  const bool frame_seen = counts.raw_frames > 0 || counts.encoded_frames > 0;
  if (!frame_seen && !engine.capture_fallback_used && is_capture_api(engine.capture_api)) {
    if (auto recovery = try_capture_fallback(engine, config)) {
      return *recovery;
    }
  }
  return repair_broadcast(engine, config, message);
}

ProfileUpdate update_broadcast_profile(BroadcastEngine& engine, const protocol::UpdateBroadcastProfile& request) {
  if (!engine.running) {
    return {fail("no broadcast is active")};
  }
  const BroadcastConfig previous = engine.running->config();
  BroadcastConfig updated = previous;
  updated.profile_id = request.profile_id;
  updated.width = request.width;
  updated.height = request.height;
  updated.frame_rate = request.frame_rate;
  updated.video_bitrate_kbps = request.video_bitrate_kbps;
  updated.audio_bitrate_kbps = request.audio_bitrate_kbps;

  // Judged by the encoder the broadcast runs, which a recovery may have changed since the start (the
  // capability report would name the first usable one).
  const UsableEncoder* found = usable_named(engine, engine.active_encoder);
  if (auto valid = validate_broadcast_config(updated, found != nullptr ? found->kind : std::string_view(),
                                             found != nullptr ? found->profile : std::string_view());
      !valid) {
    return {fail(valid.error())};
  }
  if (found == nullptr) {
    return {fail("the active encoder is no longer available")};
  }
  const UsableEncoder entry = *found;

  if (updated.width == previous.width && updated.height == previous.height) {
    const RuntimeSymbols& gst = *engine.runtime.symbols;  // loaded: a pipeline runs
    const std::string video_kbps = std::to_string(updated.video_bitrate_kbps);
    std::vector<std::array<std::string, 3>> changes = {{"video_encoder", "bitrate", video_kbps}};
    if (uses_quality_mode(entry.rate_control)) {
      changes.push_back({"video_encoder", "max-bitrate", video_kbps});
      if (entry.name == "nvd3d11h264enc") {
        changes.push_back({"video_encoder", "vbv-buffer-size", std::to_string(updated.video_bitrate_kbps / 2)});
      }
    }
    changes.push_back({"whip", "max-bitrate", std::to_string(bits_per_second(updated.video_bitrate_kbps))});
    if (updated.system_audio || !updated.microphone_device_id.empty()) {
      changes.push_back({"audio_encoder", "bitrate", std::to_string(bits_per_second(updated.audio_bitrate_kbps))});
    }
    for (const auto& [element, property, value] : changes) {
      if (auto set = set_element_property(gst, engine.running->element(), element, property, value); !set) {
        return {fail(set.error())};
      }
    }
    engine.recovery_reason = recovery_reason::none;
    engine.running->adopt_live_change(updated);
    return {engine.active_encoder};
  }

  engine.running.reset();
  auto started = start_pipeline(engine, updated, engine.client_process_id, entry);
  if (started) {
    return {engine.active_encoder};
  }
  std::string error = "could not apply the broadcast profile: " + started.error();
  if (start_pipeline(engine, previous, engine.client_process_id, entry)) {
    return {fail(std::move(error))};
  }
  return {fail(std::move(error)), true};
}

}  // namespace corvane::helper
