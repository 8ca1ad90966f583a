#pragma once
// The broadcast engine's fixed vocabulary: broadcast profile IDs, the launch range, encoder ceilings,
// probe profiles, the encoder catalogue and its pipeline descriptions, and the rendition ladder.
// Pure functions with no state; names and texts are compared exactly (case and spaces count).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace corvane::helper {

// What a video stream is encoded as.
struct VideoSettings {
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t frame_rate;
  std::uint32_t bitrate_kbps;

  bool operator==(const VideoSettings&) const = default;
};

// Broadcast profile IDs, from the most demanding to the least.
inline constexpr std::array<std::string_view, 6> kBroadcastProfileIds = {"quality", "gaming", "balanced",
                                                                         "compat",  "safe",   "last-resort"};

// Whether `id` is one of kBroadcastProfileIds.
bool profile_id_supported(std::string_view id) noexcept;

// The range a broadcast may be started with (bounds included).
inline constexpr std::uint32_t kMinLaunchWidth = 640;
inline constexpr std::uint32_t kMaxLaunchWidth = 1920;
inline constexpr std::uint32_t kMinLaunchHeight = 360;
inline constexpr std::uint32_t kMaxLaunchHeight = 1080;
inline constexpr std::uint32_t kMinLaunchFrameRate = 15;
inline constexpr std::uint32_t kMaxLaunchFrameRate = 60;
inline constexpr std::uint32_t kMinLaunchVideoKbps = 400;
inline constexpr std::uint32_t kMaxLaunchVideoKbps = 8000;
inline constexpr std::uint32_t kMinLaunchAudioKbps = 64;
inline constexpr std::uint32_t kMaxLaunchAudioKbps = 128;
inline constexpr std::string_view kOutsideLaunchRangeMessage = "video profile is outside the supported launch range";

// Whether every value lies within its launch range.
bool within_launch_range(std::uint32_t width, std::uint32_t height, std::uint32_t frame_rate, std::uint32_t video_kbps,
                         std::uint32_t audio_kbps) noexcept;

// Encoder kinds.
inline constexpr std::string_view kSoftwareEncoder = "software";
inline constexpr std::string_view kHardwareEncoder = "hardware";

inline constexpr std::string_view kSoftwareCeilingMessage = "software encoding is capped at 540p30";
inline constexpr std::string_view kHardware720p30CeilingMessage = "this hardware encoder is capped at 720p30";

// Whether an encoder of `kind` whose probe reached `probe_profile` can produce this video, and why
// not: software encoding stops at 960×540 at 30 frames per second, an encoder probed at "720p30" at
// 1280×720 at 30. The software rule is checked first.
Status check_encoder_ceiling(std::string_view kind, std::string_view probe_profile, std::uint32_t width,
                             std::uint32_t height, std::uint32_t frame_rate);

// A profile an encoder is probed with; `settings.bitrate_kbps` is the probe's bitrate.
struct ProbeProfile {
  std::string_view id;
  VideoSettings settings;

  bool operator==(const ProbeProfile&) const = default;
};

inline constexpr std::array<ProbeProfile, 4> kProbeProfiles = {{
    {"540p30", {960, 540, 30, 1300}},
    {"1080p60", {1920, 1080, 60, 6000}},
    {"720p60", {1280, 720, 60, 3200}},
    {"720p30", {1280, 720, 30, 2200}},
}};

// The probe profiles for an encoder kind, most demanding first: "software" → 540p30; "hardware" →
// 1080p60, 720p60, 720p30; any other kind → none. The span views kProbeProfiles.
std::span<const ProbeProfile> probe_profiles_for_kind(std::string_view kind) noexcept;

// An H.264 encoder element the engine may use. Hardware encoders take NV12 frames in Direct3D 11
// memory; the software encoder takes I420 frames in system memory.
struct EncoderCandidate {
  std::string_view element;
  std::string_view kind;

  bool operator==(const EncoderCandidate&) const = default;
};

// The encoders, in order of preference.
inline constexpr std::array<EncoderCandidate, 5> kEncoderCandidates = {{
    {"nvd3d11h264enc", kHardwareEncoder},
    {"qsvh264enc", kHardwareEncoder},
    {"amfh264enc", kHardwareEncoder},
    {"mfh264enc", kHardwareEncoder},
    {"x264enc", kSoftwareEncoder},
}};

// The catalogue entry of `element` (compared exactly), or null for an element outside kEncoderCandidates.
const EncoderCandidate* find_encoder_candidate(std::string_view element) noexcept;

// "software" for x264enc, "hardware" for any other element.
std::string_view encoder_kind(std::string_view element) noexcept;

// Rate-control modes: quality (constrained variable bitrate) and the constant-bitrate fallback.
inline constexpr std::string_view kRateControlQuality = "constrained-vbr";
inline constexpr std::string_view kRateControlCbrFallback = "cbr-fallback";

// True exactly for kRateControlQuality.
bool uses_quality_mode(std::string_view rate_control) noexcept;

inline constexpr std::string_view kUnsupportedEncoderMessage = "selected video encoder is unsupported";

// The pipeline description of encoder `element` (named "video_encoder") at `bitrate_kbps` with a key
// frame at least every `gop` frames, in quality mode or at constant bitrate; or
// kUnsupportedEncoderMessage for an element outside kEncoderCandidates.
Result<std::string> build_encoder_description(std::string_view element, std::uint32_t bitrate_kbps, std::uint32_t gop,
                                              bool quality);

// The H.264 profile to ask of `element`: "high" for nvd3d11h264enc in quality mode, otherwise
// "constrained-baseline".
std::string_view h264_profile_for(std::string_view element, bool quality) noexcept;

// The broadcast profile ID that describes a video of this width and frame rate.
std::string_view derive_profile_id(std::uint32_t width, std::uint32_t frame_rate) noexcept;

// The broadcast profile IDs an encoder whose probe reached `probe_profile` may use, most demanding
// first; none when no capture is available. An unknown probe profile allows what "540p30" allows.
std::vector<std::string> allowed_profile_ids(std::string_view probe_profile, bool capture_available);

// Frames between key frames: two seconds' worth (saturates at the largest std::uint32_t).
std::uint32_t gop_frames(std::uint32_t frame_rate) noexcept;

// One lower rendition of a broadcast.
struct Rendition {
  std::string_view label;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t frame_rate;
  std::uint32_t bitrate_kbps;
  std::uint32_t gop;

  bool operator==(const Rendition&) const = default;
};

// The two lower renditions of a broadcast, "q" (quarter) then "h" (half). Their short side is chosen
// from the source's short side s: s ≥ 1080 → 360 and 720; 540..1079 → 180 and 360; 360..539 → 180 and
// 240; below 360 → 90 and 120. Both sides are scaled by (short side / s), rounded down to even, and
// become 2 when that leaves less than 3; frame rates are capped at 15 ("q") and 30 ("h"); the bitrate
// is 900 kbit/s for a short side of 720 or more, 260 for 360 or more, else 100; the GOP is two seconds.
// A source with a zero side gives 2×2 renditions (nothing to scale, and no division by zero).
std::array<Rendition, 2> rendition_ladder(std::uint32_t width, std::uint32_t height, std::uint32_t frame_rate) noexcept;

}  // namespace corvane::helper
