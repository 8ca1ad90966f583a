// Broadcast descriptions from build_broadcast_description against the real parser and real elements.
// The Windows-only elements (capture, Direct3D download, WASAPI sources, WHIP sinks) do not exist here:
// they are swapped for test sources and fake sinks in the generated text, so the conversion, encoder,
// caps, telemetry identities, Opus and mixer texts are exactly the builder's.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gst/dl_runtime.h"
#include "windows/media/broadcast_engine.h"
#include "windows/media/media_telemetry.h"
#include "windows/media/pipeline_description.h"
#include "windows/media/runtime_primitives.h"

namespace corvane::helper::gst_test {
namespace {

constexpr std::string_view kVideoSource = "videotestsrc is-live=true num-buffers=30";
constexpr std::string_view kAudioSource = "audiotestsrc is-live=true num-buffers=50";
constexpr std::uint64_t kVideoBuffers = 30;

const UsableEncoder kX264Cbr{"x264enc", "software", "540p30", "cbr-fallback"};
const UsableEncoder kX264Quality{"x264enc", "software", "540p30", "constrained-vbr"};

BroadcastConfig small_broadcast(std::string url) {
  BroadcastConfig config;
  config.capture_source_id = "monitor:65537";
  config.whip_url = std::move(url);
  config.stream_key = "gst_test_key";
  config.width = 640;
  config.height = 360;
  config.frame_rate = 30;
  config.video_bitrate_kbps = 1200;
  config.audio_bitrate_kbps = 96;
  return config;
}

// What the substitution replaced, to show each Windows-only element was there.
struct Substituted {
  std::string text;
  int video_sources = 0;
  int downloads = 0;
  int audio_sources = 0;
  int whip_sinks = 0;
  int whip_pads = 0;
};

// The description with its Windows-only elements swapped, token by token (values are quoted without
// spaces in these tests): the capture element and its properties become kVideoSource, "d3d11download !"
// goes, each WASAPI source and its properties becomes kAudioSource, each WHIP sink element and its
// properties goes, and each link to a WHIP sink's pad ("whip.video_0", "whip_q.video_0",
// "whip.audio_0") becomes a fakesink.
Substituted runnable(std::string_view description) {
  std::vector<std::string_view> tokens;
  for (std::size_t from = 0; from <= description.size();) {
    const std::size_t space = std::min(description.find(' ', from), description.size());
    tokens.push_back(description.substr(from, space - from));
    from = space + 1;
  }
  Substituted out;
  const auto emit = [&out](std::string_view token) {
    if (!out.text.empty()) {
      out.text += ' ';
    }
    out.text += token;
  };
  const auto skip_properties = [&tokens](std::size_t& i) {
    for (++i; i < tokens.size() && tokens[i].find('=') != std::string_view::npos; ++i) {
    }
  };
  for (std::size_t i = 0; i < tokens.size();) {
    const std::string_view token = tokens[i];
    if (token == "d3d11screencapturesrc") {
      emit(kVideoSource);
      ++out.video_sources;
      skip_properties(i);
    } else if (token == "wasapi2src") {
      emit(kAudioSource);
      ++out.audio_sources;
      skip_properties(i);
    } else if (token == "whipclientsink") {
      ++out.whip_sinks;
      skip_properties(i);
    } else if (token == "d3d11download" && i + 1 < tokens.size() && tokens[i + 1] == "!") {
      ++out.downloads;
      i += 2;
    } else if (token.starts_with("whip") && (token.ends_with(".video_0") || token.ends_with(".audio_0"))) {
      emit("fakesink");
      ++out.whip_pads;
      ++i;
    } else {
      emit(token);
      ++i;
    }
  }
  return out;
}

// A property of a named element of the pipeline, read with g_object_get.
template <class Value>
Value property_of(const RuntimeSymbols& gst, GstElement* pipeline, const char* element, const char* property) {
  Value value{};
  GstElement* found = gst.gst_bin_get_by_name(pipeline, element);
  if (found == nullptr) {
    ADD_FAILURE() << "no element " << element;
    return value;
  }
  using ObjectGet = void (*)(void*, const char*, ...);
  void* get_address = extra_symbol("g_object_get");
  if (get_address == nullptr) {
    ADD_FAILURE() << "g_object_get is missing";
  } else {
    function_at<ObjectGet>(get_address)(found, property, &value, nullptr);
  }
  gst.gst_object_unref(found);
  return value;
}

struct Outcome {
  BusPoll poll;
  Status attached = Done{};
  MediaTelemetryCounts counts;
};

class BroadcastDescriptionGstTest : public GstTest {
 protected:
  // The builder's description for `config`, made runnable here.
  static Substituted substituted(const BroadcastConfig& config, const UsableEncoder& encoder) {
    const auto description = build_broadcast_description(config, "wgc", 4242, encoder);
    if (!description.ok()) {
      ADD_FAILURE() << description.error();
      return {};
    }
    Substituted result = runnable(*description);
    for (const char* windows_only : {"d3d11", "wasapi", "whip"}) {
      EXPECT_EQ(result.text.find(windows_only), std::string::npos) << windows_only << " left in " << result.text;
    }
    return result;
  }

