// The broadcast engine against a scripted GStreamer and a driven clock: start and its failures in
// order, supervision (statistics, missing frames, recovery), stop and live profile changes.
#include "windows/media/broadcast_engine.h"

#include <gtest/gtest.h>

#include "fake_gstreamer.h"
#include "windows/media/encoder_probe.h"

namespace corvane::helper {
namespace {

using corvane::testing::FakeGstreamer;
using corvane::testing::PipelineRule;
using Outcome = PipelineRule::Outcome;
using namespace std::chrono_literals;

class DrivenMachine : public MediaMachine {
 public:
  Clock::time_point now() override { return time; }
  void sleep_for(std::chrono::milliseconds duration) override { time += duration; }
  std::optional<std::uint32_t> windows_build() override { return build; }
  void probe_log(std::string_view /*line*/) override {}
  Result<std::vector<protocol::CaptureSource>> capture_sources() override { return sources; }

  Clock::time_point time{};
  std::optional<std::uint32_t> build = 22631;
  Result<std::vector<protocol::CaptureSource>> sources =
      std::vector<protocol::CaptureSource>{{"monitor:65537", "monitor", "m", ""}, {"window:42", "window", "w", ""}};
};

protocol::StartBroadcast request() {
  protocol::StartBroadcast start;
  start.capture_source_id = "monitor:65537";
  start.whip_url = "https://live.example.com/whip";
  start.stream_key = "key_0123456789";
  start.width = 960;
  start.height = 540;
  start.frame_rate = 30;
  start.video_bitrate_kbps = 1300;
  start.profile_id = "compat";
  return start;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    gst_ = &FakeGstreamer::reset();
    gst_->factories = corvane::testing::common_factories();
    gst_->factories.insert({"x264enc", "audiomixer"});
    // Probes end at once; the broadcast pipelines run silently unless a test says otherwise.
    gst_->rules = {{"d3d11screencapturesrc", Outcome::silent}};
    MediaRuntime runtime;
    runtime.symbols = gst_->table();
    engine_ = std::make_unique<BroadcastEngine>(std::move(runtime), machine_);
  }
  void TearDown() override {
    engine_.reset();
    EXPECT_EQ(gst_->live_objects, 0) << "everything handed out was released";
  }

  // Rules that take precedence over the default silent broadcast.
  void script(std::vector<PipelineRule> rules) {
    rules.insert(rules.end(), gst_->rules.begin(), gst_->rules.end());
    gst_->rules = std::move(rules);
  }

  std::string start_error(const protocol::StartBroadcast& start) {
    auto started = start_broadcast(*engine_, start, 4242);
    return started ? std::string("(started)") : started.error();
  }

  // Frames through both counters of the running pipeline, handed over by its streaming threads.
  void frames(int count) {
    for (int i = 0; i < count; ++i) {
      gst_->frames("raw_telemetry", 1);
      gst_->frames("encoded_telemetry", 1);
    }
  }

  // Supervision steps 100 ms apart until one yields something, for at most `limit` of driven time.
  SupervisionEvent next_event(std::chrono::milliseconds limit = 30s) {
    for (auto waited = 0ms; waited <= limit; waited += 100ms) {
      SupervisionEvent event = supervise_broadcast(*engine_);
      if (!std::holds_alternative<std::monostate>(event)) {
        return event;
      }
      machine_.time += 100ms;
    }
    return {};
  }

  // The running pipeline's element and configuration, or nothing.
  GstElement* pipeline() const { return engine_->running ? engine_->running->element() : nullptr; }
  const BroadcastConfig* config() const { return engine_->running ? &engine_->running->config() : nullptr; }

  std::size_t launches_containing(std::string_view text) const {
    return static_cast<std::size_t>(std::count_if(gst_->launched.begin(), gst_->launched.end(),
                                                  [&](const auto& d) { return d.find(text) != std::string::npos; }));
  }

