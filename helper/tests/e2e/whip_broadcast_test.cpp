// A broadcast built by the engine, published to a real WHIP server: Debian's GStreamer runs the
// engine's exact descriptions, with the stand-in elements (standins/gst_elements) in place of the
// Windows capture, WASAPI and WHIP elements, into Janus behind simple-whip-server on 127.0.0.1 in this
// process's own network namespace. Each test drives the engine's supervision step itself, as the
// session loop does.
//
// The stand-in WHIP sink makes its offer only once encoded frames reached it, so every WHIP failure
// here arrives after frames were captured and the network recovery is the first one. (A failure that
// arrives before any frame makes the engine switch the capture API first, by design; the engine's
// unit tests cover that order.)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "e2e/broadcast_setup.h"
#include "e2e/whip_server.h"
#include "gst/dl_loader.h"
#include "windows/media/broadcast_engine.h"
#include "windows/media/video_profiles.h"

// Live pipelines keep GLib's, GStreamer's and libnice's threads and caches until the process ends:
// leaks are looked for in the gst tests; here every pipeline's release is checked by a weak reference.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace corvane::helper {
namespace {

using e2e::broadcast_request;
using e2e::PublisherTraffic;
using e2e::SystemMachine;
using e2e::WhipServer;
using std::chrono::milliseconds;

constexpr const char* kOpenEndpoint = "corvane_open_endpoint";
constexpr const char* kLockedEndpoint = "corvane_locked_endpoint";
constexpr int kEventLimitMs = 30000;

std::optional<std::string>& network_error() {
  static std::optional<std::string> error = "the network namespace was not set up";
  return error;
}

// Runs before any test, while the process has one thread: the stand-in elements on the plug-in path,
// a registry of this build's own, and the private network.
class PrivateNetwork : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("GST_PLUGIN_PATH", CORVANE_STANDIN_ELEMENTS_DIR, 1);
    setenv("GST_REGISTRY", CORVANE_E2E_REGISTRY, 1);
    network_error() = e2e::enter_private_network();
  }
};
const auto* const kNetwork = ::testing::AddGlobalTestEnvironment(new PrivateNetwork);

const MediaRuntime& runtime() {
  static const MediaRuntime loaded = gst_test::load_dl_runtime();
  return loaded;
}

template <class Function>
Function symbol(const char* name) {
  return gst_test::function_at<Function>(gst_test::find_dl_symbol(*runtime().libraries, name));
}

// Notes when a GObject is finalised.
class FinalizeWatch {
 public:
  explicit FinalizeWatch(void* object) : object_(object) {
    symbol<WeakRef>("g_object_weak_ref")(object, &notify, this);
  }
  FinalizeWatch(const FinalizeWatch&) = delete;
  FinalizeWatch& operator=(const FinalizeWatch&) = delete;
  ~FinalizeWatch() {
    if (!finalized()) {
      symbol<WeakRef>("g_object_weak_unref")(object_, &notify, this);
    }
  }
  bool finalized() const { return finalized_.load(); }

 private:
  using WeakRef = void (*)(void*, void (*)(void*, void*), void*);
  static void notify(void* data, void*) { static_cast<FinalizeWatch*>(data)->finalized_ = true; }
  void* object_;
  std::atomic<bool> finalized_{false};
};

std::string describe(const SupervisionEvent& event) {
  if (const auto* failed = std::get_if<BroadcastFailed>(&event)) {
    return "failed: " + failed->message;
  }
  if (const auto* recovery = std::get_if<protocol::BroadcastRecovery>(&event)) {
    return "recovery " + recovery->component + "/" + recovery->detail;
  }
  if (const auto* stats = std::get_if<protocol::BroadcastStats>(&event)) {
    return "stats fps=" + std::to_string(stats->frames_per_second) + " bps=" + std::to_string(stats->bitrate_bps);
  }
  return std::holds_alternative<BroadcastEnded>(event) ? "ended" : "nothing";
}

