#pragma once
// The media engine's view of the real machine.

#include "platform/precise_wait.h"
#include "windows/media/media_machine.h"

namespace corvane::helper {

class WindowsMachine final : public MediaMachine {
 public:
  Clock::time_point now() override { return Clock::now(); }
  void sleep_for(std::chrono::milliseconds duration) override { wait_.wait(duration); }
  // RtlGetVersion, which (unlike GetVersionEx) is not subject to the compatibility manifest.
  std::optional<std::uint32_t> windows_build() override;
  // Probe diagnostics go to standard error.
  void probe_log(std::string_view line) override;
  Result<std::vector<protocol::CaptureSource>> capture_sources() override;

 private:
  PreciseWait wait_;
};

}  // namespace corvane::helper