  FakeGstreamer* gst_ = nullptr;
  DrivenMachine machine_;
  std::unique_ptr<BroadcastEngine> engine_;
};

protocol::UpdateBroadcastProfile update(std::uint32_t width, std::uint32_t height, std::uint32_t fps,
                                        std::uint32_t video_kbps);

// ---- start ----

TEST_F(Engine, AStartRunsTheBroadcastAndStoresItsConfiguration) {
  auto start = request();
  start.profile_id = "";
  start.width = 640;
  start.height = 360;
  start.frame_rate = 24;
  auto started = start_broadcast(*engine_, start, 4242);
  ASSERT_TRUE(started) << started.error();
  EXPECT_EQ(started->encoder, "x264enc");
  EXPECT_FALSE(started->system_audio_active);
  ASSERT_TRUE(config());
  EXPECT_EQ(config()->profile_id, "last-resort");
  EXPECT_TRUE(config()->auto_profile);
  EXPECT_EQ(config()->audio_bitrate_kbps, 96u);
  EXPECT_EQ(engine_->capture_api, "dxgi");
  EXPECT_EQ(engine_->client_process_id, 4242u);
  EXPECT_NE(pipeline(), nullptr);
  EXPECT_EQ(launches_containing("d3d11screencapturesrc capture-api=dxgi show-cursor=true monitor-handle=65537"), 1u);
  EXPECT_EQ(start_error(request()), "a broadcast is already active");
  EXPECT_EQ(launches_containing("d3d11screencapturesrc"), 1u) << "the running broadcast was left alone";
}

TEST_F(Engine, DerivedProfilesFollowWidthAndFrameRate) {
  engine_->usable_encoders = {{"nvd3d11h264enc", "hardware", "1080p60", "constrained-vbr"}};
  engine_->probed = true;
  struct Case {
    std::uint32_t width, height, fps;
    const char* profile;
  };
  for (const Case c : {Case{1280, 720, 30, "balanced"}, Case{1920, 1080, 60, "quality"}, Case{1919, 1080, 60, "gaming"},
                       Case{640, 360, 24, "last-resort"}}) {
    auto start = request();
    start.profile_id = "";
    start.width = c.width;
    start.height = c.height;
    start.frame_rate = c.fps;
    start.video_bitrate_kbps = 6000;
    ASSERT_EQ(start_error(start), "(started)") << c.profile;
    EXPECT_EQ(config()->profile_id, c.profile);
    stop_broadcast(*engine_);
  }
}

TEST_F(Engine, StartFailuresComeInTheirOrder) {
  auto start = request();
  start.audio_bitrate_kbps = 63;
  EXPECT_EQ(start_error(start), "video profile is outside the supported launch range");
  start = request();
  start.profile_id = "ultra";
  EXPECT_EQ(start_error(start), "video profile ID is unsupported");
  start = request();
  start.width = 1280;
  start.height = 720;
  EXPECT_EQ(start_error(start), "software encoding is capped at 540p30");
  start = request();
  start.whip_url = "http://192.168.1.5/whip";
  EXPECT_EQ(start_error(start), "WHIP URL must use HTTPS (HTTP is allowed only for loopback development)");
  start = request();
  start.stream_key = "key.0123456";
  EXPECT_EQ(start_error(start), "LiveKit WHIP stream key is invalid");
  start = request();
  for (const char* control : {"mic\x01", "mic\x7F"}) {
    start.microphone_device_id = control;
    EXPECT_EQ(start_error(start), "microphone device ID is invalid");
  }
  start = request();
  start.capture_source_id = "window:7";  // parses, but no such window any more
  EXPECT_EQ(start_error(start), "the selected capture source no longer exists");
  machine_.sources = fail("Access is denied. (os error 5)");
  EXPECT_EQ(start_error(request()), "the selected capture source no longer exists");
  EXPECT_EQ(launches_containing("d3d11screencapturesrc"), 0u) << "nothing was launched";
  EXPECT_FALSE(config());
}

TEST_F(Engine, WithoutTheRuntimeTheStartGivesTheLoadFailure) {
  MediaRuntime missing;
  missing.runtime_error = "the bundled GStreamer runtime was not found beside the media helper";
  BroadcastEngine without(std::move(missing), machine_);
  auto started = start_broadcast(without, request(), 1);
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error(), "the bundled GStreamer runtime was not found beside the media helper");
}

TEST_F(Engine, NoUsableEncoderMeansNoCapture) {
  script({{"x264enc", Outcome::error, "broken"}});
  EXPECT_EQ(start_error(request()), "no supported H.264 encoder is available");
}

TEST_F(Engine, SystemAudioDecisions) {
  auto start = request();
  start.system_audio = true;
  gst_->factories.erase("wasapi2src");
  EXPECT_EQ(start_error(start), "required GStreamer elements are missing: wasapi2src");
  gst_->factories.insert("wasapi2src");

  script({{"wasapi2src loopback=true low-latency=true num-buffers", Outcome::error, "No device"}});
  EXPECT_EQ(start_error(start), "system audio capture is unavailable: No device");
  gst_->rules.erase(gst_->rules.begin());

  start.exclude_app_audio = true;
  machine_.build = 19045;
  EXPECT_EQ(start_error(start), "excluding the app audio requires Windows build 20348 or newer");
  machine_.build = 20348;
  auto started = start_broadcast(*engine_, start, 4242);
  ASSERT_TRUE(started) << started.error();
  EXPECT_TRUE(started->system_audio_active);
  EXPECT_EQ(launches_containing("loopback-mode=exclude-process-tree loopback-target-pid=4242 ! queue ! audioconvert"),
            1u);
}

