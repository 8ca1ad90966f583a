// Our protobuf codec beside libprotobuf on the same bytes: decoding a StartBroadcast command and
// encoding a MediaCapabilities report, with heap allocations per iteration (allocs_per_iter).
#include <benchmark/benchmark.h>
#include <google/protobuf/arena.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "corvane_helper.pb.h"
#include "protocol/messages.h"

// ---- allocation counting: every global operator new counts while `counting` is on ----

namespace {

bool counting = false;
std::uint64_t allocations = 0;

void* allocate(std::size_t size) {
  if (counting) {
    ++allocations;
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
  if (counting) {
    ++allocations;
  }
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
  if (void* block = std::aligned_alloc(align, rounded == 0 ? align : rounded)) {
    return block;
  }
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment) { return allocate_aligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocate_aligned(size, alignment); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t /*alignment*/) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t /*alignment*/) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t /*size*/, std::align_val_t /*alignment*/) noexcept { std::free(block); }

namespace corvane::protocol {
namespace {

namespace pb = ::corvane::helper;

// Counts the allocations of a benchmark's timed loop and reports them per iteration.
class AllocationCounter {
 public:
  explicit AllocationCounter(benchmark::State& state) : state_(state) {
    allocations = 0;
    counting = true;
  }
  ~AllocationCounter() {
    counting = false;
    state_.counters["allocs_per_iter"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  }
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

 private:
  benchmark::State& state_;
};

void set_bytes(benchmark::State& state, std::size_t bytes_per_iteration) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes_per_iteration));
}

// ---- the StartBroadcast command to decode ----

constexpr std::string_view kWhipUrl = "https://whip.live.example/ingest/k7Qp2xZ";
constexpr std::string_view kStreamKey = "sk_4f9a1c7e2b8d6035a9e1f4c7b2d8e";
constexpr std::string_view kMicrophone = "{0.0.1.00000000}.{8d2f3b6a-1c4e-4a7b-9f0";
static_assert(kWhipUrl.size() == 40 && kStreamKey.size() == 32 && kMicrophone.size() == 40);

HelperEnvelope start_broadcast_envelope() {
  StartBroadcast start;
  start.capture_source_id = "monitor:65537";
  start.whip_url = kWhipUrl;
  start.stream_key = kStreamKey;
  start.width = 1920;
  start.height = 1080;
  start.frame_rate = 60;
  start.video_bitrate_kbps = 6000;
  start.system_audio = true;
  start.microphone_device_id = kMicrophone;
  start.profile_id = "gaming";
  start.audio_bitrate_kbps = 128;
  return reply("start-7", start);
}

// The wire bytes both decoders read; our writer and libprotobuf's agree on them (checked once).
const std::vector<std::uint8_t>& start_broadcast_bytes() {
  static const std::vector<std::uint8_t> bytes = encode_envelope(start_broadcast_envelope());
  return bytes;
}

bool start_broadcast_bytes_agree(benchmark::State& state) {
  const auto& bytes = start_broadcast_bytes();
  pb::HelperEnvelope lib;
  if (!lib.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())) ||
      lib.SerializeAsString() != std::string(bytes.begin(), bytes.end())) {
    state.SkipWithError("libprotobuf does not reproduce our StartBroadcast bytes");
    return false;
  }
  const auto ours = decode_envelope(bytes, Sender::client);
  if (!ours || !(*ours == start_broadcast_envelope())) {
    state.SkipWithError("our decoder does not read back the StartBroadcast envelope");
    return false;
  }
  return true;
}

void DecodeStartBroadcastOurs(benchmark::State& state) {
  if (!start_broadcast_bytes_agree(state)) {
    return;
  }
  const auto& bytes = start_broadcast_bytes();
  {
    AllocationCounter counter(state);
    for ([[maybe_unused]] auto _ : state) {
      auto envelope = decode_envelope(bytes, Sender::client);
      benchmark::DoNotOptimize(envelope);
    }
  }
  set_bytes(state, bytes.size());
}

void DecodeStartBroadcastLibprotobufFresh(benchmark::State& state) {
  if (!start_broadcast_bytes_agree(state)) {
    return;
  }
  const auto& bytes = start_broadcast_bytes();
  {
    AllocationCounter counter(state);
    for ([[maybe_unused]] auto _ : state) {
      pb::HelperEnvelope envelope;
      const bool parsed = envelope.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
      benchmark::DoNotOptimize(parsed);
      benchmark::DoNotOptimize(envelope);
    }
  }
  set_bytes(state, bytes.size());
}

void DecodeStartBroadcastLibprotobufReused(benchmark::State& state) {
  if (!start_broadcast_bytes_agree(state)) {
    return;
  }
  const auto& bytes = start_broadcast_bytes();
  pb::HelperEnvelope envelope;
  {
    AllocationCounter counter(state);
    for ([[maybe_unused]] auto _ : state) {
      envelope.Clear();
      const bool parsed = envelope.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
      benchmark::DoNotOptimize(parsed);
      benchmark::DoNotOptimize(envelope);
    }
  }
  set_bytes(state, bytes.size());
}

