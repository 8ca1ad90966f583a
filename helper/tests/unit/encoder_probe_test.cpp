// Encoder probing and the capability report, against a scripted GStreamer and a driven clock.
#include "windows/media/encoder_probe.h"

#include <gtest/gtest.h>

#include "fake_gstreamer.h"

namespace corvane::helper {
namespace {

using corvane::testing::FakeGstreamer;
using corvane::testing::PipelineRule;
using Outcome = PipelineRule::Outcome;

// A machine whose time moves only when the code sleeps.
class DrivenMachine : public MediaMachine {
 public:
  Clock::time_point now() override { return time; }
  void sleep_for(std::chrono::milliseconds duration) override {
    time += duration;
    ++sleeps;
  }
  std::optional<std::uint32_t> windows_build() override { return build; }
  void probe_log(std::string_view line) override { log.emplace_back(line); }
  Result<std::vector<protocol::CaptureSource>> capture_sources() override { return sources; }
  Result<std::vector<protocol::CaptureSource>> sources = std::vector<protocol::CaptureSource>{};

  Clock::time_point time{};
  int sleeps = 0;
  std::optional<std::uint32_t> build = 19045;
  std::vector<std::string> log;
};

class EncoderProbing : public ::testing::Test {
 protected:
  void SetUp() override {
    gst_ = &FakeGstreamer::reset();
    gst_->factories = corvane::testing::common_factories();
  }

  BroadcastEngine& engine() {
    if (!engine_) {
      MediaRuntime runtime;
      runtime.symbols = gst_->table();
      engine_ = std::make_unique<BroadcastEngine>(std::move(runtime), machine_);
    }
    return *engine_;
  }

  void TearDown() override {
    engine_.reset();
    EXPECT_EQ(gst_->live_objects, 0) << "every pipeline, bus, message, factory and text was released";
  }

