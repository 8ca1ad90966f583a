#pragma once
// What the media engine needs from the machine besides GStreamer: a monotonic clock and a sleep (so
// tests can drive time), the Windows build number, the capture sources that exist now, and where the
// probe's diagnostic lines go.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "protocol/messages.h"

namespace corvane::helper {

class MediaMachine {
 public:
  using Clock = std::chrono::steady_clock;

  MediaMachine() = default;
  MediaMachine(const MediaMachine&) = delete;
  MediaMachine& operator=(const MediaMachine&) = delete;
  virtual ~MediaMachine() = default;

  // Monotonic time.
  virtual Clock::time_point now() = 0;
  // Waits; tests advance their clock instead.
  virtual void sleep_for(std::chrono::milliseconds duration) = 0;
  // The Windows build number (RtlGetVersion), or nothing when it cannot be read.
  virtual std::optional<std::uint32_t> windows_build() = 0;
  // One "[media-probe] …" diagnostic line, without its line feed.
  virtual void probe_log(std::string_view line) = 0;
  // The monitors and windows that can be captured now (a start confirms its source is among them).
  virtual Result<std::vector<protocol::CaptureSource>> capture_sources() = 0;
};

}  // namespace corvane::helper