bool is_whip_reconnect(const SupervisionEvent& event) {
  const auto* recovery = std::get_if<protocol::BroadcastRecovery>(&event);
  return recovery != nullptr && *recovery == protocol::BroadcastRecovery{"network", "whip", true};
}

class WhipBroadcast : public ::testing::Test {
 protected:
  void SetUp() override {
    if (network_error()) {
      const char* ci = std::getenv("CI");
      if (ci != nullptr && std::string(ci) == "true") {
        FAIL() << "no private network under CI: " << *network_error();
      }
      GTEST_SKIP() << "skipped: no private network for the WHIP server (" << *network_error()
                   << "); run as root, or under CI";
    }
    ASSERT_TRUE(runtime().available()) << runtime().runtime_error;
    ASSERT_EQ(server_.start_janus(), std::nullopt) << server_.log_tail();
    ASSERT_EQ(start_whip(), std::nullopt) << server_.log_tail();
    MediaRuntime borrowed;
    borrowed.symbols = runtime().symbols;  // the libraries stay with the process's runtime
    engine_ = std::make_unique<BroadcastEngine>(std::move(borrowed), machine_);
  }

  void TearDown() override { engine_.reset(); }

  std::optional<std::string> start_whip() {
    return server_.start_whip({{kOpenEndpoint, ""}, {kLockedEndpoint, "corvane-token"}});
  }

  // The next event of the supervision step (run every 10 ms, as the session loop does), or nothing
  // after kEventLimitMs.
  SupervisionEvent next_event() {
    SupervisionEvent event;
    e2e::wait_until(
        [&] {
          event = supervise_broadcast(*engine_);
          return !std::holds_alternative<std::monostate>(event);
        },
        kEventLimitMs);
    return event;
  }

  // The next event that is not statistics: on a slow machine the 2 s statistics can come before the
  // server's answer, and they say nothing about it.
  // Bounded: a broadcast that only ever reports statistics shows as its last statistics.
  SupervisionEvent next_event_besides_statistics() {
    SupervisionEvent event = next_event();
    for (int skipped = 0; skipped < 10 && std::holds_alternative<protocol::BroadcastStats>(event); ++skipped) {
      event = next_event();
    }
    return event;
  }

  // The next statistics with frames in them, skipping empty ones; fails on any other event.
  std::optional<protocol::BroadcastStats> next_stats_with_frames() {
    for (int sample = 0; sample < 5; ++sample) {
      const SupervisionEvent event = next_event();
      const auto* stats = std::get_if<protocol::BroadcastStats>(&event);
      if (stats == nullptr) {
        ADD_FAILURE() << "expected statistics, got " << describe(event) << "\n" << server_.log_tail();
        return std::nullopt;
      }
      if (stats->frames_per_second > 0) {
        return *stats;
      }
    }
    ADD_FAILURE() << "five statistics without a frame";
    return std::nullopt;
  }

  PublisherTraffic traffic() {
    PublisherTraffic now;
    if (auto error = server_.publisher_traffic(now)) {
      ADD_FAILURE() << error.value();
    }
    return now;
  }

  // Waits until Janus counts more video and audio packets than `before` from publishers.
  PublisherTraffic wait_for_more_packets(const PublisherTraffic& before) {
    PublisherTraffic now;
    const bool grew = e2e::wait_until(
        [&] {
          now = traffic();
          return now.video_packets > before.video_packets && now.audio_packets > before.audio_packets;
        },
        kEventLimitMs);
    EXPECT_TRUE(grew) << "Janus received no new packets: video " << now.video_packets << ", audio " << now.audio_packets
                      << "\n"
                      << server_.log_tail();
    return now;
  }

  WhipServer server_;
  SystemMachine machine_;
  std::unique_ptr<BroadcastEngine> engine_;
};

