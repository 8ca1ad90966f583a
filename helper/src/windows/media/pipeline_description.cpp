#include "windows/media/pipeline_description.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <vector>

#include "common/unicode.h"
#include "common/unicode_lower.h"
#include "windows/capture/capture_sources.h"
#include "windows/media/video_profiles.h"

namespace corvane::helper {
namespace {

constexpr std::string_view kHttpsPrefix = "https://";
constexpr std::array<std::string_view, 3> kLoopbackOrigins = {"http://localhost", "http://127.0.0.1", "http://[::1]"};
constexpr std::string_view kLoopbackDevelopmentPrefix = "http://127.0.0.1:";

constexpr std::string_view kEncoderName = "name=video_encoder";
constexpr std::string_view kNoStunServer = " stun-server=\"\"";
constexpr std::string_view kRedactedEndpoint = "[redacted-whip-endpoint]";
constexpr std::string_view kRedactedKey = "[redacted]";

bool has_white_space(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    // An ill-formed byte decodes to U+FFFD, which is not white space, and only that byte is skipped.
    if (is_unicode_white_space(next_code_point(text, pos))) {
      return true;
    }
  }
  return false;
}

bool stream_key_byte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Every occurrence of `pattern` in `text` replaced by `replacement`, searching on after each replacement
// (so a replacement that contains the pattern is not searched again). An empty pattern replaces nothing.
std::string replace_all(std::string_view text, std::string_view pattern, std::string_view replacement) {
  if (pattern.empty()) {
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at = text.find(pattern); at != std::string_view::npos; at = text.find(pattern, from)) {
    out.append(text.substr(from, at - from));
    out.append(replacement);
    from = at + pattern.size();
  }
  out.append(text.substr(from));
  return out;
}

std::string raw_video_caps(std::string_view prefix, std::uint32_t width, std::uint32_t height,
                           std::uint32_t frame_rate) {
  return std::string(prefix) + ",width=" + std::to_string(width) + ",height=" + std::to_string(height) +
         ",framerate=" + std::to_string(frame_rate) + "/1";
}

std::string system_memory_caps(std::uint32_t width, std::uint32_t height, std::uint32_t frame_rate) {
  return raw_video_caps("video/x-raw,format=I420", width, height, frame_rate);
}

std::string direct3d_memory_caps(std::uint32_t width, std::uint32_t height, std::uint32_t frame_rate) {
  return raw_video_caps("video/x-raw(memory:D3D11Memory),format=NV12", width, height, frame_rate);
}

std::string size_query(std::uint32_t width, std::uint32_t height) {
  return "?width=" + std::to_string(width) + "&height=" + std::to_string(height);
}

std::string h264_caps(std::string_view profile) {
  return "video/x-h264,stream-format=byte-stream,alignment=au,profile=" + std::string(profile);
}

// One lower rendition fed from the tee named "captured", with its own WHIP sink.
Result<std::string> rendition_segment(const Rendition& rendition, bool software, std::string_view encoder, bool quality,
                                      std::string_view endpoint, std::uint32_t width, std::uint32_t height) {
  const std::string conversion =
      software ? "d3d11download ! videoconvert ! videoscale ! videorate drop-only=true ! " +
                     system_memory_caps(rendition.width, rendition.height, rendition.frame_rate)
               : "videorate drop-only=true ! d3d11convert ! " +
                     direct3d_memory_caps(rendition.width, rendition.height, rendition.frame_rate);
  const auto encoder_text =
      build_encoder_description(encoder, rendition.bitrate_kbps, gop_frames(rendition.frame_rate), quality);
  if (!encoder_text) {
    return fail(encoder_text.error());
  }
  const std::string label(rendition.label);
  const std::string sink = "whip_" + label;
  const std::string rendition_endpoint = std::string(endpoint) + "/" + label + size_query(width, height);
  return "captured. ! queue max-size-buffers=3 leaky=downstream ! " + conversion + " ! " +
         replace_all(*encoder_text, kEncoderName, std::string(kEncoderName) + "_" + label) +
         " ! h264parse config-interval=-1 ! " + h264_caps(h264_profile_for(encoder, quality)) +
         " ! queue max-size-buffers=8 leaky=downstream ! " + sink + ".video_0 whipclientsink name=" + sink +
         " signaller::whip-endpoint=" + quote_description_value(rendition_endpoint) + " video-caps=video/x-h264" +
         std::string(kNoStunServer) + " congestion-control=disabled do-fec=false max-bitrate=" +
         std::to_string(bits_per_second(rendition.bitrate_kbps));
}

// The audio segments (none, one, or the mixer and its two sources) of `config`.
std::vector<std::string> audio_segments(const BroadcastConfig& config, std::uint32_t excluded_process_id) {
  std::vector<std::string> sources;
  if (config.system_audio) {
    sources.push_back(system_audio_source(config.exclude_app_audio, excluded_process_id));
  }
  if (!config.microphone_device_id.empty()) {
    sources.push_back("wasapi2src low-latency=true device=" + quote_description_value(config.microphone_device_id));
  }
  const std::string tail =
      "audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2 ! opusenc name=audio_encoder bitrate=" +
      std::to_string(bits_per_second(config.audio_bitrate_kbps)) +
      " inband-fec=true dtx=true frame-size=20 ! audio/x-opus,channel-mapping-family=0 ! "
      "queue max-size-buffers=16 leaky=downstream ! whip.audio_0";
  if (sources.empty()) {
    return {};
  }
  if (sources.size() == 1) {
    return {sources.front() + " ! queue ! " + tail};
  }
  std::vector<std::string> segments = {"audiomixer name=mix latency=10000000 ! " + tail};
  std::transform(sources.begin(), sources.end(), std::back_inserter(segments),
                 [](const std::string& source) { return source + " ! queue ! mix."; });
  return segments;
}

}  // namespace