  // Telemetry attached, played to the end of the stream or an error, then released.
  Outcome play_to_end(GstElement* pipeline) const {
    Outcome outcome;
    MediaTelemetry telemetry;
    outcome.attached = attach_telemetry(gst(), pipeline, telemetry);
    if (!outcome.attached.ok()) {
      release_pipeline(gst(), pipeline, nullptr, kGstTestWaitNs);
      return outcome;
    }
    GstBus* bus = gst().gst_element_get_bus(pipeline);
    gst().gst_element_set_state(pipeline, kGstStatePlaying);
    outcome.poll = wait_for_bus_event(gst(), bus);
    release_pipeline(gst(), pipeline, bus, kGstTestWaitNs);
    outcome.counts = telemetry.snapshot();
    return outcome;
  }

  // The pipeline ran to its end with frames counted before and after the encoder. The leaky queues
  // of a live broadcast may drop frames when the machine is busy, so only the bounds are exact: no
  // more than the source made, and no more encoded than captured.
  static void expect_complete_run(const Outcome& outcome) {
    ASSERT_TRUE(outcome.attached.ok()) << outcome.attached.error();
    EXPECT_EQ(outcome.poll.event, BusEvent::eos) << outcome.poll.error_text;
    EXPECT_GT(outcome.counts.raw_frames, 0U);
    EXPECT_LE(outcome.counts.raw_frames, kVideoBuffers);
    EXPECT_GT(outcome.counts.encoded_frames, 0U);
    EXPECT_LE(outcome.counts.encoded_frames, outcome.counts.raw_frames);
    EXPECT_GT(outcome.counts.encoded_bytes, 0U);
  }
};

TEST_F(BroadcastDescriptionGstTest, SoftwareEncodeInBothRateControlModesRunsWithTelemetry) {
  for (const UsableEncoder& encoder : {kX264Cbr, kX264Quality}) {
    SCOPED_TRACE(encoder.rate_control);
    const Substituted pipeline_text = substituted(small_broadcast("https://sfu.example.org/whip"), encoder);
    EXPECT_EQ(pipeline_text.video_sources, 1);
    EXPECT_EQ(pipeline_text.downloads, 1);
    EXPECT_EQ(pipeline_text.whip_sinks, 1);
    EXPECT_EQ(pipeline_text.whip_pads, 1);
    GstElement* pipeline = launch(pipeline_text.text);
    ASSERT_NE(pipeline, nullptr);
    EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder", "bitrate"), 1200U);
    EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder", "key-int-max"), 60U);
    for (const char* identity : {"raw_telemetry", "encoded_telemetry"}) {
      EXPECT_NE(property_of<int>(gst(), pipeline, identity, "signal-handoffs"), 0) << identity;
      EXPECT_NE(property_of<int>(gst(), pipeline, identity, "silent"), 0) << identity;
    }
    expect_complete_run(play_to_end(pipeline));
  }
}

TEST_F(BroadcastDescriptionGstTest, LoopbackRenditionsBranchOffTheTeeAndRun) {
  BroadcastConfig config = small_broadcast("http://127.0.0.1:7880/whip");
  config.width = 960;
  config.height = 540;
  const Substituted pipeline_text = substituted(config, kX264Quality);
  EXPECT_EQ(pipeline_text.video_sources, 1);
  EXPECT_EQ(pipeline_text.downloads, 3);
  EXPECT_EQ(pipeline_text.whip_sinks, 3);
  EXPECT_EQ(pipeline_text.whip_pads, 3);
  GstElement* pipeline = launch(pipeline_text.text);
  ASSERT_NE(pipeline, nullptr);
  // The ladder of 960×540: quarter 320×180 at 100 kbit/s, half 640×360 at 260 kbit/s.
  EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder", "bitrate"), 1200U);
  EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder_q", "bitrate"), 100U);
  EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder_q", "key-int-max"), 30U);
  EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder_h", "bitrate"), 260U);
  EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder_h", "key-int-max"), 60U);
  expect_complete_run(play_to_end(pipeline));
}

TEST_F(BroadcastDescriptionGstTest, OneAudioSourceFeedsTheOpusTailAndRuns) {
  BroadcastConfig config = small_broadcast("https://sfu.example.org/whip");
  config.system_audio = true;
  config.exclude_app_audio = true;
  const Substituted pipeline_text = substituted(config, kX264Cbr);
  EXPECT_EQ(pipeline_text.audio_sources, 1);
  EXPECT_EQ(pipeline_text.whip_pads, 2);
  GstElement* pipeline = launch(pipeline_text.text);
  ASSERT_NE(pipeline, nullptr);
  EXPECT_EQ(property_of<int>(gst(), pipeline, "audio_encoder", "bitrate"), 96000);
  EXPECT_NE(property_of<int>(gst(), pipeline, "audio_encoder", "inband-fec"), 0);
  EXPECT_NE(property_of<int>(gst(), pipeline, "audio_encoder", "dtx"), 0);
  expect_complete_run(play_to_end(pipeline));
}

TEST_F(BroadcastDescriptionGstTest, TwoAudioSourcesMeetInTheMixerAndRun) {
  BroadcastConfig config = small_broadcast("https://sfu.example.org/whip");
  config.system_audio = true;
  config.microphone_device_id = "mic-1";
  config.audio_bitrate_kbps = 128;
  const Substituted pipeline_text = substituted(config, kX264Cbr);
  EXPECT_EQ(pipeline_text.audio_sources, 2);
  EXPECT_EQ(pipeline_text.whip_pads, 2);
  GstElement* pipeline = launch(pipeline_text.text);
  ASSERT_NE(pipeline, nullptr);
  EXPECT_EQ(property_of<std::uint64_t>(gst(), pipeline, "mix", "latency"), 10000000U);
  EXPECT_EQ(property_of<int>(gst(), pipeline, "audio_encoder", "bitrate"), 128000);
  expect_complete_run(play_to_end(pipeline));
}

TEST_F(BroadcastDescriptionGstTest, EncoderBitrateChangesWhilePlaying) {
  const Substituted pipeline_text = substituted(small_broadcast("https://sfu.example.org/whip"), kX264Cbr);
  GstElement* pipeline = launch(pipeline_text.text);
  ASSERT_NE(pipeline, nullptr);
  GstBus* bus = gst().gst_element_get_bus(pipeline);
  gst().gst_element_set_state(pipeline, kGstStatePlaying);
  int state = 0;
  int pending = 0;
  gst().gst_element_get_state(pipeline, &state, &pending, kGstTestWaitNs);
  EXPECT_EQ(state, kGstStatePlaying);
  EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder", "bitrate"), 1200U);

  const Status changed = set_element_property(gst(), pipeline, "video_encoder", "bitrate", "4500");
  EXPECT_TRUE(changed.ok()) << changed.error();
  EXPECT_EQ(property_of<unsigned>(gst(), pipeline, "video_encoder", "bitrate"), 4500U);

  // The encoder carries on to the end of the stream after the change.
  const BusPoll poll = wait_for_bus_event(gst(), bus);
  release_pipeline(gst(), pipeline, bus, kGstTestWaitNs);
  EXPECT_EQ(poll.event, BusEvent::eos) << poll.error_text;
}

}  // namespace
}  // namespace corvane::helper::gst_test