TEST_F(Engine, AFailedExclusionProbeDropsSystemAudioAndSaysSoOnce) {
  script({{"loopback-target-pid=4242 num-buffers=4", Outcome::error, "exclusion unsupported"}});
  gst_->factories.erase("audiomixer");  // not needed once system audio is dropped
  auto start = request();
  start.system_audio = true;
  start.exclude_app_audio = true;
  start.microphone_device_id = "{mic}";
  auto started = start_broadcast(*engine_, start, 4242);
  ASSERT_TRUE(started) << started.error();
  EXPECT_FALSE(started->system_audio_active);
  EXPECT_FALSE(config()->system_audio);
  EXPECT_EQ(launches_containing("wasapi2src low-latency=true device=\"{mic}\" ! queue ! audioconvert"), 1u);
  machine_.time += 2s;
  frames(60);
  auto first = supervise_broadcast(*engine_);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastStats>(first));
  EXPECT_EQ(std::get<protocol::BroadcastStats>(first).recovery_reason, "system-audio-unavailable");
  machine_.time += 2s;
  frames(60);
  auto second = supervise_broadcast(*engine_);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastStats>(second));
  EXPECT_EQ(std::get<protocol::BroadcastStats>(second).recovery_reason, "none");
}

TEST_F(Engine, MicrophoneWithSystemAudioNeedsTheMixer) {
  gst_->factories.erase("audiomixer");
  auto start = request();
  start.system_audio = true;
  start.microphone_device_id = "{mic}";
  EXPECT_EQ(start_error(start), "the GStreamer audiomixer element is required to combine microphone and system audio");
}

TEST_F(Engine, ALaunchErrorHidesTheEndpointAndTheKey) {
  script({{"d3d11screencapturesrc", Outcome::parse_error,
           "could not reach https://live.example.com/whip/key_0123456789 (key key_0123456789)"}});
  EXPECT_EQ(start_error(request()), "could not reach [redacted-whip-endpoint] (key [redacted])");
  EXPECT_FALSE(config());
  EXPECT_EQ(pipeline(), nullptr);
}

TEST_F(Engine, APipelineThatCannotBeCountedOrRefusesToPlayIsReleased) {
  script({{"d3d11screencapturesrc", Outcome::refuses_playing}});
  EXPECT_EQ(start_error(request()), "GStreamer could not start the capture pipeline");
  EXPECT_FALSE(engine_->running);
  script({{"d3d11screencapturesrc", Outcome::nameless}});
  EXPECT_EQ(start_error(request()), "media telemetry element raw_telemetry was not created");
  EXPECT_EQ(pipeline(), nullptr);  // and the fixture sees pipeline and bus released
}

TEST_F(Engine, ThePipelineIsStoppedBeforeItsCountersGoAndNeverReplacedWhileItRuns) {
  ASSERT_EQ(start_error(request()), "(started)");
  GstElement* running = pipeline();
  auto again = start_pipeline(*engine_, *config(), 4242, engine_->usable_encoders.front());
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error(), "a media pipeline is already running");
  EXPECT_EQ(pipeline(), running);
  EXPECT_EQ(launches_containing("d3d11screencapturesrc"), 1u);
  // Stopping hands the counters one last frame per handler (the sanitizers see a write into freed counters).
  stop_broadcast(*engine_);
  EXPECT_EQ(gst_->frames_while_stopping, 2);
  EXPECT_FALSE(engine_->running);
}

// ---- statistics ----

TEST_F(Engine, StatisticsEveryTwoSecondsFromTheCounters) {
  ASSERT_EQ(start_error(request()), "(started)");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(supervise_broadcast(*engine_))) << "not due yet";
  machine_.time += 2s;
  frames(50);
  gst_->frames("raw_telemetry", 10);  // ten frames the encoder dropped
  const auto event = supervise_broadcast(*engine_);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastStats>(event));
  const auto& stats = std::get<protocol::BroadcastStats>(event);
  EXPECT_DOUBLE_EQ(stats.frames_per_second, 25.0);
  EXPECT_EQ(stats.bitrate_bps, 50u * 1000u * 8u / 2u);
  EXPECT_EQ(stats.dropped_frames, 10u);
  EXPECT_EQ(stats.encoder, "x264enc");
  EXPECT_EQ(stats.encoder_kind, "software");
  EXPECT_EQ(stats.profile_id, "compat");
  EXPECT_EQ(stats.recovery_reason, "none");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(supervise_broadcast(*engine_))) << "the next one is 2 s away";
  machine_.time += 2s;
  frames(40);
  const auto next = supervise_broadcast(*engine_);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastStats>(next));
  EXPECT_DOUBLE_EQ(std::get<protocol::BroadcastStats>(next).frames_per_second, 20.0) << "over the last 2 s only";
  EXPECT_EQ(std::get<protocol::BroadcastStats>(next).dropped_frames, 0u) << "every raw frame was encoded";
}

TEST_F(Engine, StatisticsWithoutEncodedFramesReportZerosAndTheRawFramesAsDropped) {
  ASSERT_EQ(start_error(request()), "(started)");
  machine_.time += 2s;
  gst_->frames("raw_telemetry", 7);
  const auto stats = std::get<protocol::BroadcastStats>(supervise_broadcast(*engine_));
  EXPECT_EQ(stats.frames_per_second, 0.0);
  EXPECT_EQ(stats.bitrate_bps, 0u);
  EXPECT_EQ(stats.average_latency_ms, 0.0);
  EXPECT_EQ(stats.dropped_frames, 7u);
}

