// GetMediaCapabilities through the real helper: without a runtime beside it, and with the stand-in
// runtime scripted as a machine whose only H.264 encoder is x264enc.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "helper_connection.h"
#include "standin_runtime.h"
#include "test_windows.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

std::optional<protocol::MediaCapabilities> capabilities(HelperConnection& connection) {
  const auto reply = connection.request(protocol::reply("caps", protocol::GetMediaCapabilities{}));
  if (!reply) {
    return std::nullopt;
  }
  const auto* report = std::get_if<protocol::MediaCapabilities>(&reply->payload);
  return report != nullptr ? std::optional(*report) : std::nullopt;
}

TEST(MediaCapabilities, WithoutARuntimeBothCapabilitiesNameTheMissingRuntime) {
  HelperConnection connection;  // the build directory holds no gstreamer\bin beside the helper
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto report = capabilities(connection);
  ASSERT_TRUE(report);
  EXPECT_TRUE(report->ok);
  EXPECT_TRUE(report->always_true);
  const std::string missing = "the bundled GStreamer runtime was not found beside the media helper";
  EXPECT_EQ(report->unavailable_reasons,
            (std::map<std::string, std::string>{{"systemAudio", missing}, {"windowsGraphicsCapture", missing}}));
  EXPECT_TRUE(report->encoders.empty());
  EXPECT_EQ(report->runtime_version, "");
  const ChildOutcome outcome = connection.finish();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.standard_error, "") << "nothing is probed without a runtime";
}

TEST_F(HelperWithStandInRuntime, AnX264OnlyMachineOffersSoftwareProfiles) {
  write_script({"version GStreamer 1.26.2", "factory x264enc", "factory d3d11screencapturesrc", "factory d3d11convert",
                "factory h264parse", "factory webrtcbin", "factory whipclientsink", "factory identity",
                "factory wasapi2src", "factory audioconvert", "factory audioresample", "factory opusenc",
                "bus x264enc -> eos"});
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto report = capabilities(connection);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->runtime_version, "GStreamer 1.26.2");
  ASSERT_EQ(report->encoders.size(), 1u);
  EXPECT_EQ(report->encoders[0], (protocol::EncoderInfo{"x264enc", true, "software", "540p30", "constrained-vbr", ""}));
  EXPECT_TRUE(report->windows_graphics_capture_available) << "Wine reports Windows 10 build 18362";
  EXPECT_TRUE(report->system_audio_available);
  EXPECT_TRUE(report->unavailable_reasons.empty());
  EXPECT_EQ(report->active_encoder, "x264enc");
  EXPECT_EQ(report->active_encoder_kind, "software");
  EXPECT_EQ(report->active_probe_profile, "540p30");
  EXPECT_EQ(report->allowed_profile_ids, (std::vector<std::string>{"compat", "safe", "last-resort"}));
  // A second request probes nothing: the diagnostics below appear once.
  ASSERT_TRUE(capabilities(connection));
  const ChildOutcome outcome = connection.finish();
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.standard_error,
            "[media-probe] start encoder=x264enc\n[media-probe] result encoder=x264enc usable=true profile=540p30\n");
}

TEST_F(HelperWithStandInRuntime, AnInitialisationFailureIsTheReasonForBoth) {
  write_script({"init fail the registry is broken"});
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto report = capabilities(connection);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->unavailable_reasons.at("windowsGraphicsCapture"), "the registry is broken");
  EXPECT_EQ(report->unavailable_reasons.at("systemAudio"), "the registry is broken");
  EXPECT_EQ(connection.finish().exit_code, 0u);
}

}  // namespace
}  // namespace corvane::testing
