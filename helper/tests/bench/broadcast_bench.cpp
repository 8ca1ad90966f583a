// The broadcast engine's per-frame and per-step costs, on an engine running a broadcast against the
// scripted in-process GStreamer table (unit/standin_gstreamer) with a clock that stands still.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "unit/fake_gstreamer.h"
#include "windows/media/broadcast_engine.h"

namespace corvane::helper {
namespace {

using corvane::testing::FakeGstreamer;
using corvane::testing::PipelineRule;

// A clock that moves only when the engine sleeps (probing); the capture source the broadcast names.
class StillMachine : public MediaMachine {
 public:
  Clock::time_point now() override { return time; }
  void sleep_for(std::chrono::milliseconds duration) override { time += duration; }
  std::optional<std::uint32_t> windows_build() override { return 22631; }
  void probe_log(std::string_view /*line*/) override {}
  Result<std::vector<protocol::CaptureSource>> capture_sources() override {
    return std::vector<protocol::CaptureSource>{{"monitor:65537", "monitor", "m", ""}};
  }

  Clock::time_point time{};
};

// A "handoff" handler as the pipeline's identity elements received it through g_signal_connect_data.
struct Connection {
  std::string signal;
  void (*handler)();
  void* data;
};

std::vector<Connection> connections;

unsigned long record_connection(void* /*instance*/, const char* signal, void (*handler)(), void* data,
                                void (* /*destroy*/)(void*, void*), int /*flags*/) {
  connections.push_back({signal, handler, data});
  return connections.size();
}

// An engine holding a running 540p30 x264enc broadcast whose bus stays empty, and the two telemetry
// handlers it connected, called the way GStreamer's streaming threads call them.
class RunningBroadcast {
 public:
  explicit RunningBroadcast(benchmark::State& state) {
    FakeGstreamer& gst = FakeGstreamer::reset();
    gst.factories = corvane::testing::common_factories();
    gst.factories.insert({"x264enc", "audiomixer"});
    gst.rules = {{"d3d11screencapturesrc", PipelineRule::Outcome::silent}};
    connections.clear();
    MediaRuntime runtime;
    runtime.symbols = gst.table();
    runtime.symbols->g_signal_connect_data = &record_connection;
    engine_ = std::make_unique<BroadcastEngine>(std::move(runtime), machine_);

    protocol::StartBroadcast start;
    start.capture_source_id = "monitor:65537";
    start.whip_url = "https://live.example.com/whip";
    start.stream_key = "key_0123456789";
    start.width = 960;
    start.height = 540;
    start.frame_rate = 30;
    start.video_bitrate_kbps = 1300;
    start.profile_id = "compat";
    if (auto started = start_broadcast(*engine_, start, 4242); !started) {
      state.SkipWithError(("the broadcast did not start: " + started.error()).c_str());
      return;
    }
    for (const Connection& connection : connections) {
      if (connection.signal != "handoff" || connection.data != &engine_->running->telemetry()) {
        continue;
      }
      const auto handler = reinterpret_cast<HandoffCallback>(connection.handler);
      if (handler == &on_raw_telemetry_frame) {
        raw_ = handler;
      } else if (handler == &on_encoded_telemetry_frame) {
        encoded_ = handler;
      }
    }
    if (raw_ == nullptr || encoded_ == nullptr) {
      state.SkipWithError("the broadcast did not connect both telemetry handlers to its counters");
      return;
    }
    ready_ = true;
  }

  bool ready() const { return ready_; }
  BroadcastEngine& engine() { return *engine_; }

  // One frame: the raw handoff before the encoder, then the encoded handoff after it.
  void frame() {
    raw_(nullptr, buffer(), &engine_->running->telemetry());
    encoded_(nullptr, buffer(), &engine_->running->telemetry());
  }

  // After the timed loop: every frame was counted by both handlers and paired for one latency sample.
  void check_frames(benchmark::State& state) const {
    const MediaTelemetryCounts counts = engine_->running->counts();
    const auto frames = static_cast<std::uint64_t>(state.iterations());
    if (counts.raw_frames != frames || counts.encoded_frames != frames || counts.latency_samples != frames) {
      state.SkipWithError("the counters do not hold one raw and one encoded frame per iteration");
    }
  }

 private:
  // The fake's gst_buffer_get_size ignores its argument; a non-null pointer like a real buffer's.
  GstBuffer* buffer() { return reinterpret_cast<GstBuffer*>(&buffer_storage_); }

  StillMachine machine_;
  std::unique_ptr<BroadcastEngine> engine_;
  HandoffCallback raw_ = nullptr;
  HandoffCallback encoded_ = nullptr;
  alignas(8) unsigned char buffer_storage_[64] = {};
  bool ready_ = false;
};

// Both telemetry handoffs of one frame (raw, then encoded), nothing else touching the counters.
void TelemetryFrameAlone(benchmark::State& state) {
  RunningBroadcast broadcast(state);
  if (!broadcast.ready()) {
    return;
  }
  for ([[maybe_unused]] auto _ : state) {
    broadcast.frame();
  }
  broadcast.check_frames(state);
}

// Both telemetry handoffs of one frame while a second thread takes counter snapshots back to back.
void TelemetryFrameWithReader(benchmark::State& state) {
  RunningBroadcast broadcast(state);
  if (!broadcast.ready()) {
    return;
  }
  const MediaTelemetry& telemetry = broadcast.engine().running->telemetry();
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> snapshots{0};
  std::thread reader([&] {
    std::uint64_t taken = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      benchmark::DoNotOptimize(telemetry.snapshot());
      snapshots.store(++taken, std::memory_order_relaxed);
    }
  });
  while (snapshots.load(std::memory_order_relaxed) == 0) {
    std::this_thread::yield();
  }
  const std::uint64_t before = snapshots.load(std::memory_order_relaxed);
  for ([[maybe_unused]] auto _ : state) {
    broadcast.frame();
  }
  const std::uint64_t during = snapshots.load(std::memory_order_relaxed) - before;
  stop.store(true, std::memory_order_relaxed);
  reader.join();
  broadcast.check_frames(state);
  state.counters["reader_snapshots_per_frame"] =
      benchmark::Counter(static_cast<double>(during), benchmark::Counter::kAvgIterations);
}

// One supervise_broadcast step with nothing due: empty bus, statistics deadline 2 s ahead.
void IdleSupervisionStep(benchmark::State& state) {
  RunningBroadcast broadcast(state);
  if (!broadcast.ready()) {
    return;
  }
  BroadcastEngine& engine = broadcast.engine();
  if (!std::holds_alternative<std::monostate>(supervise_broadcast(engine))) {
    state.SkipWithError("the first supervision step of the broadcast was not idle");
    return;
  }
  const GstElement* pipeline = engine.running->element();
  bool idle = true;
  for ([[maybe_unused]] auto _ : state) {
    SupervisionEvent event = supervise_broadcast(engine);
    idle = idle && std::holds_alternative<std::monostate>(event);
    benchmark::DoNotOptimize(event);
  }
  if (!idle || !engine.running || engine.running->element() != pipeline) {
    state.SkipWithError("a supervision step did something: an event came, or the pipeline changed");
  }
}

BENCHMARK(TelemetryFrameAlone)->Name("TelemetryFrame/alone")->UseRealTime();
BENCHMARK(TelemetryFrameWithReader)->Name("TelemetryFrame/with_reader")->UseRealTime();
BENCHMARK(IdleSupervisionStep)->Name("SuperviseBroadcast/idle_step");

}  // namespace
}  // namespace corvane::helper

BENCHMARK_MAIN();
