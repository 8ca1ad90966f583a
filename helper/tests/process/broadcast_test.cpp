// Broadcasts through the real helper with the stand-in runtime scripted as a machine whose only
// H.264 encoder is x264enc: start, statistics, recovery, end of stream, stop, and the client leaving.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "helper_connection.h"
#include "misbehaving_parent.h"
#include "process_figures.h"
#include "standin_runtime.h"

namespace corvane::testing {
namespace {

// Probing passes for x264enc only; every broadcast pipeline counts 50 captured and 40 encoded frames
// of 1500 bytes when it starts playing.
std::vector<std::string> x264_machine(std::initializer_list<const char*> bus_lines = {}) {
  std::vector<std::string> lines = {"factory x264enc",
                                    "factory d3d11screencapturesrc",
                                    "factory d3d11convert",
                                    "factory h264parse",
                                    "factory webrtcbin",
                                    "factory whipclientsink",
                                    "factory identity",
                                    "bus videotestsrc -> eos",
                                    "handoff raw_telemetry 50 0",
                                    "handoff encoded_telemetry 40 1500"};
  lines.insert(lines.end(), bus_lines.begin(), bus_lines.end());
  return lines;
}

class Broadcast : public HelperWithStandInRuntime {
 protected:
  // The first capture source the helper lists (a monitor of the test's X server).
  std::string first_source(HelperConnection& connection) {
    const auto sources = connection.request(protocol::reply("s", protocol::ListCaptureSources{}));
    const auto* list = sources ? std::get_if<protocol::CaptureSourceList>(&sources->payload) : nullptr;
    return list != nullptr && !list->sources.empty() ? list->sources.front().id : std::string();
  }

  // Starts a broadcast and returns the reply's status word, or the error's message.
  std::string start(HelperConnection& connection, const std::string& id = "go") {
    const std::string source = first_source(connection);
    if (source.empty()) {
      return "no capture source";
    }
    const auto reply = connection.request(protocol::reply(id, x264_broadcast_of(source)));
    if (!reply) {
      return "no reply";
    }
    if (const auto* status = std::get_if<protocol::HelperStatus>(&reply->payload)) {
      return status->status + "/" + status->detail;
    }
    if (const auto* error = std::get_if<protocol::HelperError>(&reply->payload)) {
      return error->code + ": " + error->message;
    }
    return "unexpected reply";
  }

  static std::string stop(HelperConnection& connection) {
    const auto reply = connection.request(protocol::reply("stop", protocol::StopBroadcast{}));
    const auto* status = reply ? std::get_if<protocol::HelperStatus>(&reply->payload) : nullptr;
    return status != nullptr ? status->status : "no status";
  }

  // The next event that is not a statistics event (bounded wait, not a pass condition).
  static std::optional<protocol::HelperEnvelope> next_non_statistics(HelperConnection& connection) {
    for (;;) {
      auto event = connection.receive_within(30000);
      if (!event || !std::holds_alternative<protocol::BroadcastStats>(event->payload)) {
        return event;
      }
    }
  }

  // Pipelines the runtime handed out, and the references left after each one's last release.
  std::map<std::string, std::string> pipelines_and_last_release() const {
    std::map<std::string, std::string> pipelines;
    for (const std::string& line : recorded_calls()) {
      const auto launched = line.find("-> pipeline");
      if (line.rfind("gst_parse_launch ", 0) == 0 && launched != std::string::npos) {
        pipelines.emplace(line.substr(launched + 3), "never released");
      }
      if (line.rfind("gst_object_unref pipeline", 0) == 0) {
        const auto arrow = line.find(" -> ");
        pipelines[line.substr(17, arrow - 17)] = line.substr(arrow + 4);
      }
    }
    return pipelines;
  }