  FakeGstreamer* gst_ = nullptr;
  DrivenMachine machine_;
  std::unique_ptr<BroadcastEngine> engine_;
};

std::vector<std::string> allowed(std::initializer_list<const char*> ids) { return {ids.begin(), ids.end()}; }

TEST_F(EncoderProbing, OnlyTheSoftwareEncoderIsProbedAt540p30) {
  gst_->factories.insert("x264enc");
  const auto report = build_media_capabilities(engine());
  ASSERT_EQ(report.encoders.size(), 1u);
  EXPECT_EQ(report.encoders[0], (protocol::EncoderInfo{"x264enc", true, "software", "540p30", "constrained-vbr", ""}));
  EXPECT_TRUE(report.windows_graphics_capture_available);
  EXPECT_EQ(report.active_encoder, "x264enc");
  EXPECT_EQ(report.active_encoder_kind, "software");
  EXPECT_EQ(report.active_probe_profile, "540p30");
  EXPECT_EQ(report.allowed_profile_ids, allowed({"compat", "safe", "last-resort"}));
  EXPECT_EQ(report.usable_encoders, std::vector<std::string>{"x264enc"});
  ASSERT_EQ(gst_->launched.size(), 1u);
  EXPECT_EQ(gst_->launched[0],
            "videotestsrc is-live=true num-buffers=8 pattern=black ! videoconvert ! "
            "video/x-raw,format=I420,width=960,height=540,framerate=30/1 ! x264enc name=video_encoder bitrate=1300 "
            "pass=qual quantizer=24 tune=zerolatency speed-preset=veryfast key-int-max=60 bframes=0 ! h264parse ! "
            "video/x-h264,profile=constrained-baseline ! fakesink sync=false");
  EXPECT_EQ(machine_.log,
            (std::vector<std::string>{"[media-probe] start encoder=x264enc",
                                      "[media-probe] result encoder=x264enc usable=true profile=540p30"}));
}

TEST_F(EncoderProbing, AHardwareEncoderFallsToTheNextProfileAndLaterCandidatesAreNotProbed) {
  gst_->factories.insert({"nvd3d11h264enc", "qsvh264enc", "x264enc"});
  gst_->rules = {{"nvd3d11h264enc name=video_encoder bitrate=6000", Outcome::error, "no 1080p60 on this card", "", 0}};
  const auto report = build_media_capabilities(engine());
  ASSERT_EQ(report.encoders.size(), 1u) << "qsvh264enc and x264enc get no record";
  const auto& nvidia = report.encoders[0];
  EXPECT_TRUE(nvidia.usable);
  EXPECT_EQ(nvidia.probe_profile, "720p60");
  EXPECT_EQ(nvidia.rate_control, "constrained-vbr");
  EXPECT_EQ(nvidia.note, "1080p60: active encoder probe failed: no 1080p60 on this card");
  EXPECT_EQ(report.active_encoder_kind, "hardware");
  EXPECT_EQ(report.allowed_profile_ids, allowed({"gaming", "balanced", "compat", "safe", "last-resort"}));
  // 1080p60 quality and CBR, then 720p60 quality; the hardware path goes through Direct3D 11 memory.
  ASSERT_EQ(gst_->launched.size(), 3u);
  EXPECT_NE(gst_->launched[2].find("num-buffers=12 pattern=black ! videoconvert ! "
                                   "video/x-raw,format=BGRA,width=1280,height=720,framerate=60/1 ! d3d11upload ! "
                                   "d3d11convert ! video/x-raw(memory:D3D11Memory),format=NV12,width=1280,height=720,"
                                   "framerate=60/1 ! nvd3d11h264enc name=video_encoder bitrate=3200 max-bitrate=3200"),
            std::string::npos)
      << gst_->launched[2];
  EXPECT_NE(gst_->launched[2].find("video/x-h264,profile=high ! fakesink sync=false"), std::string::npos);
}

TEST_F(EncoderProbing, AConstantBitRateFallbackLeavesANoteOfTwoEntries) {
  gst_->factories.insert("amfh264enc");
  gst_->rules = {{"bitrate=6000", Outcome::error, "1080p60 refused", "", 0},
                 {"rate-control=lcvbr", Outcome::error, "no lcvbr", "", 0}};
  const auto report = build_media_capabilities(engine());
  ASSERT_EQ(report.encoders.size(), 1u);
  EXPECT_EQ(report.encoders[0], (protocol::EncoderInfo{"amfh264enc", true, "hardware", "720p60", "cbr-fallback",
                                                       "1080p60: active encoder probe failed: 1080p60 refused; "
                                                       "720p60: quality rate control unavailable: no lcvbr"}));
}

TEST_F(EncoderProbing, WithNothingUsableCaptureIsUnavailable) {
  gst_->factories.insert({"mfh264enc", "x264enc"});
  gst_->rules = {{"encoder", Outcome::error, "encoder broken", "", 0}};
  const auto report = build_media_capabilities(engine());
  ASSERT_EQ(report.encoders.size(), 2u);
  EXPECT_FALSE(report.encoders[0].usable);
  EXPECT_EQ(report.encoders[0].note,
            "1080p60: active encoder probe failed: encoder broken; 720p60: active encoder probe failed: encoder "
            "broken; 720p30: active encoder probe failed: encoder broken");
  EXPECT_EQ(report.encoders[1], (protocol::EncoderInfo{"x264enc", false, "software", "", "",
                                                       "540p30: active encoder probe failed: encoder broken"}));
  EXPECT_FALSE(report.windows_graphics_capture_available);
  EXPECT_EQ(report.unavailable_reasons.at("windowsGraphicsCapture"), "no supported H.264 encoder is available");
  EXPECT_TRUE(report.allowed_profile_ids.empty());
  EXPECT_EQ(report.active_encoder, "");
  EXPECT_EQ(report.active_probe_profile, "");
  EXPECT_EQ(machine_.log.back(), "[media-probe] result encoder=x264enc usable=false profile=");
}

TEST_F(EncoderProbing, OldWindowsBuildsHaveNoCaptureWhateverTheEncoders) {
  gst_->factories.insert("x264enc");
  machine_.build = 17133;
  const auto report = build_media_capabilities(engine());
  EXPECT_FALSE(report.windows_graphics_capture_available);
  EXPECT_EQ(report.unavailable_reasons.at("windowsGraphicsCapture"),
            "Windows Graphics Capture requires Windows 10 build 17134 or newer");
  EXPECT_TRUE(report.system_audio_available) << "10240 is enough for system audio";
  EXPECT_EQ(report.active_probe_profile, "") << "no profile without capture";
  EXPECT_EQ(report.active_encoder_kind, "software");
  EXPECT_TRUE(report.allowed_profile_ids.empty());
}

TEST_F(EncoderProbing, AnUnreadableBuildDisablesBothCapabilities) {
  gst_->factories.insert("x264enc");
  machine_.build.reset();
  const auto report = build_media_capabilities(engine());
  EXPECT_EQ(report.unavailable_reasons.at("windowsGraphicsCapture"),
            "Windows Graphics Capture requires Windows 10 build 17134 or newer");
  EXPECT_EQ(report.unavailable_reasons.at("systemAudio"), "WASAPI2 requires Windows 10");
}

TEST_F(EncoderProbing, MissingElementsAreNamedInTheirOrder) {
  gst_->factories.insert("x264enc");
  for (const char* gone : {"whipclientsink", "d3d11convert", "opusenc", "wasapi2src"}) {
    gst_->factories.erase(gone);
  }
  const auto report = build_media_capabilities(engine());
  EXPECT_EQ(report.unavailable_reasons.at("windowsGraphicsCapture"),
            "required GStreamer elements are missing: d3d11convert, whipclientsink");
  EXPECT_EQ(report.unavailable_reasons.at("systemAudio"),
            "required GStreamer elements are missing: wasapi2src, opusenc");
  EXPECT_EQ(report.usable_encoders, std::vector<std::string>{"x264enc"})
      << "probing does not need the capture elements";
}

TEST_F(EncoderProbing, ASecondRequestRunsNoProbe) {
  gst_->factories.insert("x264enc");
  const auto first = build_media_capabilities(engine());
  const auto launched = gst_->launched.size();
  const auto second = build_media_capabilities(engine());
  EXPECT_EQ(gst_->launched.size(), launched);
  EXPECT_EQ(second, first);
  EXPECT_EQ(machine_.log.size(), 2u);
}

TEST_F(EncoderProbing, WithoutARuntimeBothReasonsAreTheLoadFailure) {
  MediaRuntime missing;
  missing.runtime_error = "the bundled GStreamer runtime was not found beside the media helper";
  BroadcastEngine without(std::move(missing), machine_);
  const auto report = build_media_capabilities(without);
  EXPECT_TRUE(report.ok);
  EXPECT_TRUE(report.always_true);
  EXPECT_FALSE(report.windows_graphics_capture_available);
  EXPECT_FALSE(report.system_audio_available);
  EXPECT_EQ(report.unavailable_reasons,
            (std::map<std::string, std::string>{
                {"systemAudio", "the bundled GStreamer runtime was not found beside the media helper"},
                {"windowsGraphicsCapture", "the bundled GStreamer runtime was not found beside the media helper"}}));
  EXPECT_EQ(report.runtime_version, "");
  EXPECT_TRUE(report.encoders.empty());
  EXPECT_TRUE(without.probed);
  EXPECT_EQ(gst_->factory_lookups, 0);
}

TEST_F(EncoderProbing, TheReportCarriesTheRuntimeVersion) {
  gst_->factories.insert("x264enc");
  EXPECT_EQ(build_media_capabilities(engine()).runtime_version, "GStreamer 1.26.2");
}

// ---- one encoder probe ----

const ProbeProfile& profile(std::string_view id) {
  for (const auto& candidate : kProbeProfiles) {
    if (candidate.id == id) {
      return candidate;
    }
  }
  throw std::invalid_argument("no such probe profile");
}

TEST_F(EncoderProbing, AProbeThatNeverEndsTimesOutAfter900Milliseconds) {
  gst_->rules = {{"x264enc", Outcome::silent}};
  const auto start = machine_.time;
  const Status result = probe_encoder(gst_->table(), machine_, "x264enc", profile("540p30"), true);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "encoder probe timed out");
  EXPECT_EQ(machine_.time - start, std::chrono::milliseconds(900)) << "polled every 10 ms up to the budget";
  EXPECT_EQ(machine_.sleeps, 90);
  EXPECT_EQ(gst_->calls, (std::vector<std::string>{"set_state 4", "set_state 1"})) << "set to NULL at the end";
}

TEST_F(EncoderProbing, AProbeEndingJustInTimeSucceeds) {
  gst_->rules = {{"x264enc", Outcome::eos, "", "", 89}};
  EXPECT_TRUE(probe_encoder(gst_->table(), machine_, "x264enc", profile("540p30"), true));
}

TEST_F(EncoderProbing, ProbeFailuresKeepTheirTexts) {
  struct Case {
    PipelineRule rule;
    const char* expected;
  };
  const Case cases[] = {
      {{"x264enc", Outcome::parse_error, "no element \"x264enc\""}, "no element \"x264enc\""},
      {{"x264enc", Outcome::no_bus}, "encoder probe did not create a pipeline bus"},
      {{"x264enc", Outcome::refuses_playing}, "encoder probe could not enter PLAYING"},
      {{"x264enc", Outcome::error, "Internal data stream error.", "gstx264enc.c(123)"}, "Internal data stream error."},
  };
  for (const Case& c : cases) {
    gst_->rules = {c.rule};
    const Status result = probe_encoder(gst_->table(), machine_, "x264enc", profile("540p30"), false);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), c.expected);
  }
  const Status unknown = probe_encoder(gst_->table(), machine_, "X264ENC", profile("540p30"), false);
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error(), "selected video encoder is unsupported");
}