TEST_F(WhipBroadcast, PublishesVideoAndBothAudioSourcesThenDeletesTheSessionOnStop) {
  const auto started = start_broadcast(*engine_, broadcast_request(kOpenEndpoint), 4242);
  ASSERT_TRUE(started) << started.error();
  EXPECT_EQ(started->encoder, "x264enc");
  EXPECT_TRUE(started->system_audio_active);

  // Statistics come from the frames counted in the running pipeline.
  for (int round = 0; round < 2; ++round) {
    const auto stats = next_stats_with_frames();
    ASSERT_TRUE(stats);
    EXPECT_GT(stats->bitrate_bps, 0u);
    EXPECT_EQ(stats->encoder, "x264enc");
    EXPECT_EQ(stats->encoder_kind, "software");
    EXPECT_EQ(stats->profile_id, "compat");
    std::cout << "[ stats    ] " << describe(*stats) << " latency=" << stats->average_latency_ms
              << " ms dropped=" << stats->dropped_frames << "\n";
  }
  const PublisherTraffic received = wait_for_more_packets({});
  ASSERT_EQ(received.handles.size(), 1u);
  std::cout << "[ janus    ] video " << received.video_packets << " packets (" << received.video_bytes
            << " bytes), audio " << received.audio_packets << " packets\n";

  const FinalizeWatch pipeline(engine_->running->element());
  stop_broadcast(*engine_);
  EXPECT_TRUE(pipeline.finalized()) << "the pipeline outlived the stop";
  EXPECT_FALSE(engine_->running);
  // The sink deleted its WHIP session: the server hung up the publisher's handle.
  PublisherTraffic after;
  EXPECT_TRUE(e2e::wait_until(
      [&] {
        after = traffic();
        return after.handles.empty();
      },
      kEventLimitMs))
      << after.handles.size() << " publisher handles remain";
}

TEST_F(WhipBroadcast, RefusedCredentialsEndTheBroadcastWithoutReconnecting) {
  // The locked endpoint wants a token, which the engine never sends (the key travels in the URL).
  ASSERT_TRUE(start_broadcast(*engine_, broadcast_request(kLockedEndpoint), 4242));
  SupervisionEvent event = next_event_besides_statistics();
  const auto* failed = std::get_if<BroadcastFailed>(&event);
  ASSERT_NE(failed, nullptr) << describe(event);
  EXPECT_EQ(failed->message,
            "the WHIP credentials are no longer valid; start the broadcast again: Signalling error: Unexpected "
            "response: 403 - Unauthorized [component=whip]");
  EXPECT_FALSE(engine_->running);
  EXPECT_EQ(engine_->whip_reconnects, 0u);

  // An endpoint the server does not know.
  ASSERT_TRUE(start_broadcast(*engine_, broadcast_request("corvane_no_such_endpoint"), 4242));
  event = next_event_besides_statistics();
  failed = std::get_if<BroadcastFailed>(&event);
  ASSERT_NE(failed, nullptr) << describe(event);
  EXPECT_EQ(failed->message,
            "the WHIP credentials are no longer valid; start the broadcast again: Signalling error: Unexpected "
            "response: 404 - Invalid endpoint ID [component=whip]");
  EXPECT_TRUE(traffic().handles.empty());
}

TEST_F(WhipBroadcast, AStoppedServerIsRetriedThreeTimesThenTheBroadcastFails) {
  server_.stop_whip();
  ASSERT_TRUE(start_broadcast(*engine_, broadcast_request(kOpenEndpoint), 4242));
  for (int attempt = 1; attempt <= 3; ++attempt) {
    const SupervisionEvent event = next_event_besides_statistics();
    EXPECT_TRUE(is_whip_reconnect(event)) << "attempt " << attempt << ": " << describe(event);
  }
  const SupervisionEvent event = next_event_besides_statistics();
  const auto* failed = std::get_if<BroadcastFailed>(&event);
  ASSERT_NE(failed, nullptr) << describe(event);
  // The session sends this as MEDIA_PIPELINE_FAILED. The error quoted the endpoint, and with it the key.
  EXPECT_EQ(failed->message.rfind("the WHIP transport could not reconnect: Signalling error: error sending request "
                                  "for url ([redacted-whip-endpoint]): ",
                                  0),
            0u)
      << failed->message;
  EXPECT_NE(failed->message.find("Connection refused"), std::string::npos) << failed->message;
  EXPECT_EQ(failed->message.find(kOpenEndpoint), std::string::npos) << failed->message;
  EXPECT_FALSE(engine_->running);
}