bool whip_url_acceptable(std::string_view url) {
  if (url.empty() || url.size() > kMaxWhipUrlBytes || has_white_space(url)) {
    return false;
  }
  if (url.starts_with(kHttpsPrefix)) {
    return url.size() > kHttpsPrefix.size() && url[kHttpsPrefix.size()] != '/';
  }
  return std::any_of(kLoopbackOrigins.begin(), kLoopbackOrigins.end(), [url](std::string_view origin) {
    if (!url.starts_with(origin)) {
      return false;
    }
    return url.size() == origin.size() || url[origin.size()] == '/' || url[origin.size()] == ':';
  });
}

bool stream_key_acceptable(std::string_view key) {
  return key.size() >= kMinStreamKeyBytes && key.size() <= kMaxStreamKeyBytes &&
         std::all_of(key.begin(), key.end(), stream_key_byte);
}

std::string quote_description_value(std::string_view value) {
  return "\"" + replace_all(replace_all(value, "\\", "\\\\"), "\"", "\\\"") + "\"";
}

std::string whip_endpoint(std::string_view url, std::string_view key) {
  const std::size_t last = url.find_last_not_of('/');
  const std::string_view base = last == std::string_view::npos ? std::string_view() : url.substr(0, last + 1);
  return std::string(base) + "/" + std::string(key);
}

bool loopback_development_mode(std::string_view endpoint) {
  return endpoint.size() >= kLoopbackDevelopmentPrefix.size() && endpoint.starts_with(kLoopbackDevelopmentPrefix);
}

std::string system_audio_source(bool exclude_app_audio, std::uint32_t excluded_process_id) {
  std::string source = "wasapi2src loopback=true low-latency=true";
  if (exclude_app_audio) {
    source += " loopback-mode=exclude-process-tree loopback-target-pid=" + std::to_string(excluded_process_id);
  }
  return source;
}

std::uint32_t bits_per_second(std::uint32_t kbps) noexcept {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{kbps} * 1000, kMax));
}

