#include "windows/media/media_telemetry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace corvane::helper {
namespace {

using Calls = std::vector<std::string>;
using Clock = MediaTelemetry::Clock;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// The test's clock: instants are milliseconds after an arbitrary origin.
Clock::time_point fake_instant;
Clock::time_point fake_now() { return fake_instant; }
void set_time_ms(std::int64_t ms) { fake_instant = Clock::time_point{} + std::chrono::milliseconds(ms); }

// A buffer whose size the fake gst_buffer_get_size reports.
struct FakeBuffer {
  std::size_t size;
};
GstBuffer* buffer_of(FakeBuffer& buffer) { return reinterpret_cast<GstBuffer*>(&buffer); }
std::size_t fake_buffer_get_size(GstBuffer* buffer) { return reinterpret_cast<FakeBuffer*>(buffer)->size; }

// Identity elements of a scripted pipeline, and what the handlers were connected with.
alignas(8) unsigned char pipeline_object[16];
alignas(8) unsigned char raw_object[16];
alignas(8) unsigned char encoded_object[16];
GstElement* const kPipeline = reinterpret_cast<GstElement*>(pipeline_object);
GstElement* const kRaw = reinterpret_cast<GstElement*>(raw_object);
GstElement* const kEncoded = reinterpret_cast<GstElement*>(encoded_object);

std::string name_of(const void* object) {
  if (object == kPipeline) return "pipeline";
  if (object == kRaw) return "raw";
  if (object == kEncoded) return "encoded";
  return "unknown";
}

struct Connection {
  void (*handler)();
  void* data;
};

struct FakeRuntime {
  Calls calls;
  std::map<std::string, GstElement*> children;
  std::vector<unsigned long> handler_ids;  // returned by successive connections
  std::vector<Connection> connections;
};
FakeRuntime fake;

GstElement* fake_bin_get_by_name(GstElement* bin, const char* name) {
  fake.calls.push_back("get_by_name " + name_of(bin) + " " + name);
  const auto found = fake.children.find(name);
  return found != fake.children.end() ? found->second : nullptr;
}

void fake_object_unref(void* object) { fake.calls.push_back("unref " + name_of(object)); }

unsigned long fake_signal_connect_data(void* instance, const char* signal, void (*handler)(), void* data,
                                       void (*destroy)(void*, void*), int flags) {
  fake.calls.push_back("connect " + name_of(instance) + " " + signal + (destroy == nullptr ? "" : " destroy") +
                       (flags == 0 ? "" : " flags"));
  fake.connections.push_back({handler, data});
  const unsigned long id = fake.handler_ids.at(fake.connections.size() - 1);
  return id;
}

// Calls a connected handler the way GObject does: with the handoff signature.
void emit(const Connection& connection, GstElement* identity, GstBuffer* buffer) {
  reinterpret_cast<HandoffCallback>(connection.handler)(identity, buffer, connection.data);
}

class MediaTelemetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakeRuntime{};
    set_time_ms(0);
    telemetry.now = fake_now;
    telemetry.gst_buffer_get_size = fake_buffer_get_size;
    gst.gst_bin_get_by_name = fake_bin_get_by_name;
    gst.gst_object_unref = fake_object_unref;
    gst.g_signal_connect_data = fake_signal_connect_data;
    gst.gst_buffer_get_size = fake_buffer_get_size;
  }

  void raw_at(std::int64_t ms) {
    set_time_ms(ms);
    on_raw_telemetry_frame(kRaw, nullptr, &telemetry);
  }

  void encoded_at(std::int64_t ms, std::size_t bytes) {
    set_time_ms(ms);
    FakeBuffer buffer{bytes};
    on_encoded_telemetry_frame(kEncoded, buffer_of(buffer), &telemetry);
  }

  MediaTelemetry telemetry;
  RuntimeSymbols gst{};
};

TEST_F(MediaTelemetryTest, EncodedFrameWithoutRawFrameCountsFramesAndBytesButNoLatency) {
  encoded_at(10, 1200);
  encoded_at(20, 800);
  const MediaTelemetryCounts counts = telemetry.snapshot();
  EXPECT_EQ(counts.raw_frames, 0U);
  EXPECT_EQ(counts.encoded_frames, 2U);
  EXPECT_EQ(counts.encoded_bytes, 2000U);
  EXPECT_EQ(counts.latency_samples, 0U);
  EXPECT_EQ(counts.latency_sum_ms, 0.0);
}

TEST_F(MediaTelemetryTest, PendingRawInstantsKeepTheNewest240) {
  for (std::int64_t i = 0; i < 300; ++i) {
    raw_at(i);
  }
  EXPECT_EQ(telemetry.snapshot().raw_frames, 300U);
  ASSERT_EQ(telemetry.pending_raw_instants.size(), MediaTelemetry::kMaxPendingRawInstants);
  // The 60 oldest (0-59 ms) were dropped: the next encoded frame pairs with the one at 60 ms.
  encoded_at(1000, 1);
  const MediaTelemetryCounts counts = telemetry.snapshot();
  EXPECT_EQ(counts.latency_samples, 1U);
  EXPECT_DOUBLE_EQ(counts.latency_sum_ms, 940.0);
  EXPECT_EQ(telemetry.pending_raw_instants.size(), 239U);
}