TEST_F(WhipBroadcast, ABroadcastResumesWhenTheServerComesBack) {
  server_.stop_whip();
  ASSERT_TRUE(start_broadcast(*engine_, broadcast_request(kOpenEndpoint), 4242));
  SupervisionEvent event = next_event();
  ASSERT_TRUE(is_whip_reconnect(event)) << describe(event);
  ASSERT_EQ(start_whip(), std::nullopt) << server_.log_tail();

  // The reconnect in flight may still have found the server down: only further network recoveries
  // may come before the broadcast runs again.
  int recoveries = 1;
  for (;;) {
    event = next_event();
    if (!std::holds_alternative<protocol::BroadcastRecovery>(event)) {
      break;
    }
    ASSERT_TRUE(is_whip_reconnect(event)) << describe(event);
    ASSERT_LT(++recoveries, 3) << "the server's restart was slower than every reconnect";
  }
  const auto* stats = std::get_if<protocol::BroadcastStats>(&event);
  ASSERT_NE(stats, nullptr) << describe(event);
  EXPECT_EQ(stats->recovery_reason, "bandwidth");
  EXPECT_EQ(wait_for_more_packets({}).handles.size(), 1u);
  EXPECT_TRUE(engine_->running);
}

TEST_F(WhipBroadcast, ABitRateChangeIsLiveAndASizeChangeRepublishes) {
  ASSERT_TRUE(start_broadcast(*engine_, broadcast_request(kOpenEndpoint), 4242));
  ASSERT_TRUE(next_stats_with_frames());
  const PublisherTraffic before = wait_for_more_packets({});
  ASSERT_EQ(before.handles.size(), 1u);
  void* const pipeline = engine_->running->element();

  // The same size: the running encoder takes the new rate.
  const ProfileUpdate live = update_broadcast_profile(*engine_, {"compat", 960, 540, 30, 800, 64});
  ASSERT_TRUE(live.encoder) << live.encoder.error();
  ASSERT_TRUE(engine_->running);
  EXPECT_EQ(engine_->running->element(), pipeline);
  GstElement* encoder = engine_->runtime.symbols->gst_bin_get_by_name(engine_->running->element(), "video_encoder");
  ASSERT_NE(encoder, nullptr);
  unsigned kbps = 0;
  symbol<void (*)(void*, const char*, ...)>("g_object_get")(encoder, "bitrate", &kbps, nullptr);
  engine_->runtime.symbols->gst_object_unref(encoder);
  EXPECT_EQ(kbps, 800u);
  const PublisherTraffic during = wait_for_more_packets(before);
  EXPECT_EQ(during.handles, before.handles);
  const auto stats = next_stats_with_frames();
  ASSERT_TRUE(stats);
  std::cout << "[ rate     ] after the change to 800 kbit/s: " << describe(*stats) << "\n";

  // Another size: a new pipeline, and the server sees a new session in place of the old one.
  const std::string profile(derive_profile_id(640, 30));
  const ProfileUpdate rebuilt = update_broadcast_profile(*engine_, {profile, 640, 360, 30, 800, 64});
  ASSERT_TRUE(rebuilt.encoder) << rebuilt.encoder.error();
  PublisherTraffic after;
  EXPECT_TRUE(e2e::wait_until(
      [&] {
        after = traffic();
        return after.handles.size() == 1 && after.handles != before.handles && after.video_packets > 0 &&
               after.audio_packets > 0;
      },
      kEventLimitMs))
      << after.handles.size() << " publisher handles\n"
      << server_.log_tail();
  ASSERT_TRUE(engine_->running);
  EXPECT_EQ(engine_->running->config().width, 640u);
}

}  // namespace
}  // namespace corvane::helper