Result<std::string> build_broadcast_description(const BroadcastConfig& config, std::string_view capture_api,
                                                std::uint32_t excluded_process_id, const UsableEncoder& encoder) {
  if (!whip_url_acceptable(config.whip_url) || !stream_key_acceptable(config.stream_key)) {
    return fail(std::string(kInvalidWhipCredentialsMessage));
  }
  const std::string endpoint = whip_endpoint(config.whip_url, config.stream_key);
  const auto target = capture_target_fragment(config.capture_source_id);
  if (!target) {
    return fail(target.error());
  }

  const EncoderCandidate* candidate = find_encoder_candidate(encoder.name);
  if (candidate == nullptr) {
    return fail(std::string(kUnsupportedEncoderMessage));
  }
  // Software encoders take I420 frames in system memory, hardware ones NV12 frames in Direct3D 11 memory.
  const bool software = candidate->kind == kSoftwareEncoder;
  const std::string conversion =
      software ? "d3d11download ! videoconvert ! videoscale ! " +
                     system_memory_caps(config.width, config.height, config.frame_rate)
               : "d3d11convert ! " + direct3d_memory_caps(config.width, config.height, config.frame_rate);

  const bool quality = uses_quality_mode(encoder.rate_control);
  const auto encoder_text =
      build_encoder_description(encoder.name, config.video_bitrate_kbps, gop_frames(config.frame_rate), quality);
  if (!encoder_text) {
    return fail(encoder_text.error());
  }
  const std::string_view h264_profile = h264_profile_for(encoder.name, quality);
  const bool loopback = loopback_development_mode(endpoint);

  std::vector<std::string> segments;
  std::string main = "d3d11screencapturesrc capture-api=" + std::string(capture_api) + " show-cursor=true " + *target;
  if (loopback) {
    main += " ! tee name=captured captured.";
  }
  main += " ! queue max-size-buffers=3 leaky=downstream ! " + conversion +
          " ! identity name=raw_telemetry signal-handoffs=true silent=true ! " + *encoder_text +
          " ! h264parse config-interval=-1 ! identity name=encoded_telemetry signal-handoffs=true silent=true ! " +
          h264_caps(h264_profile) + " ! queue max-size-buffers=8 leaky=downstream ! whip.video_0";
  segments.push_back(std::move(main));

  if (loopback) {
    for (const Rendition& rendition : rendition_ladder(config.width, config.height, config.frame_rate)) {
      auto segment =
          rendition_segment(rendition, software, encoder.name, quality, endpoint, config.width, config.height);
      if (!segment) {
        return fail(segment.error());
      }
      segments.push_back(std::move(*segment));
    }
  }

  std::vector<std::string> audio = audio_segments(config, excluded_process_id);
  segments.insert(segments.end(), std::make_move_iterator(audio.begin()), std::make_move_iterator(audio.end()));

  const std::string sink_endpoint = loopback ? endpoint + size_query(config.width, config.height) : endpoint;
  std::string sink = "whipclientsink name=whip signaller::whip-endpoint=" + quote_description_value(sink_endpoint) +
                     " video-caps=video/x-h264 audio-caps=audio/x-opus congestion-control=disabled do-fec=false "
                     "max-bitrate=" +
                     std::to_string(bits_per_second(config.video_bitrate_kbps));
  if (loopback) {
    sink += kNoStunServer;
  }
  segments.push_back(std::move(sink));

  std::string description;
  for (const std::string& segment : segments) {
    if (!description.empty()) {
      description += ' ';
    }
    description += segment;
  }
  return description;
}

std::string redact_secrets(std::string_view text, std::string_view endpoint, std::string_view stream_key) {
  // The endpoint's occurrences split the text into pieces; only the pieces are searched for the key,
  // so neither an inserted marker nor a key inside a redacted endpoint is rewritten.
  const auto redact_key = [stream_key](std::string_view piece) { return replace_all(piece, stream_key, kRedactedKey); };
  if (endpoint.empty()) {
    return redact_key(text);
  }
  std::string out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at = text.find(endpoint); at != std::string_view::npos; at = text.find(endpoint, from)) {
    out += redact_key(text.substr(from, at - from));
    out += kRedactedEndpoint;
    from = at + endpoint.size();
  }
  out += redact_key(text.substr(from));
  return out;
}

std::string redact_broadcast_secrets(const BroadcastConfig& config, std::string_view text) {
  return redact_secrets(text, whip_endpoint(config.whip_url, config.stream_key), config.stream_key);
}

}  // namespace corvane::helper