void DecodeStartBroadcastLibprotobufArena(benchmark::State& state) {
  if (!start_broadcast_bytes_agree(state)) {
    return;
  }
  const auto& bytes = start_broadcast_bytes();
  {
    AllocationCounter counter(state);
    for ([[maybe_unused]] auto _ : state) {
      google::protobuf::Arena arena;
      auto* envelope = google::protobuf::Arena::CreateMessage<pb::HelperEnvelope>(&arena);
      const bool parsed = envelope->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
      benchmark::DoNotOptimize(parsed);
      benchmark::DoNotOptimize(envelope);
    }
  }
  set_bytes(state, bytes.size());
}

// ---- the MediaCapabilities report to encode ----

HelperEnvelope media_capabilities_envelope() {
  MediaCapabilities caps;
  caps.ok = true;
  caps.windows_graphics_capture_available = true;
  caps.system_audio_available = false;
  caps.always_true = true;
  caps.usable_encoders = {"nvh264enc", "mfh264enc", "x264enc"};
  caps.active_encoder = "nvh264enc";
  caps.active_probe_profile = "nvenc-cbr-high-p4";
  caps.unavailable_reasons = {{"systemAudio", "WASAPI loopback activation failed: AUDCLNT_E_DEVICE_INVALIDATED"}};
  caps.runtime_version = "GStreamer 1.24.12 (MSVC x86_64)";
  caps.active_encoder_kind = "hardware";
  caps.allowed_profile_ids = {"safe", "balanced", "gaming", "high-motion"};
  caps.encoders = {
      EncoderInfo{"nvh264enc", true, "hardware", "nvenc-cbr-high-p4", "cbr", "NVIDIA GeForce RTX 4070, driver 551.86"},
      EncoderInfo{"amfh264enc", false, "hardware", "amf-cbr-main", "cbr", "no AMD adapter"},
      EncoderInfo{"qsvh264enc", false, "hardware", "qsv-cbr-main", "cbr", "no Intel adapter"},
      EncoderInfo{"mfh264enc", true, "hardware", "mf-cbr-baseline", "cbr", "Media Foundation H.264 encoder MFT"},
      EncoderInfo{"x264enc", true, "software", "x264-veryfast-zerolatency", "cbr", "fallback"},
  };
  return reply("caps-1", caps);
}

bool media_capabilities_agree(benchmark::State& state, const pb::HelperEnvelope& lib) {
  const std::string bytes = lib.SerializeAsString();
  const auto decoded = decode_envelope(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), Sender::helper);
  if (!decoded || !(*decoded == media_capabilities_envelope())) {
    state.SkipWithError("libprotobuf's MediaCapabilities does not hold our report");
    return false;
  }
  return true;
}

void EncodeMediaCapabilitiesOurs(benchmark::State& state) {
  const HelperEnvelope envelope = media_capabilities_envelope();
  std::size_t size = 0;
  {
    AllocationCounter counter(state);
    for ([[maybe_unused]] auto _ : state) {
      auto bytes = encode_envelope(envelope);
      size = bytes.size();
      benchmark::DoNotOptimize(bytes);
    }
  }
  set_bytes(state, size);
}

pb::HelperEnvelope lib_media_capabilities() {
  const std::vector<std::uint8_t> bytes = encode_envelope(media_capabilities_envelope());
  pb::HelperEnvelope lib;
  (void)lib.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()));
  return lib;
}

void EncodeMediaCapabilitiesLibprotobuf(benchmark::State& state) {
  const pb::HelperEnvelope envelope = lib_media_capabilities();
  if (!media_capabilities_agree(state, envelope)) {
    return;
  }
  std::size_t size = 0;
  {
    AllocationCounter counter(state);
    for ([[maybe_unused]] auto _ : state) {
      std::string bytes;
      const bool written = envelope.SerializeToString(&bytes);
      size = bytes.size();
      benchmark::DoNotOptimize(written);
      benchmark::DoNotOptimize(bytes);
    }
  }
  set_bytes(state, size);
}

void EncodeMediaCapabilitiesLibprotobufReusedString(benchmark::State& state) {
  const pb::HelperEnvelope envelope = lib_media_capabilities();
  if (!media_capabilities_agree(state, envelope)) {
    return;
  }
  std::string bytes;
  {
    AllocationCounter counter(state);
    for ([[maybe_unused]] auto _ : state) {
      const bool written = envelope.SerializeToString(&bytes);
      benchmark::DoNotOptimize(written);
      benchmark::DoNotOptimize(bytes);
    }
  }
  set_bytes(state, bytes.size());
}

BENCHMARK(DecodeStartBroadcastOurs)->Name("DecodeStartBroadcast/ours");
BENCHMARK(DecodeStartBroadcastLibprotobufFresh)->Name("DecodeStartBroadcast/libprotobuf_fresh");
BENCHMARK(DecodeStartBroadcastLibprotobufReused)->Name("DecodeStartBroadcast/libprotobuf_reused");
BENCHMARK(DecodeStartBroadcastLibprotobufArena)->Name("DecodeStartBroadcast/libprotobuf_arena");
BENCHMARK(EncodeMediaCapabilitiesOurs)->Name("EncodeMediaCapabilities/ours");
BENCHMARK(EncodeMediaCapabilitiesLibprotobuf)->Name("EncodeMediaCapabilities/libprotobuf");
BENCHMARK(EncodeMediaCapabilitiesLibprotobufReusedString)->Name("EncodeMediaCapabilities/libprotobuf_reused_string");

}  // namespace
}  // namespace corvane::protocol

BENCHMARK_MAIN();
