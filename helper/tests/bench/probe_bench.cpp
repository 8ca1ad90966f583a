// Figures only: GStreamer's load and initialisation time, and the real x264enc probe time per probe
// profile and rate-control mode, with Debian's GStreamer. scripts/bench probe runs it twice on one
// registry file: first fresh, then warm.
#include <chrono>
#include <cstdio>
#include <thread>

#include "gst/dl_loader.h"
#include "windows/media/encoder_probe.h"

namespace {

using namespace corvane::helper;
using Clock = std::chrono::steady_clock;

class RealTimeMachine : public MediaMachine {
 public:
  Clock::time_point now() override { return Clock::now(); }
  void sleep_for(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
  std::optional<std::uint32_t> windows_build() override { return 19045; }
  void probe_log(std::string_view /*line*/) override {}
  corvane::Result<std::vector<corvane::protocol::CaptureSource>> capture_sources() override {
    return std::vector<corvane::protocol::CaptureSource>{};
  }
};

double milliseconds_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
  const auto start = Clock::now();
  MediaRuntime runtime = gst_test::load_dl_runtime();
  if (!runtime.available()) {
    std::fprintf(stderr, "GStreamer did not load: %s\n", runtime.runtime_error.c_str());
    return 1;
  }
  std::printf("load and gst_init_check: %.1f ms\n", milliseconds_since(start));
  RealTimeMachine machine;
  for (const ProbeProfile& profile : kProbeProfiles) {
    for (const bool quality : {true, false}) {
      const auto probe_start = Clock::now();
      const corvane::Status result = probe_encoder(*runtime.symbols, machine, "x264enc", profile, quality);
      std::printf("x264enc %-7s %-7s %6.1f ms  %s\n", std::string(profile.id).c_str(), quality ? "quality" : "cbr",
                  milliseconds_since(probe_start), result ? "passed" : result.error().c_str());
    }
  }
  return 0;
}
