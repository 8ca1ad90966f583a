#include "windows/media/video_profiles.h"

#include <algorithm>
#include <limits>

namespace corvane::helper {
namespace {

constexpr std::uint32_t kUint32Max = std::numeric_limits<std::uint32_t>::max();

std::uint32_t clamp_to_uint32(std::uint64_t value) noexcept {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, kUint32Max));
}

// An encoder's description at constant bitrate and in quality mode; {bitrate}, {half} and {gop} are
// replaced by the bitrate, half the bitrate (rounded down) and the key-frame interval.
struct EncoderTemplate {
  std::string_view element;
  std::string_view cbr;
  std::string_view quality;
};

constexpr std::array<EncoderTemplate, 5> kEncoderTemplates = {{
    {"x264enc",
     "x264enc name=video_encoder bitrate={bitrate} pass=cbr tune=zerolatency speed-preset=veryfast "
     "key-int-max={gop} bframes=0",
     "x264enc name=video_encoder bitrate={bitrate} pass=qual quantizer=24 tune=zerolatency "
     "speed-preset=veryfast key-int-max={gop} bframes=0"},
    {"mfh264enc",
     "mfh264enc name=video_encoder bitrate={bitrate} rc-mode=cbr low-latency=true gop-size={gop} bframes=0",
     "mfh264enc name=video_encoder bitrate={bitrate} max-bitrate={bitrate} rc-mode=qvbr low-latency=true "
     "gop-size={gop} bframes=0"},
    {"amfh264enc",
     "amfh264enc name=video_encoder bitrate={bitrate} rate-control=cbr usage=ultra-low-latency preset=balanced "
     "gop-size={gop}",
     "amfh264enc name=video_encoder bitrate={bitrate} max-bitrate={bitrate} rate-control=lcvbr "
     "usage=ultra-low-latency preset=balanced gop-size={gop}"},
    {"qsvh264enc", "qsvh264enc name=video_encoder bitrate={bitrate} rate-control=cbr gop-size={gop} b-frames=0",
     "qsvh264enc name=video_encoder bitrate={bitrate} max-bitrate={bitrate} rate-control=qvbr qvbr-quality=23 "
     "gop-size={gop} b-frames=0"},
    {"nvd3d11h264enc",
     "nvd3d11h264enc name=video_encoder bitrate={bitrate} rc-mode=cbr tune=ultra-low-latency preset=p4 "
     "gop-size={gop} zerolatency=true",
     "nvd3d11h264enc name=video_encoder bitrate={bitrate} max-bitrate={bitrate} vbv-buffer-size={half} rc-mode=vbr "
     "const-quality=23 tune=low-latency preset=p5 multi-pass=two-pass-quarter cabac=true bframes=0 gop-size={gop} "
     "zerolatency=true min-force-key-unit-interval=500000000"},
}};

// Replaces every `placeholder` in `text` by `value` in unsigned decimal.
void replace_all(std::string& text, std::string_view placeholder, std::uint32_t value) {
  const std::string digits = std::to_string(value);
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + digits.size())) {
    text.replace(at, placeholder.size(), digits);
  }
}

// Scales `side` by short_side / source_short, rounds down to even, and gives 2 when that leaves less
// than 3. The product is formed in 64 bits: short_side × side does not fit in 32 bits for large sides.
// A short side above the source's (an upscale of a tiny source) can leave more than 32 bits even after
// the division; such results are clamped before rounding. A source without pixels (source_short = 0)
// scales to nothing, so to 2, instead of dividing by zero.
std::uint32_t scale_side(std::uint32_t side, std::uint32_t short_side, std::uint32_t source_short) noexcept {
  const std::uint64_t scaled = source_short == 0 ? 0 : static_cast<std::uint64_t>(short_side) * side / source_short;
  const std::uint32_t even = clamp_to_uint32(scaled) & ~std::uint32_t{1};
  return even < 3 ? 2 : even;
}

Rendition make_rendition(std::string_view label, std::uint32_t short_side, std::uint32_t frame_rate_cap,
                         std::uint32_t width, std::uint32_t height, std::uint32_t frame_rate) noexcept {
  const std::uint32_t source_short = std::min(width, height);
  const std::uint32_t rate = std::min(frame_rate_cap, frame_rate);
  const std::uint32_t bitrate = short_side >= 720 ? 900 : short_side >= 360 ? 260 : 100;
  return Rendition{label,
                   scale_side(width, short_side, source_short),
                   scale_side(height, short_side, source_short),
                   rate,
                   bitrate,
                   gop_frames(rate)};
}

}  // namespace

bool profile_id_supported(std::string_view id) noexcept {
  return std::find(kBroadcastProfileIds.begin(), kBroadcastProfileIds.end(), id) != kBroadcastProfileIds.end();
}

