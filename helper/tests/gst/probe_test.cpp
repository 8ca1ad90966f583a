// The encoder probe against Debian's real GStreamer: x264enc passes at 540p30 in both rate-control
// modes, and a probe whose encoder does not exist fails with GStreamer's own text.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "gst/dl_runtime.h"
#include "windows/media/encoder_probe.h"

namespace corvane::helper {
namespace {

// Real 10 ms pauses, but a budget counted in polls: a busy machine slows the encoder and the polls
// alike, so the probe's outcome does not depend on the machine's load.
class PollCountingMachine : public MediaMachine {
 public:
  Clock::time_point now() override { return start_ + polled_; }
  void sleep_for(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
    polled_ += duration;
  }
  std::optional<std::uint32_t> windows_build() override { return 19045; }
  void probe_log(std::string_view line) override { log.emplace_back(line); }
  Result<std::vector<protocol::CaptureSource>> capture_sources() override { return sources; }
  Result<std::vector<protocol::CaptureSource>> sources = std::vector<protocol::CaptureSource>{};

  std::vector<std::string> log;

 private:
  Clock::time_point start_ = Clock::now();
  std::chrono::milliseconds polled_{0};
};

const ProbeProfile& probe_profile(std::string_view id) {
  for (const auto& profile : kProbeProfiles) {
    if (profile.id == id) {
      return profile;
    }
  }
  throw std::invalid_argument("no such probe profile");
}

class RealEncoderProbe : public gst_test::GstTest {};

TEST_F(RealEncoderProbe, X264PassesAt540p30InBothModes) {
  PollCountingMachine machine;
  for (const bool quality : {true, false}) {
    const Status result = probe_encoder(gst(), machine, "x264enc", probe_profile("540p30"), quality);
    EXPECT_TRUE(result) << (quality ? "quality: " : "cbr: ") << result.error();
  }
}

TEST_F(RealEncoderProbe, AMissingEncoderFailsWithGStreamersText) {
  PollCountingMachine machine;
  const Status result = probe_encoder(gst(), machine, "nvd3d11h264enc", probe_profile("1080p60"), true);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "no element \"nvd3d11h264enc\"");
}

TEST_F(RealEncoderProbe, ProbingTheCatalogueFindsX264) {
  PollCountingMachine machine;
  MediaRuntime borrowed;
  borrowed.symbols = gst();  // the libraries stay with the shared runtime
  BroadcastEngine engine(std::move(borrowed), machine);
  const auto report = build_media_capabilities(engine);
  ASSERT_EQ(report.encoders.size(), 1u) << "the other encoders do not exist on this machine";
  EXPECT_EQ(report.encoders[0], (protocol::EncoderInfo{"x264enc", true, "software", "540p30", "constrained-vbr", ""}));
  EXPECT_EQ(report.unavailable_reasons.at("windowsGraphicsCapture"),
            "required GStreamer elements are missing: d3d11screencapturesrc, d3d11convert, whipclientsink");
  EXPECT_EQ(report.unavailable_reasons.at("systemAudio"), "required GStreamer elements are missing: wasapi2src");
  EXPECT_EQ(report.runtime_version.rfind("GStreamer 1.", 0), 0u);
}

}  // namespace
}  // namespace corvane::helper
