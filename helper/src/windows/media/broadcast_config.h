#pragma once
// What a broadcast runs: the encoders probing found and the configuration of one broadcast.

#include <cstdint>
#include <string>

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

}  // namespace corvane::helper