// ---- missing frames ----

TEST_F(Engine, ACaptureWithoutFramesSwitchesTheCaptureApiAfterTwelveSeconds) {
  ASSERT_EQ(start_error(request()), "(started)");
  std::vector<std::chrono::milliseconds> stats_at;
  const auto start = machine_.time;
  SupervisionEvent event;
  for (;;) {
    event = next_event();
    if (!std::holds_alternative<protocol::BroadcastStats>(event)) {
      break;
    }
    EXPECT_EQ(std::get<protocol::BroadcastStats>(event).frames_per_second, 0.0);
    stats_at.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(machine_.time - start));
    machine_.time += 100ms;
  }
  EXPECT_EQ(stats_at, (std::vector<std::chrono::milliseconds>{2000ms, 4000ms, 6000ms, 8000ms, 10000ms}));
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event), (protocol::BroadcastRecovery{"screen-capture", "wgc", true}));
  EXPECT_EQ(engine_->capture_api, "wgc");
  EXPECT_EQ(launches_containing("capture-api=wgc"), 1u);

  // Statistics resume 2 s after the restart, reporting the fallback once.
  machine_.time += 100ms;
  event = next_event();
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastStats>(event));
  EXPECT_EQ(std::get<protocol::BroadcastStats>(event).recovery_reason, "screen-capture-fallback");
  machine_.time += 100ms;
  event = next_event();
  EXPECT_EQ(std::get<protocol::BroadcastStats>(event).recovery_reason, "none");

  // A second time without frames: no second switch, and no later encoder to try.
  do {
    machine_.time += 100ms;
    event = next_event();
  } while (std::holds_alternative<protocol::BroadcastStats>(event));
  ASSERT_TRUE(std::holds_alternative<BroadcastFailed>(event));
  EXPECT_EQ(std::get<BroadcastFailed>(event).message,
            "the media device failed and no fallback encoder recovered it: video encoder produced no frames");
  EXPECT_FALSE(config());
  EXPECT_EQ(pipeline(), nullptr);
}

TEST_F(Engine, OneLateSlowSampleIsNotYetMissingFrames) {
  ASSERT_EQ(start_error(request()), "(started)");
  machine_.time += 13s;  // supervision looks for the first time past the window
  const auto first = supervise_broadcast(*engine_);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastStats>(first)) << "one slow sample is not yet a pattern";
  machine_.time += 2s;
  const auto second = supervise_broadcast(*engine_);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(second));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(second).component, "screen-capture");
}

TEST_F(Engine, ARawFrameAloneShowsTheCaptureWorks) {
  script({{"capture-api=dxgi", Outcome::error, "Connection to the server was lost", "", 1}});
  ASSERT_EQ(start_error(request()), "(started)");
  gst_->frames("raw_telemetry", 1);  // captured, never encoded
  const auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event), (protocol::BroadcastRecovery{"network", "whip", true}));
  EXPECT_FALSE(engine_->capture_fallback_used);
}

TEST_F(Engine, AnErrorBeforeTheFirstFrameSwitchesTheCaptureApiAtOnce) {
  script({{"capture-api=dxgi", Outcome::error, "Failed to connect to the WHIP server", "", 3}});
  ASSERT_EQ(start_error(request()), "(started)");
  const auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event).component, "screen-capture");
  EXPECT_EQ(engine_->whip_reconnects, 0u) << "not a reconnect";
}

TEST_F(Engine, AFailedCaptureSwitchRestoresTheCaptureApiForTheRepairThatFollows) {
  script({{"capture-api=wgc", Outcome::parse_error, "no wgc here"},
          {"capture-api=dxgi", Outcome::error, "Connection to the server was lost", "", 1}});
  ASSERT_EQ(start_error(request()), "(started)");
  const auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event), (protocol::BroadcastRecovery{"network", "whip", true}));
  EXPECT_EQ(engine_->capture_api, "dxgi");
  EXPECT_TRUE(engine_->capture_fallback_used);
  EXPECT_NE(gst_->launched.back().find("capture-api=dxgi"), std::string::npos) << "reconnected with the restored API";
}

TEST_F(Engine, EveryStartBeginsWithTheFirstCaptureApiAndItsSwitchUnused) {
  script({{"capture-api=dxgi", Outcome::error, "Failed to capture", "", 1}});
  ASSERT_EQ(start_error(request()), "(started)");
  ASSERT_EQ(std::get<protocol::BroadcastRecovery>(next_event(1s)).detail, "wgc");
  stop_broadcast(*engine_);
  ASSERT_EQ(start_error(request()), "(started)");
  EXPECT_EQ(engine_->capture_api, "dxgi");
  EXPECT_FALSE(engine_->capture_fallback_used);
  const auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event).detail, "wgc") << "the second broadcast may switch again";
}

// ---- failures and recovery ----