bool within_launch_range(std::uint32_t width, std::uint32_t height, std::uint32_t frame_rate, std::uint32_t video_kbps,
                         std::uint32_t audio_kbps) noexcept {
  const auto within = [](std::uint32_t value, std::uint32_t low, std::uint32_t high) {
    return value >= low && value <= high;
  };
  return within(width, kMinLaunchWidth, kMaxLaunchWidth) && within(height, kMinLaunchHeight, kMaxLaunchHeight) &&
         within(frame_rate, kMinLaunchFrameRate, kMaxLaunchFrameRate) &&
         within(video_kbps, kMinLaunchVideoKbps, kMaxLaunchVideoKbps) &&
         within(audio_kbps, kMinLaunchAudioKbps, kMaxLaunchAudioKbps);
}

Status check_encoder_ceiling(std::string_view kind, std::string_view probe_profile, std::uint32_t width,
                             std::uint32_t height, std::uint32_t frame_rate) {
  if (kind == kSoftwareEncoder && (height > 540 || width > 960 || frame_rate > 30)) {
    return fail(std::string(kSoftwareCeilingMessage));
  }
  if (probe_profile == "720p30" && (frame_rate > 30 || height > 720 || width > 1280)) {
    return fail(std::string(kHardware720p30CeilingMessage));
  }
  return Done{};
}

std::span<const ProbeProfile> probe_profiles_for_kind(std::string_view kind) noexcept {
  const std::span<const ProbeProfile> all(kProbeProfiles);
  if (kind == kSoftwareEncoder) {
    return all.subspan(0, 1);
  }
  if (kind == kHardwareEncoder) {
    return all.subspan(1);
  }
  return {};
}

const EncoderCandidate* find_encoder_candidate(std::string_view element) noexcept {
  const auto found =
      std::find_if(kEncoderCandidates.begin(), kEncoderCandidates.end(),
                   [element](const EncoderCandidate& candidate) { return candidate.element == element; });
  return found == kEncoderCandidates.end() ? nullptr : &*found;
}

std::string_view encoder_kind(std::string_view element) noexcept {
  return element == "x264enc" ? kSoftwareEncoder : kHardwareEncoder;
}

bool uses_quality_mode(std::string_view rate_control) noexcept { return rate_control == kRateControlQuality; }

Result<std::string> build_encoder_description(std::string_view element, std::uint32_t bitrate_kbps, std::uint32_t gop,
                                              bool quality) {
  const auto encoder = std::find_if(kEncoderTemplates.begin(), kEncoderTemplates.end(),
                                    [element](const EncoderTemplate& entry) { return entry.element == element; });
  if (encoder == kEncoderTemplates.end()) {
    return fail(std::string(kUnsupportedEncoderMessage));
  }
  const EncoderTemplate& found = *encoder;
  std::string description(quality ? found.quality : found.cbr);
  replace_all(description, "{bitrate}", bitrate_kbps);
  replace_all(description, "{half}", bitrate_kbps / 2);
  replace_all(description, "{gop}", gop);
  return description;
}

std::string_view h264_profile_for(std::string_view element, bool quality) noexcept {
  return element == "nvd3d11h264enc" && quality ? "high" : "constrained-baseline";
}

std::string_view derive_profile_id(std::uint32_t width, std::uint32_t frame_rate) noexcept {
  if (width >= 1920 && frame_rate >= 60) {
    return "quality";
  }
  if (width >= 1280) {
    return frame_rate >= 60 ? "gaming" : "balanced";
  }
  if (width >= 960) {
    return "compat";
  }
  return frame_rate >= 30 ? "safe" : "last-resort";
}

std::vector<std::string> allowed_profile_ids(std::string_view probe_profile, bool capture_available) {
  if (!capture_available) {
    return {};
  }
  // kBroadcastProfileIds from "quality" (0), "gaming" (1), "balanced" (2) or "compat" (3) to the end.
  std::size_t first = 3;
  if (probe_profile == "1080p60") {
    first = 0;
  } else if (probe_profile == "720p60") {
    first = 1;
  } else if (probe_profile == "720p30") {
    first = 2;
  }
  std::vector<std::string> ids;
  for (std::size_t i = first; i < kBroadcastProfileIds.size(); ++i) {
    ids.emplace_back(kBroadcastProfileIds[i]);
  }
  return ids;
}

std::uint32_t gop_frames(std::uint32_t frame_rate) noexcept { return clamp_to_uint32(std::uint64_t{2} * frame_rate); }

std::array<Rendition, 2> rendition_ladder(std::uint32_t width, std::uint32_t height,
                                          std::uint32_t frame_rate) noexcept {
  const std::uint32_t source_short = std::min(width, height);
  std::uint32_t quarter = 90;
  std::uint32_t half = 120;
  if (source_short >= 1080) {
    quarter = 360;
    half = 720;
  } else if (source_short >= 540) {
    quarter = 180;
    half = 360;
  } else if (source_short >= 360) {
    quarter = 180;
    half = 240;
  }
  return {make_rendition("q", quarter, 15, width, height, frame_rate),
          make_rendition("h", half, 30, width, height, frame_rate)};
}

}  // namespace corvane::helper