  // Every pipeline was released to its last reference.
  void expect_every_pipeline_released(std::size_t expected_pipelines) const {
    const auto pipelines = pipelines_and_last_release();
    EXPECT_EQ(pipelines.size(), expected_pipelines);
    for (const auto& [pipeline, left] : pipelines) {
      EXPECT_EQ(left, "0") << pipeline;
    }
  }
};

TEST_F(Broadcast, StartsReportsTheCountersEveryTwoSecondsAndStops) {
  write_script(x264_machine());
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_EQ(start(connection), "broadcasting/x264enc");

  const auto first = connection.receive_within(30000);
  ASSERT_TRUE(first);
  const auto* stats = std::get_if<protocol::BroadcastStats>(&first->payload);
  ASSERT_NE(stats, nullptr) << "payload member " << protocol::payload_field(first->payload);
  EXPECT_EQ(stats->encoder, "x264enc");
  EXPECT_EQ(stats->encoder_kind, "software");
  EXPECT_EQ(stats->profile_id, "compat");
  EXPECT_EQ(stats->recovery_reason, "none");
  EXPECT_EQ(stats->dropped_frames, 10u) << "50 captured, 40 encoded";
  ASSERT_GT(stats->frames_per_second, 0.0);
  // Both rates share the interval: bits per encoded frame is 1500 × 8 whatever the interval was.
  EXPECT_NEAR(static_cast<double>(stats->bitrate_bps) / stats->frames_per_second, 12000.0, 1.0);

  const auto second = connection.receive_within(30000);
  ASSERT_TRUE(second);
  const auto* later = std::get_if<protocol::BroadcastStats>(&second->payload);
  ASSERT_NE(later, nullptr) << "payload member " << protocol::payload_field(second->payload);
  EXPECT_EQ(later->frames_per_second, 0.0) << "no frame since the first statistics";
  EXPECT_EQ(later->dropped_frames, 0u);

  EXPECT_EQ(stop(connection), "idle");
  EXPECT_EQ(connection.finish().exit_code, 0u);
  expect_every_pipeline_released(2);  // the probe's and the broadcast's
}

TEST_F(Broadcast, NetworkErrorsReconnectThreeTimesThenEndTheBroadcast) {
  // Every broadcast pipeline, the reconnected ones too, fails after a few empty polls.
  write_script(x264_machine({"bus whipclientsink -> none", "bus whipclientsink -> none",
                             "bus whipclientsink -> error Connection to the server was lost | whip.rs(7)"}));
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_EQ(start(connection), "broadcasting/x264enc");
  for (int reconnect = 1; reconnect <= 3; ++reconnect) {
    const auto event = next_non_statistics(connection);
    ASSERT_TRUE(event) << "reconnect " << reconnect;
    const auto* recovery = std::get_if<protocol::BroadcastRecovery>(&event->payload);
    ASSERT_NE(recovery, nullptr) << "payload member " << protocol::payload_field(event->payload);
    EXPECT_EQ(*recovery, (protocol::BroadcastRecovery{"network", "whip", true}));
  }
  const auto final_event = next_non_statistics(connection);
  ASSERT_TRUE(final_event);
  const auto* error = std::get_if<protocol::HelperError>(&final_event->payload);
  ASSERT_NE(error, nullptr) << "payload member " << protocol::payload_field(final_event->payload);
  EXPECT_EQ(*error,
            (protocol::HelperError{"MEDIA_PIPELINE_FAILED",
                                   "the WHIP transport could not reconnect: Connection to the server was lost", true}));
  EXPECT_EQ(stop(connection), "idle");
  EXPECT_EQ(connection.finish().exit_code, 0u);
  expect_every_pipeline_released(5);  // the probe's, the first and three reconnected broadcasts
}

TEST_F(Broadcast, RejectedCredentialsEndTheBroadcastWithoutReconnectingOrShowingTheKey) {
  // The sink's error text names no network word outside the endpoint it quotes; its debug text names the WHIP sink.
  write_script(
      x264_machine({"bus whipclientsink -> error Signalling error: Unexpected response: 403 - Unauthorized (POST "
                    "https://live.example.com/whip/stream_key_1234, key stream_key_1234) | "
                    "imp.rs(250): /GstPipeline:pipeline0/GstWhipClientSink:whip"}));
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_EQ(start(connection), "broadcasting/x264enc");
  const auto event = next_non_statistics(connection);
  ASSERT_TRUE(event);
  const auto* error = std::get_if<protocol::HelperError>(&event->payload);
  ASSERT_NE(error, nullptr) << "payload member " << protocol::payload_field(event->payload);
  EXPECT_EQ(error->message,
            "the WHIP credentials are no longer valid; start the broadcast again: Signalling error: Unexpected "
            "response: 403 - Unauthorized (POST [redacted-whip-endpoint], key [redacted]) [component=whip]");
  EXPECT_EQ(connection.finish().exit_code, 0u);
  expect_every_pipeline_released(2);
}

TEST_F(Broadcast, EndOfStreamIsReportedAsEnded) {
  write_script(x264_machine({"bus whipclientsink -> none", "bus whipclientsink -> eos"}));
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_EQ(start(connection), "broadcasting/x264enc");
  const auto event = next_non_statistics(connection);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->request_id, "");
  const auto* status = std::get_if<protocol::HelperStatus>(&event->payload);
  ASSERT_NE(status, nullptr) << "payload member " << protocol::payload_field(event->payload);
  EXPECT_EQ(*status, (protocol::HelperStatus{true, "ended", ""}));
  EXPECT_EQ(stop(connection), "idle");
  EXPECT_EQ(connection.finish().exit_code, 0u);
  expect_every_pipeline_released(2);
}

TEST_F(Broadcast, AProfileChangeThatLosesTheBroadcastSaysSoAfterItsReply) {
  // The new size fails to start, and so does the first size when it is tried again.
  write_script(x264_machine({"parse-from 2 d3d11screencapturesrc -> error no element \"d3d11download\""}));
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_EQ(start(connection), "broadcasting/x264enc");
  ASSERT_TRUE(
      connection.send(protocol::reply("smaller", protocol::UpdateBroadcastProfile{"safe", 640, 360, 30, 800, 96})));
  const std::string message = "could not apply the broadcast profile: no element \"d3d11download\"";
  const auto reply = next_non_statistics(connection);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->request_id, "smaller");
  EXPECT_EQ(std::get<protocol::HelperError>(reply->payload),
            (protocol::HelperError{"BROADCAST_PROFILE_UPDATE_FAILED", message, true}));
  const auto event = connection.receive_within(30000);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->request_id, "");
  EXPECT_EQ(std::get<protocol::HelperError>(event->payload),
            (protocol::HelperError{"MEDIA_PIPELINE_FAILED", message, true}));
  EXPECT_EQ(stop(connection), "idle") << "nothing else came in between";
  EXPECT_EQ(connection.finish().exit_code, 0u);
  expect_every_pipeline_released(2);
}

