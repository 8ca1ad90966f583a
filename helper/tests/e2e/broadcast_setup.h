#pragma once
// What the end-to-end tests and corvane_broadcast_run share: the machine as the engine sees it (one
// monitor, Windows 11's build number, the real clock) and the broadcast they start.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e/whip_server.h"
#include "windows/media/media_machine.h"

namespace corvane::e2e {

inline constexpr const char* kCaptureSource = "monitor:65537";

class SystemMachine : public helper::MediaMachine {
 public:
  Clock::time_point now() override { return Clock::now(); }
  void sleep_for(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
  std::optional<std::uint32_t> windows_build() override { return 22631; }
  void probe_log(std::string_view) override {}
  Result<std::vector<protocol::CaptureSource>> capture_sources() override {
    return std::vector<protocol::CaptureSource>{{kCaptureSource, "monitor", "Display 1", ""}};
  }
};

// 960x540 at 30 fps with x264's ceiling, system audio and a microphone, to this server's endpoint `key`.
inline protocol::StartBroadcast broadcast_request(std::string key) {
  protocol::StartBroadcast request;
  request.capture_source_id = kCaptureSource;
  request.whip_url = WhipServer::whip_url();
  request.stream_key = std::move(key);
  request.width = 960;
  request.height = 540;
  request.frame_rate = 30;
  request.video_bitrate_kbps = 1500;
  request.system_audio = true;
  request.microphone_device_id = "{0.0.1.00000000}.{standin-microphone}";
  request.audio_bitrate_kbps = 96;
  return request;
}

}  // namespace corvane::e2e