class EngineWithFrames : public Engine {
 protected:
  void start(const protocol::StartBroadcast& start_request = request()) {
    ASSERT_EQ(start_error(start_request), "(started)");
    frames(1);  // a frame was seen: no capture-API switch
  }
  // Makes the running pipeline's next bus poll an error.
  void fail_with(std::string text, std::string debug = {}) {
    script({{"capture-api=", Outcome::error, std::move(text), std::move(debug)}});
    // The rule applies to pipelines launched from now on; the running one gets it at its next poll.
  }
};

TEST_F(EngineWithFrames, EndOfStreamEndsTheBroadcast) {
  script({{"d3d11screencapturesrc", Outcome::eos, "", "", 2}});
  start();
  const auto event = next_event(1s);
  EXPECT_TRUE(std::holds_alternative<BroadcastEnded>(event));
  EXPECT_FALSE(config());
  EXPECT_EQ(pipeline(), nullptr);
  EXPECT_EQ(engine_->recovery_reason, "none");
}

TEST_F(EngineWithFrames, NetworkErrorsReconnectThreeTimesThenEndTheBroadcast) {
  script({{"d3d11screencapturesrc", Outcome::error, "Signalling error: connection reset", "", 1}});
  start();
  for (std::uint32_t reconnect = 1; reconnect <= 3; ++reconnect) {
    const auto event = next_event(1s);
    ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event)) << reconnect;
    EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event), (protocol::BroadcastRecovery{"network", "whip", true}));
    EXPECT_EQ(engine_->whip_reconnects, reconnect);
    EXPECT_EQ(engine_->recovery_reason, "bandwidth");
    frames(1);
  }
  const auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<BroadcastFailed>(event));
  EXPECT_EQ(std::get<BroadcastFailed>(event).message,
            "the WHIP transport could not reconnect: Signalling error: connection reset");
  EXPECT_EQ(engine_->whip_reconnects, 0u);
  EXPECT_FALSE(config());
}

TEST_F(EngineWithFrames, CredentialWordsEndANetworkFailureAtOnce) {
  for (const char* text : {"Unexpected response: 403 - Unauthorized [component=whip]",
                           "Unexpected response: 404 - not found [component=whip]"}) {
    gst_->rules = {{"d3d11screencapturesrc", Outcome::error, text, "", 1}};
    start();
    const auto event = next_event(1s);
    ASSERT_TRUE(std::holds_alternative<BroadcastFailed>(event));
    EXPECT_EQ(std::get<BroadcastFailed>(event).message,
              std::string("the WHIP credentials are no longer valid; start the broadcast again: ") + text);
    EXPECT_EQ(launches_containing("d3d11screencapturesrc"), 1u) << "no reconnect";
    gst_->launched.clear();
  }
}

TEST_F(EngineWithFrames, IceIsANetworkWordOnlyOnItsOwn) {
  gst_->rules = {{"d3d11screencapturesrc", Outcome::error, "ICE failed", "", 1}};
  start();
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(next_event(1s)).component, "network");
  stop_broadcast(*engine_);
  gst_->rules = {{"d3d11screencapturesrc", Outcome::error, "the device has a price", "", 1}};
  start();
  const auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<BroadcastFailed>(event));
  EXPECT_EQ(std::get<BroadcastFailed>(event).message,
            "the media device failed and no fallback encoder recovered it: the device has a price");
}

TEST_F(EngineWithFrames, CredentialWordsWithoutANetworkWordAreADeviceFailure) {
  gst_->rules = {{"d3d11screencapturesrc", Outcome::error, "403 unauthorized", "", 1}};
  start();
  EXPECT_EQ(std::get<BroadcastFailed>(next_event(1s)).message,
            "the media device failed and no fallback encoder recovered it: 403 unauthorized");
}

TEST_F(EngineWithFrames, AnAudioErrorWithTheExclusionDropsSystemAudio) {
  // A network word too ("connection"): audio is asked first.
  gst_->rules = {{"loopback-target-pid=4242 ! queue", Outcome::error, "Device connection lost", "gstwasapi2src.cpp", 1},
                 {"d3d11screencapturesrc", Outcome::silent}};
  machine_.build = 22631;
  auto with_audio = request();
  with_audio.system_audio = true;
  with_audio.exclude_app_audio = true;
  start(with_audio);
  const auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event),
            (protocol::BroadcastRecovery{"system-audio", "loopback-unavailable", true}));
  EXPECT_FALSE(config()->system_audio);
  EXPECT_EQ(engine_->recovery_reason, "system-audio-unavailable");
  EXPECT_EQ(gst_->launched.back().find("wasapi2src"), std::string::npos) << "restarted without audio";
}

TEST_F(EngineWithFrames, AnAudioErrorWithoutTheExclusionEndsTheBroadcast) {
  gst_->rules = {
      {"wasapi2src loopback=true low-latency=true ! queue", Outcome::error, "Device lost", "gstwasapi2src.cpp", 1},
      {"d3d11screencapturesrc", Outcome::silent}};
  auto with_audio = request();
  with_audio.system_audio = true;
  start(with_audio);
  EXPECT_EQ(std::get<BroadcastFailed>(next_event(1s)).message,
            "system audio capture failed and could not recover: Device lost [component=system-audio]");
}