TEST_F(MediaTelemetryTest, EncodedFramesPairWithRawFramesFirstInFirstOut) {
  raw_at(10);
  raw_at(20);
  raw_at(30);
  encoded_at(25, 100);  // with 10 ms: 15
  encoded_at(50, 100);  // with 20 ms: 30
  encoded_at(35, 100);  // with 30 ms: 5
  MediaTelemetryCounts counts = telemetry.snapshot();
  EXPECT_EQ(counts.latency_samples, 3U);
  EXPECT_DOUBLE_EQ(counts.latency_sum_ms, 50.0);

  encoded_at(60, 100);  // nothing left to pair with
  raw_at(100);
  encoded_at(90, 100);  // earlier than its raw frame: counts as 0 ms
  raw_at(200);
  set_time_ms(200);
  fake_instant += std::chrono::microseconds(1500);
  FakeBuffer buffer{100};
  on_encoded_telemetry_frame(kEncoded, buffer_of(buffer), &telemetry);  // fractions of a millisecond are kept
  counts = telemetry.snapshot();
  EXPECT_EQ(counts.latency_samples, 5U);
  EXPECT_DOUBLE_EQ(counts.latency_sum_ms, 51.5);
  EXPECT_EQ(counts.encoded_frames, 6U);
  EXPECT_EQ(counts.raw_frames, 5U);
}

TEST_F(MediaTelemetryTest, CountersStopAtTheirMaximum) {
  telemetry.raw_frames = kMax - 1;
  telemetry.encoded_frames = kMax;
  telemetry.encoded_bytes = kMax - 10;
  telemetry.latency_samples = kMax;
  raw_at(0);
  raw_at(1);
  encoded_at(2, 100);
  const MediaTelemetryCounts counts = telemetry.snapshot();
  EXPECT_EQ(counts.raw_frames, kMax);
  EXPECT_EQ(counts.encoded_frames, kMax);
  EXPECT_EQ(counts.encoded_bytes, kMax);
  EXPECT_EQ(counts.latency_samples, kMax);
  EXPECT_DOUBLE_EQ(counts.latency_sum_ms, 2.0);
}

TEST_F(MediaTelemetryTest, AttachConnectsBothHandlersAndReleasesTheElements) {
  fake.children = {{"raw_telemetry", kRaw}, {"encoded_telemetry", kEncoded}};
  fake.handler_ids = {11, 12};
  telemetry.gst_buffer_get_size = nullptr;
  const Status status = attach_telemetry(gst, kPipeline, telemetry);
  ASSERT_TRUE(status.ok()) << status.error();
  EXPECT_EQ(fake.calls, (Calls{"get_by_name pipeline raw_telemetry", "connect raw handoff", "unref raw",
                               "get_by_name pipeline encoded_telemetry", "connect encoded handoff", "unref encoded"}));
  ASSERT_EQ(fake.connections.size(), 2U);

  // The handlers count into this telemetry, the first as raw frames and the second as encoded ones
  // measured with the runtime's gst_buffer_get_size.
  EXPECT_EQ(telemetry.gst_buffer_get_size, fake_buffer_get_size);
  set_time_ms(5);
  emit(fake.connections[0], kRaw, nullptr);
  set_time_ms(9);
  FakeBuffer buffer{4096};
  emit(fake.connections[1], kEncoded, buffer_of(buffer));
  const MediaTelemetryCounts counts = telemetry.snapshot();
  EXPECT_EQ(counts.raw_frames, 1U);
  EXPECT_EQ(counts.encoded_frames, 1U);
  EXPECT_EQ(counts.encoded_bytes, 4096U);
  EXPECT_EQ(counts.latency_samples, 1U);
  EXPECT_DOUBLE_EQ(counts.latency_sum_ms, 4.0);
}

TEST_F(MediaTelemetryTest, AttachFailsNamingAMissingElement) {
  const Status no_raw = attach_telemetry(gst, kPipeline, telemetry);
  ASSERT_FALSE(no_raw.ok());
  EXPECT_EQ(no_raw.error(), "media telemetry element raw_telemetry was not created");
  EXPECT_EQ(fake.calls, Calls{"get_by_name pipeline raw_telemetry"});

  fake = FakeRuntime{};
  fake.children = {{"raw_telemetry", kRaw}};
  fake.handler_ids = {11};
  const Status no_encoded = attach_telemetry(gst, kPipeline, telemetry);
  ASSERT_FALSE(no_encoded.ok());
  EXPECT_EQ(no_encoded.error(), "media telemetry element encoded_telemetry was not created");
  EXPECT_EQ(fake.calls, (Calls{"get_by_name pipeline raw_telemetry", "connect raw handoff", "unref raw",
                               "get_by_name pipeline encoded_telemetry"}));
}

TEST_F(MediaTelemetryTest, AttachFailsWhenAHandlerIsNotConnectedAndStillReleasesTheElement) {
  fake.children = {{"raw_telemetry", kRaw}, {"encoded_telemetry", kEncoded}};
  fake.handler_ids = {0};
  const Status raw_refused = attach_telemetry(gst, kPipeline, telemetry);
  ASSERT_FALSE(raw_refused.ok());
  EXPECT_EQ(raw_refused.error(), "could not attach media telemetry to raw_telemetry");
  EXPECT_EQ(fake.calls, (Calls{"get_by_name pipeline raw_telemetry", "connect raw handoff", "unref raw"}));

  fake.calls.clear();
  fake.connections.clear();
  fake.handler_ids = {11, 0};
  const Status encoded_refused = attach_telemetry(gst, kPipeline, telemetry);
  ASSERT_FALSE(encoded_refused.ok());
  EXPECT_EQ(encoded_refused.error(), "could not attach media telemetry to encoded_telemetry");
  EXPECT_EQ(fake.calls, (Calls{"get_by_name pipeline raw_telemetry", "connect raw handoff", "unref raw",
                               "get_by_name pipeline encoded_telemetry", "connect encoded handoff", "unref encoded"}));
}

}  // namespace
}  // namespace corvane::helper
