// scripts/run broadcast: the engine broadcasts into Janus behind simple-whip-server, as the end-to-end
// tests set them up (this process's own network namespace, the stand-in capture, WASAPI and WHIP
// elements), printing statistics as they arrive and what Janus received. With --starts N it measures
// N starts; with --size WxH --seconds S it runs one pipeline of that size (past the engine's software
// ceiling, for measuring) and reports the CPU it used and what the server lost.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "e2e/broadcast_setup.h"
#include "e2e/whip_server.h"
#include "gst/dl_loader.h"
#include "windows/media/broadcast_engine.h"
#include "windows/media/encoder_probe.h"
#include "windows/media/video_profiles.h"

extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace corvane::helper {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kEndpoint = "corvane_run_endpoint";

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

protocol::StartBroadcast request() { return e2e::broadcast_request(kEndpoint); }

void print_traffic(const e2e::WhipServer& server) {
  e2e::PublisherTraffic traffic;
  if (auto error = server.publisher_traffic(traffic)) {
    std::cout << "Janus admin API: " << *error << "\n";
    return;
  }
  std::cout << "Janus received from " << traffic.handles.size() << " publisher(s): video " << traffic.video_packets
            << " packets (" << traffic.video_bytes << " bytes, " << traffic.video_lost << " lost), audio "
            << traffic.audio_packets << " packets\n";
}

void print_event(const SupervisionEvent& event, Clock::time_point start) {
  std::printf("%6.1f s  ", seconds_since(start));
  if (const auto* stats = std::get_if<protocol::BroadcastStats>(&event)) {
    std::printf(
        "statistics: %.1f frames/s, %llu bit/s, latency %.1f ms, dropped %llu, %s (%s), profile %s, recovery %s\n",
        stats->frames_per_second, static_cast<unsigned long long>(stats->bitrate_bps), stats->average_latency_ms,
        static_cast<unsigned long long>(stats->dropped_frames), stats->encoder.c_str(), stats->encoder_kind.c_str(),
        stats->profile_id.c_str(), stats->recovery_reason.c_str());
  } else if (const auto* recovery = std::get_if<protocol::BroadcastRecovery>(&event)) {
    std::printf("recovery: %s -> %s\n", recovery->component.c_str(), recovery->detail.c_str());
  } else if (const auto* failed = std::get_if<BroadcastFailed>(&event)) {
    std::printf("failed: %s\n", failed->message.c_str());
  } else {
    std::printf("ended\n");
  }
  std::fflush(stdout);
}

int broadcast(BroadcastEngine& engine, const e2e::WhipServer& server, int seconds) {
  const auto start = Clock::now();
  const auto started = start_broadcast(engine, request(), static_cast<std::uint32_t>(getpid()));
  if (!started) {
    std::cout << "start_broadcast failed: " << started.error() << "\n";
    return 1;
  }
  std::cout << "broadcasting with " << started->encoder << ", system audio and a microphone, for " << seconds << " s\n";
  while (seconds_since(start) < seconds) {
    const SupervisionEvent event = supervise_broadcast(engine);
    if (!std::holds_alternative<std::monostate>(event)) {
      print_event(event, start);
      if (std::holds_alternative<BroadcastFailed>(event) || std::holds_alternative<BroadcastEnded>(event)) {
        return 1;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  print_traffic(server);
  stop_broadcast(engine);
  std::cout << "stopped\n";
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

int measure_starts(BroadcastEngine& engine, const e2e::WhipServer& server, int starts) {
  std::vector<double> to_packet;
  std::vector<double> to_stats;
  for (int run = 0; run < starts; ++run) {
    e2e::PublisherTraffic before;
    server.publisher_traffic(before);
    const auto start = Clock::now();
    if (auto started = start_broadcast(engine, request(), 0); !started) {
      std::cout << "start " << run << ": " << started.error() << "\n";
      return 1;
    }
    double packet = -1;
    double stats = -1;
    while ((packet < 0 || stats < 0) && seconds_since(start) < 30) {
      if (stats < 0 && std::holds_alternative<protocol::BroadcastStats>(supervise_broadcast(engine))) {
        stats = seconds_since(start);
      }
      e2e::PublisherTraffic now;
      if (packet < 0 && !server.publisher_traffic(now) && now.video_packets > 0) {
        packet = seconds_since(start);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop_broadcast(engine);
    std::printf("start %2d: first packet at the server %.0f ms, first statistics %.0f ms\n", run + 1, packet * 1000,
                stats * 1000);
    to_packet.push_back(packet);
    to_stats.push_back(stats);
    // The server hangs up the deleted session before the endpoint takes a new one.
    e2e::wait_until(
        [&] {
          e2e::PublisherTraffic now;
          return !server.publisher_traffic(now) && now.handles.empty();
        },
        10000);
  }
  std::printf("p50 over %d starts: first packet %.0f ms, first statistics %.0f ms\n", starts, median(to_packet) * 1000,
              median(to_stats) * 1000);
  return 0;
}

int measure_pipeline(BroadcastEngine& engine, const e2e::WhipServer& server, std::uint32_t width, std::uint32_t height,
                     int seconds) {
  probe_encoders(engine);
  if (engine.usable_encoders.empty()) {
    std::cout << "no usable encoder\n";
    return 1;
  }
  BroadcastConfig config;
  config.capture_source_id = "monitor:65537";
  config.whip_url = e2e::WhipServer::whip_url();
  config.stream_key = kEndpoint;
  config.microphone_device_id = "{0.0.1.00000000}.{standin-microphone}";
  config.profile_id = std::string(derive_profile_id(width, 30));
  config.width = width;
  config.height = height;
  config.frame_rate = 30;
  config.video_bitrate_kbps = 2500;
  config.audio_bitrate_kbps = 96;
  config.system_audio = true;
  if (auto started = start_pipeline(engine, config, 0, engine.usable_encoders.front()); !started) {
    std::cout << "start_pipeline failed: " << started.error() << "\n";
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));  // past the start and the WHIP exchange
  const MediaTelemetryCounts first = engine.running->counts();
  e2e::PublisherTraffic before;
  server.publisher_traffic(before);
  const double cpu_before = cpu_seconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double wall = seconds_since(start);
  const double cpu = cpu_seconds() - cpu_before;
  const MediaTelemetryCounts last = engine.running->counts();
  e2e::PublisherTraffic after;
  server.publisher_traffic(after);
  stop_broadcast(engine);
  std::printf("%ux%u 30 fps x264, %d s: %.2f cores of CPU (%.0f%% of one core)\n", width, height, seconds, cpu / wall,
              cpu / wall * 100);
  std::printf("raw frames %llu, encoded frames %llu (%.1f/s); Janus: %llu video packets, %llu lost\n",
              static_cast<unsigned long long>(last.raw_frames - first.raw_frames),
              static_cast<unsigned long long>(last.encoded_frames - first.encoded_frames),
              static_cast<double>(last.encoded_frames - first.encoded_frames) / wall,
              static_cast<unsigned long long>(after.video_packets - before.video_packets),
              static_cast<unsigned long long>(after.video_lost - before.video_lost));
  return 0;
}

int run(int argc, char** argv) {
  int seconds = 20;
  int starts = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (arg == "--starts" && i + 1 < argc) {
      starts = std::atoi(argv[++i]);
    } else if (arg == "--size" && i + 1 < argc && std::sscanf(argv[++i], "%ux%u", &width, &height) == 2) {
    } else {
      std::cerr << "usage: corvane_broadcast_run [--seconds S] [--starts N | --size WxH]\n";
      return 2;
    }
  }
  setenv("GST_PLUGIN_PATH", CORVANE_STANDIN_ELEMENTS_DIR, 1);
  setenv("GST_REGISTRY", CORVANE_E2E_REGISTRY, 1);
  if (auto error = e2e::enter_private_network()) {
    std::cerr << "no private network for the WHIP server: " << *error << "\n";
    return 1;
  }
  e2e::WhipServer server;
  if (auto error = server.start_janus()) {
    std::cerr << *error << "\n" << server.log_tail();
    return 1;
  }
  if (auto error = server.start_whip({{kEndpoint, ""}})) {
    std::cerr << *error << "\n" << server.log_tail();
    return 1;
  }
  std::cout << "Janus 1.1.2 (VideoRoom) behind simple-whip-server on 127.0.0.1 in a private network namespace; "
               "endpoint "
            << e2e::WhipServer::whip_url() << "/" << kEndpoint << "\n"
            << "stand-ins: the screen (a moving test picture), system audio and microphone (tones), and "
               "whipclientsink (webrtcbin with WHIP over HTTP)\n";
  const MediaRuntime runtime = gst_test::load_dl_runtime();
  if (!runtime.available()) {
    std::cerr << "GStreamer: " << runtime.runtime_error << "\n";
    return 1;
  }
  e2e::SystemMachine machine;
  MediaRuntime borrowed;
  borrowed.symbols = runtime.symbols;
  BroadcastEngine engine(std::move(borrowed), machine);
  if (starts > 0) {
    return measure_starts(engine, server, starts);
  }
  if (width > 0) {
    return measure_pipeline(engine, server, width, height, seconds);
  }
  return broadcast(engine, server, seconds);
}

}  // namespace
}  // namespace corvane::helper

int main(int argc, char** argv) { return corvane::helper::run(argc, argv); }
