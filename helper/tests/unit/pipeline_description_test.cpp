// The broadcast's pipeline description: WHIP URL and stream key rules, quoting, the endpoint, whole
// descriptions for the encoder kinds, audio arrangements and the loopback development mode, the
// failures in their order, and the redaction of secrets. Expected texts are written out in full.
#include "windows/media/pipeline_description.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace corvane::helper {
namespace {

constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();

const UsableEncoder kX264Cbr{"x264enc", "software", "540p30", "cbr-fallback"};
const UsableEncoder kX264Quality{"x264enc", "software", "540p30", "constrained-vbr"};
const UsableEncoder kNvencQuality{"nvd3d11h264enc", "hardware", "1080p60", "constrained-vbr"};
const UsableEncoder kQsvCbr{"qsvh264enc", "hardware", "720p30", "cbr-fallback"};

BroadcastConfig config_for(std::string capture, std::string url, std::string key, std::uint32_t width,
                           std::uint32_t height, std::uint32_t frame_rate, std::uint32_t video_kbps) {
  BroadcastConfig config;
  config.capture_source_id = std::move(capture);
  config.whip_url = std::move(url);
  config.stream_key = std::move(key);
  config.width = width;
  config.height = height;
  config.frame_rate = frame_rate;
  config.video_bitrate_kbps = video_kbps;
  config.audio_bitrate_kbps = 96;
  return config;
}

// A description that must build.
std::string built(const BroadcastConfig& config, std::string_view capture_api, std::uint32_t pid,
                  const UsableEncoder& encoder) {
  const auto description = build_broadcast_description(config, capture_api, pid, encoder);
  if (!description.ok()) {
    ADD_FAILURE() << description.error();
    return {};
  }
  return *description;
}

// The error of a description that must fail.
std::string failure(const BroadcastConfig& config, const UsableEncoder& encoder) {
  const auto description = build_broadcast_description(config, "wgc", 1, encoder);
  if (description.ok()) {
    ADD_FAILURE() << "built: " << *description;
    return {};
  }
  return description.error();
}

// --- Whole descriptions ---

TEST(BroadcastDescription, SoftwareConstantBitrateMonitorWithoutAudio) {
  const BroadcastConfig config =
      config_for("monitor:65537", "https://live.example.com/whip", "abcDEF_123-xyz", 960, 540, 30, 2500);
  EXPECT_EQ(built(config, "wgc", 777, kX264Cbr),
            "d3d11screencapturesrc capture-api=wgc show-cursor=true monitor-handle=65537"
            " ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11download ! videoconvert ! videoscale ! video/x-raw,format=I420,width=960,height=540,framerate=30/1"
            " ! identity name=raw_telemetry signal-handoffs=true silent=true"
            " ! x264enc name=video_encoder bitrate=2500 pass=cbr tune=zerolatency speed-preset=veryfast"
            " key-int-max=60 bframes=0"
            " ! h264parse config-interval=-1"
            " ! identity name=encoded_telemetry signal-handoffs=true silent=true"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip.video_0"
            " whipclientsink name=whip signaller::whip-endpoint=\"https://live.example.com/whip/abcDEF_123-xyz\""
            " video-caps=video/x-h264 audio-caps=audio/x-opus congestion-control=disabled do-fec=false"
            " max-bitrate=2500000");
}

TEST(BroadcastDescription, HardwareQualityWindowWithExcludingSystemAudioAndMicrophoneThroughTheMixer) {
  BroadcastConfig config =
      config_for("window:131842", "https://sfu.example.org/rtc/v1/whip", "Stream_Key-0001", 1920, 1080, 60, 6000);
  config.audio_bitrate_kbps = 128;
  config.system_audio = true;
  config.exclude_app_audio = true;
  config.microphone_device_id = "{0.0.1.00000000}.{4f1c}";
  EXPECT_EQ(built(config, "dxgi", 4242, kNvencQuality),
            "d3d11screencapturesrc capture-api=dxgi show-cursor=true window-handle=131842 window-capture-mode=client"
            " ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11convert ! video/x-raw(memory:D3D11Memory),format=NV12,width=1920,height=1080,framerate=60/1"
            " ! identity name=raw_telemetry signal-handoffs=true silent=true"
            " ! nvd3d11h264enc name=video_encoder bitrate=6000 max-bitrate=6000 vbv-buffer-size=3000 rc-mode=vbr"
            " const-quality=23 tune=low-latency preset=p5 multi-pass=two-pass-quarter cabac=true bframes=0"
            " gop-size=120 zerolatency=true min-force-key-unit-interval=500000000"
            " ! h264parse config-interval=-1"
            " ! identity name=encoded_telemetry signal-handoffs=true silent=true"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=high"
            " ! queue max-size-buffers=8 leaky=downstream ! whip.video_0"
            " audiomixer name=mix latency=10000000 ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2"
            " ! opusenc name=audio_encoder bitrate=128000 inband-fec=true dtx=true frame-size=20"
            " ! audio/x-opus,channel-mapping-family=0 ! queue max-size-buffers=16 leaky=downstream ! whip.audio_0"
            " wasapi2src loopback=true low-latency=true loopback-mode=exclude-process-tree loopback-target-pid=4242"
            " ! queue ! mix."
            " wasapi2src low-latency=true device=\"{0.0.1.00000000}.{4f1c}\" ! queue ! mix."
            " whipclientsink name=whip"
            " signaller::whip-endpoint=\"https://sfu.example.org/rtc/v1/whip/Stream_Key-0001\""
            " video-caps=video/x-h264 audio-caps=audio/x-opus congestion-control=disabled do-fec=false"
            " max-bitrate=6000000");
}

TEST(BroadcastDescription, MicrophoneAloneFeedsTheOpusTailWithoutAMixer) {
  BroadcastConfig config = config_for("monitor:1", "https://h.example/w", "key_0001", 1280, 720, 30, 3000);
  config.microphone_device_id = "mic-7";
  EXPECT_EQ(built(config, "wgc", 1, kQsvCbr),
            "d3d11screencapturesrc capture-api=wgc show-cursor=true monitor-handle=1"
            " ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11convert ! video/x-raw(memory:D3D11Memory),format=NV12,width=1280,height=720,framerate=30/1"
            " ! identity name=raw_telemetry signal-handoffs=true silent=true"
            " ! qsvh264enc name=video_encoder bitrate=3000 rate-control=cbr gop-size=60 b-frames=0"
            " ! h264parse config-interval=-1"
            " ! identity name=encoded_telemetry signal-handoffs=true silent=true"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip.video_0"
            " wasapi2src low-latency=true device=\"mic-7\" ! queue"
            " ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2"
            " ! opusenc name=audio_encoder bitrate=96000 inband-fec=true dtx=true frame-size=20"
            " ! audio/x-opus,channel-mapping-family=0 ! queue max-size-buffers=16 leaky=downstream ! whip.audio_0"
            " whipclientsink name=whip signaller::whip-endpoint=\"https://h.example/w/key_0001\""
            " video-caps=video/x-h264 audio-caps=audio/x-opus congestion-control=disabled do-fec=false"
            " max-bitrate=3000000");
}

TEST(BroadcastDescription, SystemAudioAloneWithoutExclusionHasNoProcessTarget) {
  BroadcastConfig config = config_for("monitor:1", "https://h.example/w", "key_0001", 1280, 720, 30, 3000);
  config.system_audio = true;
  config.audio_bitrate_kbps = 64;
  const std::string description = built(config, "wgc", 99, kQsvCbr);
  EXPECT_NE(description.find(" ! whip.video_0 wasapi2src loopback=true low-latency=true ! queue"
                             " ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2"
                             " ! opusenc name=audio_encoder bitrate=64000 inband-fec=true dtx=true frame-size=20"
                             " ! audio/x-opus,channel-mapping-family=0 ! queue max-size-buffers=16 leaky=downstream"
                             " ! whip.audio_0 whipclientsink name=whip "),
            std::string::npos)
      << description;
  EXPECT_EQ(description.find("loopback-target-pid"), std::string::npos) << description;
  EXPECT_EQ(description.find("audiomixer"), std::string::npos) << description;

  // exclude_app_audio without system audio adds nothing.
  config.system_audio = false;
  config.exclude_app_audio = true;
  const std::string silent = built(config, "wgc", 99, kQsvCbr);
  EXPECT_EQ(silent.find("wasapi2src"), std::string::npos) << silent;
  EXPECT_EQ(silent.find("opusenc"), std::string::npos) << silent;
}

TEST(BroadcastDescription, MicrophoneDeviceIdIsQuoted) {
  BroadcastConfig config = config_for("monitor:1", "https://h.example/w", "key_0001", 1280, 720, 30, 3000);
  config.microphone_device_id = R"(dev "A" \\?\x y)";
  const std::string description = built(config, "wgc", 1, kQsvCbr);
  EXPECT_NE(description.find(R"( wasapi2src low-latency=true device="dev \"A\" \\\\?\\x y" ! queue ! audioconvert )"),
            std::string::npos)
      << description;
}

TEST(BroadcastDescription, BitRatesSaturateInBitsPerSecondAndRangesAreNotChecked) {
  BroadcastConfig config = config_for("monitor:1", "https://h.example/w", "key_0001", 1280, 720, 30, 4294968);
  config.system_audio = true;
  config.audio_bitrate_kbps = 4294968;
  const std::string description = built(config, "wgc", 1, kX264Cbr);
  EXPECT_NE(description.find(" ! x264enc name=video_encoder bitrate=4294968 pass=cbr "), std::string::npos)
      << description;
  EXPECT_NE(description.find(" ! opusenc name=audio_encoder bitrate=4294967295 inband-fec=true "), std::string::npos)
      << description;
  const std::string_view sink_end = " do-fec=false max-bitrate=4294967295";
  EXPECT_TRUE(description.ends_with(sink_end)) << description;

  config.video_bitrate_kbps = 4294967;
  EXPECT_TRUE(built(config, "wgc", 1, kX264Cbr).ends_with(" do-fec=false max-bitrate=4294967000"));
}

// --- Loopback development mode ---

TEST(LoopbackDevelopment, SoftwareQualityAddsTheTeeBothRenditionsSizeQueriesAndNoStun) {
  BroadcastConfig config = config_for("monitor:1", "http://127.0.0.1:7880/whip", "devkey_01", 1920, 1080, 60, 6000);
  config.system_audio = true;
  EXPECT_EQ(built(config, "wgc", 1, kX264Quality),
            // The main stream, as the tee's first branch.
            "d3d11screencapturesrc capture-api=wgc show-cursor=true monitor-handle=1"
            " ! tee name=captured captured."
            " ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11download ! videoconvert ! videoscale"
            " ! video/x-raw,format=I420,width=1920,height=1080,framerate=60/1"
            " ! identity name=raw_telemetry signal-handoffs=true silent=true"
            " ! x264enc name=video_encoder bitrate=6000 pass=qual quantizer=24 tune=zerolatency"
            " speed-preset=veryfast key-int-max=120 bframes=0"
            " ! h264parse config-interval=-1"
            " ! identity name=encoded_telemetry signal-handoffs=true silent=true"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip.video_0"
            // Quarter: short side 360 of 1080, at most 15 frames per second, 260 kbit/s.
            " captured. ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11download ! videoconvert ! videoscale ! videorate drop-only=true"
            " ! video/x-raw,format=I420,width=640,height=360,framerate=15/1"
            " ! x264enc name=video_encoder_q bitrate=260 pass=qual quantizer=24 tune=zerolatency"
            " speed-preset=veryfast key-int-max=30 bframes=0"
            " ! h264parse config-interval=-1"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip_q.video_0"
            " whipclientsink name=whip_q"
            " signaller::whip-endpoint=\"http://127.0.0.1:7880/whip/devkey_01/q?width=1920&height=1080\""
            " video-caps=video/x-h264 stun-server=\"\" congestion-control=disabled do-fec=false max-bitrate=260000"
            // Half: short side 720, at most 30 frames per second, 900 kbit/s.
            " captured. ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11download ! videoconvert ! videoscale ! videorate drop-only=true"
            " ! video/x-raw,format=I420,width=1280,height=720,framerate=30/1"
            " ! x264enc name=video_encoder_h bitrate=900 pass=qual quantizer=24 tune=zerolatency"
            " speed-preset=veryfast key-int-max=60 bframes=0"
            " ! h264parse config-interval=-1"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip_h.video_0"
            " whipclientsink name=whip_h"
            " signaller::whip-endpoint=\"http://127.0.0.1:7880/whip/devkey_01/h?width=1920&height=1080\""
            " video-caps=video/x-h264 stun-server=\"\" congestion-control=disabled do-fec=false max-bitrate=900000"
            // Audio after the renditions, then the main sink.
            " wasapi2src loopback=true low-latency=true ! queue"
            " ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2"
            " ! opusenc name=audio_encoder bitrate=96000 inband-fec=true dtx=true frame-size=20"
            " ! audio/x-opus,channel-mapping-family=0 ! queue max-size-buffers=16 leaky=downstream ! whip.audio_0"
            " whipclientsink name=whip"
            " signaller::whip-endpoint=\"http://127.0.0.1:7880/whip/devkey_01?width=1920&height=1080\""
            " video-caps=video/x-h264 audio-caps=audio/x-opus congestion-control=disabled do-fec=false"
            " max-bitrate=6000000 stun-server=\"\"");
}

TEST(LoopbackDevelopment, HardwareRenditionsRateLimitBeforeTheDirect3DConversion) {
  const BroadcastConfig config = config_for("window:42", "http://127.0.0.1:8080//", "devkey_02", 1280, 720, 30, 2200);
  EXPECT_EQ(built(config, "wgc", 1, kQsvCbr),
            "d3d11screencapturesrc capture-api=wgc show-cursor=true window-handle=42 window-capture-mode=client"
            " ! tee name=captured captured."
            " ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11convert ! video/x-raw(memory:D3D11Memory),format=NV12,width=1280,height=720,framerate=30/1"
            " ! identity name=raw_telemetry signal-handoffs=true silent=true"
            " ! qsvh264enc name=video_encoder bitrate=2200 rate-control=cbr gop-size=60 b-frames=0"
            " ! h264parse config-interval=-1"
            " ! identity name=encoded_telemetry signal-handoffs=true silent=true"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip.video_0"
            // Short side 720: quarter 180 (100 kbit/s), half 360 (260 kbit/s).
            " captured. ! queue max-size-buffers=3 leaky=downstream"
            " ! videorate drop-only=true ! d3d11convert"
            " ! video/x-raw(memory:D3D11Memory),format=NV12,width=320,height=180,framerate=15/1"
            " ! qsvh264enc name=video_encoder_q bitrate=100 rate-control=cbr gop-size=30 b-frames=0"
            " ! h264parse config-interval=-1"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip_q.video_0"
            " whipclientsink name=whip_q"
            " signaller::whip-endpoint=\"http://127.0.0.1:8080/devkey_02/q?width=1280&height=720\""
            " video-caps=video/x-h264 stun-server=\"\" congestion-control=disabled do-fec=false max-bitrate=100000"
            " captured. ! queue max-size-buffers=3 leaky=downstream"
            " ! videorate drop-only=true ! d3d11convert"
            " ! video/x-raw(memory:D3D11Memory),format=NV12,width=640,height=360,framerate=30/1"
            " ! qsvh264enc name=video_encoder_h bitrate=260 rate-control=cbr gop-size=60 b-frames=0"
            " ! h264parse config-interval=-1"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip_h.video_0"
            " whipclientsink name=whip_h"
            " signaller::whip-endpoint=\"http://127.0.0.1:8080/devkey_02/h?width=1280&height=720\""
            " video-caps=video/x-h264 stun-server=\"\" congestion-control=disabled do-fec=false max-bitrate=260000"
            " whipclientsink name=whip"
            " signaller::whip-endpoint=\"http://127.0.0.1:8080/devkey_02?width=1280&height=720\""
            " video-caps=video/x-h264 audio-caps=audio/x-opus congestion-control=disabled do-fec=false"
            " max-bitrate=2200000 stun-server=\"\"");
}

TEST(LoopbackDevelopment, RenditionEncoderNamesAreSuffixedWhereverTheyAppear) {
  const BroadcastConfig config = config_for("monitor:5", "http://127.0.0.1:7880", "devkey_03", 1920, 1080, 60, 6000);
  const std::string description = built(config, "wgc", 1, kNvencQuality);
  EXPECT_NE(description.find(" ! videorate drop-only=true ! d3d11convert"
                             " ! video/x-raw(memory:D3D11Memory),format=NV12,width=1280,height=720,framerate=30/1"
                             " ! nvd3d11h264enc name=video_encoder_h bitrate=900 max-bitrate=900 vbv-buffer-size=450"
                             " rc-mode=vbr const-quality=23 tune=low-latency preset=p5 multi-pass=two-pass-quarter"
                             " cabac=true bframes=0 gop-size=60 zerolatency=true"
                             " min-force-key-unit-interval=500000000 ! h264parse config-interval=-1"
                             " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=high ! "),
            std::string::npos)
      << description;
  EXPECT_NE(description.find(" ! nvd3d11h264enc name=video_encoder_q bitrate=260 max-bitrate=260 vbv-buffer-size=130 "),
            std::string::npos)
      << description;
  EXPECT_NE(description.find(" ! nvd3d11h264enc name=video_encoder bitrate=6000 "), std::string::npos) << description;
}

TEST(LoopbackDevelopment, LocalhostIsNotTheDevelopmentMode) {
  BroadcastConfig config = config_for("monitor:1", "http://localhost:7880", "devkey_01", 1920, 1080, 60, 6000);
  config.system_audio = true;
  EXPECT_EQ(built(config, "wgc", 1, kX264Quality),
            "d3d11screencapturesrc capture-api=wgc show-cursor=true monitor-handle=1"
            " ! queue max-size-buffers=3 leaky=downstream"
            " ! d3d11download ! videoconvert ! videoscale"
            " ! video/x-raw,format=I420,width=1920,height=1080,framerate=60/1"
            " ! identity name=raw_telemetry signal-handoffs=true silent=true"
            " ! x264enc name=video_encoder bitrate=6000 pass=qual quantizer=24 tune=zerolatency"
            " speed-preset=veryfast key-int-max=120 bframes=0"
            " ! h264parse config-interval=-1"
            " ! identity name=encoded_telemetry signal-handoffs=true silent=true"
            " ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline"
            " ! queue max-size-buffers=8 leaky=downstream ! whip.video_0"
            " wasapi2src loopback=true low-latency=true ! queue"
            " ! audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2"
            " ! opusenc name=audio_encoder bitrate=96000 inband-fec=true dtx=true frame-size=20"
            " ! audio/x-opus,channel-mapping-family=0 ! queue max-size-buffers=16 leaky=downstream ! whip.audio_0"
            " whipclientsink name=whip signaller::whip-endpoint=\"http://localhost:7880/devkey_01\""
            " video-caps=video/x-h264 audio-caps=audio/x-opus congestion-control=disabled do-fec=false"
            " max-bitrate=6000000");
}

TEST(LoopbackDevelopment, OnlyTheLoopbackAddressWithAColonIsDevelopment) {
  EXPECT_TRUE(loopback_development_mode("http://127.0.0.1:"));
  EXPECT_TRUE(loopback_development_mode("http://127.0.0.1:7880/whip/key"));
  for (const char* endpoint : {"", "http://127.0.0.1", "http://127.0.0.1/key", "http://127.0.0.10:80/key",
                               "https://127.0.0.1:7880/key", "HTTP://127.0.0.1:7880/key", "http://localhost:7880/key",
                               "http://[::1]:7880/key", " http://127.0.0.1:7880/key"}) {
    EXPECT_FALSE(loopback_development_mode(endpoint)) << endpoint;
  }
  // Other loopback URLs build without renditions; the plain IPv4 form without a port too.
  for (const char* url : {"http://[::1]:7880/whip", "http://127.0.0.1/whip", "http://127.0.0.1"}) {
    const std::string description =
        built(config_for("monitor:1", url, "devkey_01", 1920, 1080, 60, 6000), "wgc", 1, kX264Quality);
    EXPECT_EQ(description.find(" tee name=captured"), std::string::npos) << description;
    EXPECT_EQ(description.find("stun-server"), std::string::npos) << description;
    EXPECT_EQ(description.find("?width="), std::string::npos) << description;
  }
}

// --- Failures, in the order they are checked ---

TEST(BroadcastDescriptionFailure, InvalidUrlOrKeyIsTheCredentialsMessage) {
  const BroadcastConfig good = config_for("monitor:1", "https://h.example/w", "key_0001", 1280, 720, 30, 3000);
  ASSERT_TRUE(build_broadcast_description(good, "wgc", 1, kX264Cbr).ok());
  for (const std::string& key :
       {std::string(7, 'k'), std::string(257, 'k'), std::string("key.0001"), std::string("key 0001"), std::string()}) {
    BroadcastConfig config = good;
    config.stream_key = key;
    EXPECT_EQ(failure(config, kX264Cbr), "LiveKit WHIP credentials are invalid") << key;
  }
  for (const char* url : {"", "https://", "https:///x", "http://h.example/w", "https://h.example/ w"}) {
    BroadcastConfig config = good;
    config.whip_url = url;
    EXPECT_EQ(failure(config, kX264Cbr), "LiveKit WHIP credentials are invalid") << url;
  }
  // Credentials come before the capture source and the encoder.
  BroadcastConfig everything_wrong = good;
  everything_wrong.stream_key = "short";
  everything_wrong.capture_source_id = "screen";
  EXPECT_EQ(failure(everything_wrong, UsableEncoder{"openh264enc", "software", "", ""}),
            "LiveKit WHIP credentials are invalid");
}

TEST(BroadcastDescriptionFailure, CaptureSourceErrorsAreReportedAsTheyAre) {
  BroadcastConfig config = config_for("monitor", "https://h.example/w", "key_0001", 1280, 720, 30, 3000);
  EXPECT_EQ(failure(config, kX264Cbr), "capture source ID is invalid");
  config.capture_source_id = "monitor:12a";
  EXPECT_EQ(failure(config, kX264Cbr), "capture source handle is invalid");
  config.capture_source_id = "monitor:18446744073709551616";
  EXPECT_EQ(failure(config, kX264Cbr), "capture source handle is invalid");
  config.capture_source_id = "screen:1";
  EXPECT_EQ(failure(config, kX264Cbr), "capture source kind is invalid");
  // The capture source comes before the encoder.
  EXPECT_EQ(failure(config, UsableEncoder{"openh264enc", "software", "", ""}), "capture source kind is invalid");
}

TEST(BroadcastDescriptionFailure, EncodersOutsideTheCatalogueAreUnsupported) {
  const BroadcastConfig config = config_for("monitor:1", "https://h.example/w", "key_0001", 1280, 720, 30, 3000);
  for (const char* name : {"", "openh264enc", "X264ENC", "x264enc ", "vtenc_h264", "nvh264enc", "mfh265enc"}) {
    EXPECT_EQ(failure(config, UsableEncoder{name, "hardware", "1080p60", "constrained-vbr"}),
              "selected video encoder is unsupported")
        << '"' << name << '"';
  }
  for (const char* name : {"x264enc", "nvd3d11h264enc", "qsvh264enc", "amfh264enc", "mfh264enc"}) {
    const auto description =
        build_broadcast_description(config, "wgc", 1, UsableEncoder{name, "hardware", "1080p60", "cbr-fallback"});
    ASSERT_TRUE(description.ok()) << name << ": " << description.error();
    EXPECT_NE(description->find(std::string(" ! ") + name + " name=video_encoder bitrate=3000 "), std::string::npos)
        << *description;
  }
}

// --- WHIP URL rules ---

TEST(WhipUrl, HttpsWithAHostAndTheLoopbackOriginsAreAccepted) {
  for (const char* url :
       {"https://a", "https://live.example.com/whip", "https://h.example/w/", "https://h.example:8443/w?x=1",
        "http://localhost", "http://localhost/", "http://localhost:7880", "http://localhost/whip", "http://127.0.0.1",
        "http://127.0.0.1:7880/whip", "http://127.0.0.1/", "http://[::1]", "http://[::1]/w", "http://[::1]:8080",
        "https://\xC3\xA9t\xC3\xA9.example", "https://x\xE2\x80\x8By", "https://x\x1Fy"}) {
    EXPECT_TRUE(whip_url_acceptable(url)) << url;
  }
}

TEST(WhipUrl, OtherSchemesEmptyHostsAndLookAlikeHostsAreRejected) {
  for (const char* url : {"",
                          "https://",
                          "https:///x",
                          "https:////",
                          "https:/x",
                          "https:x",
                          "HTTPS://h.example",
                          "Https://h.example",
                          "http://h.example/w",
                          "ftp://h.example",
                          "wss://h.example",
                          "http://localhost.evil.example",
                          "http://localhostx",
                          "http://LOCALHOST",
                          "http://localhost@x",
                          "http://127.0.0.10",
                          "http://127.0.0.1.evil.example",
                          "http://127.0.0.2",
                          "http://[::1]x",
                          "http://[::2]",
                          "http://::1",
                          "//localhost",
                          "localhost"}) {
    EXPECT_FALSE(whip_url_acceptable(url)) << url;
  }
}

TEST(WhipUrl, WhiteSpaceAnywhereIsRejected) {
  for (std::string_view space :
       {" ", "\t", "\n", "\r", "\v", "\f", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x8A",
        "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"}) {
    const std::string s(space);
    for (const std::string& url : {s + "https://h.example/w", "https://h.example" + s + "/w", "https://h.example/w" + s,
                                   "http://localhost" + s, "http://[::1]/" + s}) {
      EXPECT_FALSE(whip_url_acceptable(url)) << url;
    }
  }
}

TEST(WhipUrl, IllFormedBytesAreNotWhiteSpaceButDoNotHideIt) {
  EXPECT_TRUE(whip_url_acceptable("https://h.example/\xFF\xFE"));
  EXPECT_TRUE(whip_url_acceptable("https://h.example/\xE3\x80"));  // U+3000 cut short
  EXPECT_TRUE(whip_url_acceptable("https://h.example/\xC0\xA0"));  // an overlong U+0020
  EXPECT_TRUE(whip_url_acceptable("https://h.example/\x80\x80"));
  // A stray lead byte before white space: decoding resumes at the next byte and finds the space.
  EXPECT_FALSE(whip_url_acceptable("https://h.example/\xE3\xE3\x80\x80"));
  EXPECT_FALSE(whip_url_acceptable("https://h.example/\xC2\xC2\xA0"));
  EXPECT_FALSE(whip_url_acceptable("https://h.example/\xFF "));
}

TEST(WhipUrl, AtMost2048Bytes) {
  const std::string https_2048 = "https://" + std::string(2040, 'a');
  ASSERT_EQ(https_2048.size(), 2048U);
  EXPECT_TRUE(whip_url_acceptable(https_2048));
  EXPECT_FALSE(whip_url_acceptable(https_2048 + "a"));
  const std::string loopback_2048 = "http://localhost/" + std::string(2031, 'w');
  ASSERT_EQ(loopback_2048.size(), 2048U);
  EXPECT_TRUE(whip_url_acceptable(loopback_2048));
  EXPECT_FALSE(whip_url_acceptable(loopback_2048 + "w"));
}

// --- Stream keys ---

TEST(StreamKey, EightTo256BytesOfTheKeyAlphabet) {
  EXPECT_TRUE(stream_key_acceptable("AZaz09_-"));
  EXPECT_TRUE(stream_key_acceptable("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-"));
  EXPECT_TRUE(stream_key_acceptable(std::string(256, 'Z')));
  EXPECT_FALSE(stream_key_acceptable(std::string(257, 'Z')));
  EXPECT_FALSE(stream_key_acceptable("AZaz09_"));
  EXPECT_FALSE(stream_key_acceptable(""));
  for (const char* key : {"key.0001", "key 0001", "key+0001", "key/0001", "key=0001", "key\"0001", "key\\0001",
                          "key\t0001", "k\xC3\xA9y00001", "key00001\n"}) {
    EXPECT_FALSE(stream_key_acceptable(key)) << key;
  }
  EXPECT_FALSE(
      stream_key_acceptable(std::string_view("key\0"
                                             "0001",
                                             8)));
}

// --- Quoting, the endpoint, bits per second ---

TEST(QuoteDescriptionValue, BackslashesDoubledThenQuotesEscapedThenEnclosed) {
  EXPECT_EQ(quote_description_value(""), R"("")");
  EXPECT_EQ(quote_description_value("plain"), R"("plain")");
  EXPECT_EQ(quote_description_value(R"(")"), R"("\"")");
  EXPECT_EQ(quote_description_value(R"(\)"), R"("\\")");
  EXPECT_EQ(quote_description_value(R"(\")"), R"("\\\"")");
  EXPECT_EQ(quote_description_value(R"(a"b\c)"), R"("a\"b\\c")");
  EXPECT_EQ(quote_description_value(R"(\\?\SWD#MMDEVAPI#{0.0.1}")"), R"("\\\\?\\SWD#MMDEVAPI#{0.0.1}\"")");
}

TEST(WhipEndpoint, TrailingSlashesGiveWayToExactlyOne) {
  EXPECT_EQ(whip_endpoint("https://h.example/whip", "key_0001"), "https://h.example/whip/key_0001");
  EXPECT_EQ(whip_endpoint("https://h.example/whip/", "key_0001"), "https://h.example/whip/key_0001");
  EXPECT_EQ(whip_endpoint("https://h.example/whip///", "key_0001"), "https://h.example/whip/key_0001");
  EXPECT_EQ(whip_endpoint("https://h.example//whip", "key_0001"), "https://h.example//whip/key_0001");
  EXPECT_EQ(whip_endpoint("http://localhost", "key_0001"), "http://localhost/key_0001");
  EXPECT_EQ(whip_endpoint("///", "k"), "/k");

  const BroadcastConfig config = config_for("monitor:1", "https://h.example/whip/", "key_0001", 1280, 720, 30, 3000);
  EXPECT_NE(built(config, "wgc", 1, kX264Cbr).find(" signaller::whip-endpoint=\"https://h.example/whip/key_0001\" "),
            std::string::npos);
}

TEST(BitsPerSecond, ThousandTimesSaturating) {
  EXPECT_EQ(bits_per_second(0), 0U);
  EXPECT_EQ(bits_per_second(1), 1000U);
  EXPECT_EQ(bits_per_second(96), 96000U);
  EXPECT_EQ(bits_per_second(4294967), 4294967000U);
  EXPECT_EQ(bits_per_second(4294968), kMax32);
  EXPECT_EQ(bits_per_second(kMax32), kMax32);
}

// --- Redaction ---

TEST(RedactSecrets, EndpointFirstThenTheKeyElsewhere) {
  const std::string endpoint = "https://h.example/whip/key_0001";
  EXPECT_EQ(redact_secrets("POST https://h.example/whip/key_0001 failed (key key_0001)", endpoint, "key_0001"),
            "POST [redacted-whip-endpoint] failed (key [redacted])");
  EXPECT_EQ(redact_secrets("key_0001key_0001 https://h.example/whip/key_0001https://h.example/whip/key_0001", endpoint,
                           "key_0001"),
            "[redacted][redacted] [redacted-whip-endpoint][redacted-whip-endpoint]");
  // The endpoint with a suffix is still the endpoint; a prefix of it is not.
  EXPECT_EQ(redact_secrets("https://h.example/whip/key_0001?width=1 https://h.example/whip/", endpoint, "key_0001"),
            "[redacted-whip-endpoint]?width=1 https://h.example/whip/");
  EXPECT_EQ(redact_secrets("nothing secret", endpoint, "key_0001"), "nothing secret");
  EXPECT_EQ(redact_secrets("", endpoint, "key_0001"), "");
}

TEST(RedactSecrets, MarkersAreNeverRewritten) {
  // A key that is part of the endpoint marker's text.
  EXPECT_EQ(redact_secrets("at https://h.example/redacted: redacted", "https://h.example/redacted", "redacted"),
            "at [redacted-whip-endpoint]: [redacted]");
}

TEST(RedactSecrets, EmptySecretsReplaceNothing) {
  EXPECT_EQ(redact_secrets("a https://h.example/k key_0001", "", "key_0001"), "a https://h.example/k [redacted]");
  EXPECT_EQ(redact_secrets("a https://h.example/k key_0001", "https://h.example/k", ""),
            "a [redacted-whip-endpoint] key_0001");
  EXPECT_EQ(redact_secrets("a b", "", ""), "a b");
}

}  // namespace
}  // namespace corvane::helper