TEST_F(Broadcast, AParentEndingInsideAFrameStopsTheBroadcastAndTheHelperExitsCleanly) {
  write_script(x264_machine());
  MisbehavingParent parent(helper_path(), L"half-frame-broadcasting");
  ASSERT_TRUE(parent.ready());
  parent.go();
  EXPECT_EQ(parent.helper_exit_code(), 0u);
  const std::string standard_error = parent.finish().standard_error;  // the probe's lines, and no error
  EXPECT_EQ(standard_error.find("corvane-media-helper:"), std::string::npos) << standard_error;
  expect_every_pipeline_released(2);
  const std::vector<std::string> calls = recorded_calls();
  const auto released = std::find(calls.begin(), calls.end(), "gst_object_unref pipeline2 -> 0");
  const auto unloaded = std::find(calls.begin(), calls.end(), "unload gstreamer-1.0-0.dll");
  ASSERT_NE(unloaded, calls.end());
  EXPECT_LT(released, unloaded);
}

TEST_F(Broadcast, TheClientLeavingWhileBroadcastingStopsThePipelineAndTheHelperExitsCleanly) {
  write_script(x264_machine());
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  ASSERT_EQ(start(connection), "broadcasting/x264enc");
  const ChildOutcome outcome = connection.finish();
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exit_code, 0u);
  EXPECT_EQ(outcome.standard_error.find("error"), std::string::npos) << outcome.standard_error;
  // The broadcast pipeline was set to NULL before its last reference went, and the runtime was unloaded after.
  const std::vector<std::string> calls = recorded_calls();
  const auto stopped = std::find(calls.begin(), calls.end(), "gst_element_set_state pipeline2 NULL -> success");
  const auto released = std::find(calls.begin(), calls.end(), "gst_object_unref pipeline2 -> 0");
  const auto unloaded = std::find(calls.begin(), calls.end(), "unload gstreamer-1.0-0.dll");
  ASSERT_NE(stopped, calls.end());
  ASSERT_NE(released, calls.end());
  ASSERT_NE(unloaded, calls.end());
  EXPECT_LT(stopped, released);
  EXPECT_LT(released, unloaded);
}

TEST_F(Broadcast, AHundredStartsAndStopsLeaveNothingBehind) {
  write_script(x264_machine());
  HelperConnection connection(std::nullopt, std::nullopt, helper_path());
  ASSERT_TRUE(connection.connect_and_authenticate());
  const std::string source = first_source(connection);
  ASSERT_FALSE(source.empty());
  auto cycle = [&](int index) {
    const auto started = connection.request(protocol::reply("go" + std::to_string(index), x264_broadcast_of(source)));
    const auto* status = started ? std::get_if<protocol::HelperStatus>(&started->payload) : nullptr;
    return status != nullptr && status->status == "broadcasting" && stop(connection) == "idle";
  };
  // The first cycles settle the heap and the pipe's buffers; growth is measured after them.
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(cycle(i)) << "cycle " << i;
  }
  const ProcessFigures before = figures_of(connection.helper().handle(), connection.helper().pid());
  for (int i = 10; i < 100; ++i) {
    ASSERT_TRUE(cycle(i)) << "cycle " << i;
  }
  const ProcessFigures after = figures_of(connection.helper().handle(), connection.helper().pid());
  ASSERT_GT(before.handles, 0u) << "the handle table could not be read";
  EXPECT_LE(after.handles, before.handles);
  // A leak of the pipeline's bookkeeping would grow by kilobytes per cycle; allocator noise stays well below this.
  EXPECT_LT(after.working_set, before.working_set + 1024 * 1024) << before.working_set << " -> " << after.working_set;
  EXPECT_EQ(connection.finish().exit_code, 0u);
  expect_every_pipeline_released(101);
}

}  // namespace
}  // namespace corvane::testing