TEST_F(EngineWithFrames, FailureTextsHideTheEndpointAndTheKeyButAreClassifiedAsWritten) {
  gst_->rules = {{"d3d11screencapturesrc", Outcome::error,
                  "POST https://live.example.com/whip/key_0123456789 (key key_0123456789): 403 Unauthorized", "", 1}};
  start();
  auto event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<BroadcastFailed>(event));
  EXPECT_EQ(std::get<BroadcastFailed>(event).message,
            "the WHIP credentials are no longer valid; start the broadcast again: POST [redacted-whip-endpoint] (key "
            "[redacted]): 403 Unauthorized");

  // The only network word is inside the key: still a network failure, reported without the key.
  auto keyed = request();
  keyed.stream_key = "socket_key_0001";
  gst_->rules = {{"d3d11screencapturesrc", Outcome::error, "stream socket_key_0001 dropped", "", 1}};
  start(keyed);
  for (int reconnect = 0; reconnect < 3; ++reconnect) {
    ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(next_event(1s))) << reconnect;
    frames(1);
  }
  event = next_event(1s);
  ASSERT_TRUE(std::holds_alternative<BroadcastFailed>(event));
  EXPECT_EQ(std::get<BroadcastFailed>(event).message,
            "the WHIP transport could not reconnect: stream [redacted] dropped");
}

class EngineFailingOver : public EngineWithFrames {
 protected:
  // Starts `start_request` on a hardware encoder that fails at once, with x264enc after it in the list.
  SupervisionEvent fail_over_to_software(const protocol::StartBroadcast& start_request,
                                         const std::string& hardware_rate_control = "constrained-vbr") {
    engine_->usable_encoders = {{"nvd3d11h264enc", "hardware", "1080p60", hardware_rate_control},
                                {"x264enc", "software", "540p30", "constrained-vbr"}};
    engine_->probed = true;
    gst_->rules = {{"nvd3d11h264enc", Outcome::error, "Encoder session failed", "", 1},
                   {"d3d11screencapturesrc", Outcome::silent}};
    start(start_request);
    return next_event(1s);
  }
};

TEST_F(EngineFailingOver, ADeviceFailureMovesToALaterEncoderAtTheSoftwareLimits) {
  auto big = request();
  big.width = 1920;
  big.height = 1080;
  big.frame_rate = 60;
  big.video_bitrate_kbps = 6000;
  big.profile_id = "quality";
  const auto event = fail_over_to_software(big);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event),
            (protocol::BroadcastRecovery{"video-encoder", "x264enc", true}));
  EXPECT_EQ(engine_->active_encoder, "x264enc");
  const BroadcastConfig& now = *config();
  EXPECT_EQ(now.profile_id, "compat");
  EXPECT_EQ(std::tie(now.width, now.height, now.frame_rate, now.video_bitrate_kbps, now.audio_bitrate_kbps),
            std::make_tuple(960u, 540u, 30u, 1300u, 96u));
  EXPECT_EQ(engine_->recovery_reason, "device");
}

TEST_F(EngineFailingOver, EitherTheSizeOrTheRateBeyondTheSoftwareLimitsFallsBackToCompat) {
  auto wide = request();  // wider than 960 at 30 frames/s
  wide.width = 1280;
  wide.height = 720;
  wide.video_bitrate_kbps = 2500;
  wide.profile_id = "balanced";
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(fail_over_to_software(wide)));
  EXPECT_EQ(config()->profile_id, "compat");
  EXPECT_EQ(config()->width, 960u);
}

TEST_F(EngineFailingOver, AConfigurationAtTheSoftwareLimitsIsKept) {
  auto at_limits = request();  // 960 × 540 at 30
  at_limits.video_bitrate_kbps = 2500;
  at_limits.profile_id = "balanced";
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(fail_over_to_software(at_limits)));
  EXPECT_EQ(config()->profile_id, "balanced");
  EXPECT_EQ(config()->video_bitrate_kbps, 2500u);
}

TEST_F(EngineFailingOver, ACapabilityReportLeavesTheBroadcastWithTheEncoderARecoveryChose) {
  ASSERT_EQ(std::get<protocol::BroadcastRecovery>(fail_over_to_software(request(), "cbr-fallback")).detail, "x264enc");
  EXPECT_EQ(build_media_capabilities(*engine_).active_encoder, "nvd3d11h264enc") << "a start would run the first";
  EXPECT_EQ(engine_->active_encoder, "x264enc");
  EXPECT_EQ(update_broadcast_profile(*engine_, update(1920, 1080, 30, 6000)).encoder.error(),
            "software encoding is capped at 540p30");
  gst_->calls.clear();
  auto live = update_broadcast_profile(*engine_, protocol::UpdateBroadcastProfile{"compat", 960, 540, 30, 1000, 96});
  ASSERT_TRUE(live.encoder) << live.encoder.error();
  EXPECT_EQ(*live.encoder, "x264enc");
  EXPECT_NE(std::find(gst_->calls.begin(), gst_->calls.end(), "set video_encoder.max-bitrate=1000"), gst_->calls.end())
      << "x264enc runs in quality mode";
}

