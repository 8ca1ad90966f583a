#pragma once
// The single media and broadcast state of a session: the loaded runtime (or why it is missing), what
// encoder probing found, and the encoder in use.

#include <cstdint>
#include <string>
#include <vector>

#include "windows/media/media_platform.h"
#include "windows/media/runtime_symbols.h"

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

// Owned by the session from authentication to the end; dropping it unloads the runtime.
struct BroadcastEngine {
  BroadcastEngine(MediaRuntime loaded, MediaPlatform& host) : runtime(std::move(loaded)), platform(host) {}
  BroadcastEngine(const BroadcastEngine&) = delete;
  BroadcastEngine& operator=(const BroadcastEngine&) = delete;

  MediaRuntime runtime;
  MediaPlatform& platform;

  bool probed = false;
  std::vector<EncoderProbeRecord> probe_records;
  std::vector<UsableEncoder> usable_encoders;
  std::string active_encoder;
};

}  // namespace corvane::helper