TEST_F(EncoderProbing, WithoutDirect3DUploadHardwareEncodersGetSystemMemoryNv12) {
  gst_->factories.erase("d3d11upload");
  ASSERT_TRUE(probe_encoder(gst_->table(), machine_, "qsvh264enc", profile("720p30"), false));
  ASSERT_EQ(gst_->launched.size(), 1u);
  EXPECT_EQ(gst_->launched[0],
            "videotestsrc is-live=true num-buffers=8 pattern=black ! videoconvert ! "
            "video/x-raw,format=NV12,width=1280,height=720,framerate=30/1 ! qsvh264enc name=video_encoder "
            "bitrate=2200 rate-control=cbr gop-size=60 b-frames=0 ! h264parse ! "
            "video/x-h264,profile=constrained-baseline ! fakesink sync=false");
}

// ---- the system-audio probe ----

TEST_F(EncoderProbing, SystemAudioPassesAfter250MillisecondsOfPlaying) {
  gst_->rules = {{"wasapi2src", Outcome::silent}};
  const auto start = machine_.time;
  ASSERT_TRUE(probe_system_audio(gst_->table(), machine_, false, 0));
  EXPECT_EQ(machine_.time - start, std::chrono::milliseconds(250));
  EXPECT_EQ(gst_->launched[0],
            "wasapi2src loopback=true low-latency=true num-buffers=4 ! audioconvert ! audioresample ! "
            "audio/x-raw,rate=48000,channels=2 ! fakesink sync=false async=false");
}