TEST_F(EngineFailingOver, MissingFramesWhoseCaptureSwitchFailsMoveToTheNextEncoderOnTheFirstApi) {
  engine_->usable_encoders = {{"nvd3d11h264enc", "hardware", "1080p60", "constrained-vbr"},
                              {"x264enc", "software", "540p30", "constrained-vbr"}};
  engine_->probed = true;
  gst_->rules = {{"capture-api=wgc", Outcome::parse_error, "no wgc here"}, {"d3d11screencapturesrc", Outcome::silent}};
  ASSERT_EQ(start_error(request()), "(started)");  // and no frame ever comes
  SupervisionEvent event;
  do {
    machine_.time += 100ms;
    event = next_event();
  } while (std::holds_alternative<protocol::BroadcastStats>(event));
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastRecovery>(event));
  EXPECT_EQ(std::get<protocol::BroadcastRecovery>(event),
            (protocol::BroadcastRecovery{"video-encoder", "x264enc", true}));
  EXPECT_EQ(launches_containing("capture-api=wgc"), 1u);
  EXPECT_EQ(engine_->capture_api, "dxgi");
  EXPECT_TRUE(engine_->capture_fallback_used);
  const std::string& running = gst_->launched.back();
  EXPECT_NE(running.find("capture-api=dxgi"), std::string::npos);
  EXPECT_NE(running.find("x264enc"), std::string::npos);
  ASSERT_NE(config(), nullptr);
  EXPECT_EQ(config()->capture_source_id, "monitor:65537");
}

TEST_F(EngineWithFrames, StopAndStartAgainReuseOnlyTheProbedEncoders) {
  start();
  const auto launched = gst_->launched.size();
  stop_broadcast(*engine_);
  EXPECT_FALSE(config());
  EXPECT_EQ(pipeline(), nullptr);
  stop_broadcast(*engine_);  // stopping while idle does nothing
  start();
  EXPECT_EQ(gst_->launched.size(), launched + 1) << "no probe the second time";
}

// ---- profile updates ----

protocol::UpdateBroadcastProfile update(std::uint32_t width, std::uint32_t height, std::uint32_t fps,
                                        std::uint32_t video_kbps) {
  return protocol::UpdateBroadcastProfile{"quality", width, height, fps, video_kbps, 128};
}

class EngineUpdates : public Engine {
 protected:
  void start_hardware(const std::string& rate_control, bool audio) {
    engine_->usable_encoders = {{"nvd3d11h264enc", "hardware", "1080p60", rate_control}};
    engine_->probed = true;
    auto big = request();
    big.width = 1920;
    big.height = 1080;
    big.frame_rate = 30;
    big.video_bitrate_kbps = 6000;
    big.profile_id = "quality";
    big.system_audio = audio;
    ASSERT_EQ(start_error(big), "(started)");
    gst_->calls.clear();
  }
  std::vector<std::string> property_sets() const {
    std::vector<std::string> sets;
    std::copy_if(gst_->calls.begin(), gst_->calls.end(), std::back_inserter(sets),
                 [](const std::string& call) { return call.rfind("set ", 0) == 0; });
    return sets;
  }
};

TEST_F(EngineUpdates, TheSameSizeChangesBitRatesLive) {
  start_hardware("constrained-vbr", true);
  auto updated = update_broadcast_profile(*engine_, update(1920, 1080, 30, 4500)).encoder;
  ASSERT_TRUE(updated) << updated.error();
  EXPECT_EQ(*updated, "nvd3d11h264enc");
  EXPECT_EQ(property_sets(),
            (std::vector<std::string>{"set video_encoder.bitrate=4500", "set video_encoder.max-bitrate=4500",
                                      "set video_encoder.vbv-buffer-size=2250", "set whip.max-bitrate=4500000",
                                      "set audio_encoder.bitrate=128000"}));
  EXPECT_EQ(config()->video_bitrate_kbps, 4500u);
  EXPECT_EQ(launches_containing("d3d11screencapturesrc"), 1u) << "no rebuild";
}

TEST_F(EngineUpdates, ConstantBitRateEncodersOnlyGetTheirBitrate) {
  start_hardware("cbr-fallback", false);
  ASSERT_TRUE(update_broadcast_profile(*engine_, update(1920, 1080, 60, 4500)).encoder);
  EXPECT_EQ(property_sets(),
            (std::vector<std::string>{"set video_encoder.bitrate=4500", "set whip.max-bitrate=4500000"}));
  EXPECT_EQ(config()->frame_rate, 60u) << "recorded for the next rebuild; the pipeline keeps 30";
}

TEST_F(EngineUpdates, ANewSizeRebuildsAndFallsBackToThePreviousConfiguration) {
  start_hardware("constrained-vbr", false);
  script({{"width=1280,height=720", Outcome::parse_error, "no element \"d3d11convert\""}});
  const ProfileUpdate rolled_back = update_broadcast_profile(*engine_, update(1280, 720, 30, 3000));
  EXPECT_FALSE(rolled_back.broadcast_lost);
  auto updated = rolled_back.encoder;
  ASSERT_FALSE(updated);
  EXPECT_EQ(updated.error(), "could not apply the broadcast profile: no element \"d3d11convert\"");
  ASSERT_TRUE(config());
  EXPECT_EQ(config()->width, 1920u) << "the previous configuration runs again";
  EXPECT_NE(pipeline(), nullptr);

  script({{"d3d11screencapturesrc", Outcome::parse_error, "everything is broken"}});
  updated = update_broadcast_profile(*engine_, update(1280, 720, 30, 3000)).encoder;
  ASSERT_FALSE(updated);
  EXPECT_EQ(updated.error(), "could not apply the broadcast profile: everything is broken");
  EXPECT_FALSE(config()) << "neither configuration could start";
  EXPECT_EQ(update_broadcast_profile(*engine_, update(1920, 1080, 30, 3000)).encoder.error(), "no broadcast is active");
}

TEST_F(EngineUpdates, ARebuildWhoseRollbackFailsTooReportsTheFirstErrorAndTheLostBroadcast) {
  start_hardware("constrained-vbr", false);
  script({{"width=1280,height=720", Outcome::parse_error, "the new size failed"},
          {"width=1920,height=1080", Outcome::parse_error, "the old size failed"}});
  const ProfileUpdate updated = update_broadcast_profile(*engine_, update(1280, 720, 30, 3000));
  ASSERT_FALSE(updated.encoder);
  EXPECT_EQ(updated.encoder.error(), "could not apply the broadcast profile: the new size failed");
  EXPECT_TRUE(updated.broadcast_lost);
  EXPECT_FALSE(config());
  EXPECT_EQ(pipeline(), nullptr);
  EXPECT_FALSE(update_broadcast_profile(*engine_, update(1280, 720, 30, 3000)).broadcast_lost)
      << "nothing more to lose";
}

TEST_F(EngineUpdates, ALiveChangeClearsTheReasonOfAnEarlierRecovery) {
  start_hardware("constrained-vbr", false);
  engine_->recovery_reason = "bandwidth";  // as a reconnect leaves it, before its statistics
  ASSERT_TRUE(update_broadcast_profile(*engine_, update(1920, 1080, 30, 4000)).encoder);
  machine_.time += 2s;
  frames(30);
  const auto event = supervise_broadcast(*engine_);
  ASSERT_TRUE(std::holds_alternative<protocol::BroadcastStats>(event));
  EXPECT_EQ(std::get<protocol::BroadcastStats>(event).recovery_reason, "none");
}

TEST_F(EngineUpdates, ANewSizeThatStartsReplacesTheConfiguration) {
  start_hardware("constrained-vbr", false);
  auto updated = update_broadcast_profile(*engine_, update(1280, 720, 60, 3000)).encoder;
  ASSERT_TRUE(updated) << updated.error();
  EXPECT_EQ(config()->width, 1280u);
  EXPECT_EQ(launches_containing("width=1280,height=720,framerate=60/1"), 1u);
}

TEST_F(EngineUpdates, UpdatesAreValidatedWithoutTheStartDefaults) {
  start_hardware("constrained-vbr", false);
  auto empty_profile = update(1920, 1080, 30, 3000);
  empty_profile.profile_id = "";
  EXPECT_EQ(update_broadcast_profile(*engine_, empty_profile).encoder.error(), "video profile ID is unsupported");
  auto no_audio_rate = update(1920, 1080, 30, 3000);
  no_audio_rate.audio_bitrate_kbps = 0;
  EXPECT_EQ(update_broadcast_profile(*engine_, no_audio_rate).encoder.error(),
            "video profile is outside the supported launch range");
}

TEST_F(EngineUpdates, AMissingElementStopsTheLiveChangeAtThatProperty) {
  engine_->usable_encoders = {{"x264enc", "software", "540p30", "constrained-vbr"}};
  engine_->probed = true;
  ASSERT_EQ(start_error(request()), "(started)");  // a pipeline without audio
  BroadcastConfig claiming = *config();            // a configuration claiming audio the pipeline lacks
  claiming.system_audio = true;
  engine_->running->adopt_live_change(claiming);
  auto updated =
      update_broadcast_profile(*engine_, protocol::UpdateBroadcastProfile{"compat", 960, 540, 30, 1000, 64}).encoder;
  ASSERT_FALSE(updated);
  EXPECT_EQ(updated.error(), "media element audio_encoder is unavailable");
  EXPECT_EQ(config()->video_bitrate_kbps, 1300u) << "the configuration is unchanged";
}

}  // namespace
}  // namespace corvane::helper