TEST_F(EncoderProbing, SystemAudioCanLeaveTheClientsProcessTreeOut) {
  ASSERT_TRUE(probe_system_audio(gst_->table(), machine_, true, 4242));
  EXPECT_EQ(gst_->launched[0].rfind("wasapi2src loopback=true low-latency=true loopback-mode=exclude-process-tree "
                                    "loopback-target-pid=4242 num-buffers=4 ! ",
                                    0),
            0u)
      << gst_->launched[0];
}

TEST_F(EncoderProbing, SystemAudioFailures) {
  struct Case {
    PipelineRule rule;
    const char* expected;
  };
  const Case cases[] = {
      {{"wasapi2src", Outcome::silent, "", "", 0, 2 /* READY */}, "system audio probe timed out"},
      {{"wasapi2src", Outcome::state_failure}, "system audio source failed during startup"},
      {{"wasapi2src", Outcome::error, "No device", "gstwasapi2src.cpp"}, "No device [component=system-audio]"},
      {{"wasapi2src", Outcome::no_bus}, "system audio probe did not create a pipeline bus"},
      {{"wasapi2src", Outcome::refuses_playing}, "system audio probe could not enter PLAYING"},
  };
  for (const Case& c : cases) {
    gst_->rules = {c.rule};
    const auto start = machine_.time;
    const Status result = probe_system_audio(gst_->table(), machine_, false, 0);
    ASSERT_FALSE(result) << c.expected;
    EXPECT_EQ(result.error(), c.expected);
    if (std::string_view(c.expected) == "system audio probe timed out") {
      EXPECT_EQ(machine_.time - start, std::chrono::milliseconds(2000));
    }
  }
}

}  // namespace
}  // namespace corvane::helper
