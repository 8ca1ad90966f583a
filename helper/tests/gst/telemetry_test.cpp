// Telemetry on the identity elements of a real encode.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <utility>

#include "gst/dl_runtime.h"
#include "windows/media/media_telemetry.h"
#include "windows/media/runtime_primitives.h"

namespace corvane::helper::gst_test {
namespace {

using TelemetryGstTest = GstTest;

TEST_F(TelemetryGstTest, EveryFrameOfARealEncodeIsCountedAndPaired) {
  GstElement* pipeline = launch(
      "videotestsrc num-buffers=30 ! video/x-raw,width=320,height=240,framerate=30/1 ! videoconvert ! "
      "identity name=raw_telemetry ! x264enc tune=zerolatency speed-preset=ultrafast ! h264parse ! "
      "identity name=encoded_telemetry ! fakesink");
  ASSERT_NE(pipeline, nullptr);
  std::unique_ptr<FinalizeWatch> raw_watch;
  std::unique_ptr<FinalizeWatch> encoded_watch;
  for (auto [name, watch] : {std::pair{"raw_telemetry", &raw_watch}, std::pair{"encoded_telemetry", &encoded_watch}}) {
    GstElement* element = gst().gst_bin_get_by_name(pipeline, name);
    ASSERT_NE(element, nullptr) << name;
    *watch = std::make_unique<FinalizeWatch>(element);
    gst().gst_object_unref(element);
  }

  MediaTelemetry telemetry;
  const Status attached = attach_telemetry(gst(), pipeline, telemetry);
  ASSERT_TRUE(attached.ok()) << attached.error();
  GstBus* bus = gst().gst_element_get_bus(pipeline);
  gst().gst_element_set_state(pipeline, kGstStatePlaying);
  const BusPoll poll = wait_for_bus_event(gst(), bus);
  release_pipeline(gst(), pipeline, bus, kGstTestWaitNs);
  EXPECT_EQ(poll.event, BusEvent::eos) << poll.error_text;

  const MediaTelemetryCounts counts = telemetry.snapshot();
  EXPECT_EQ(counts.raw_frames, 30U);
  EXPECT_EQ(counts.encoded_frames, 30U);
  EXPECT_GT(counts.encoded_bytes, 0U);
  EXPECT_EQ(counts.latency_samples, 30U);
  EXPECT_GE(counts.latency_sum_ms, 0.0);
  EXPECT_TRUE(telemetry.pending_raw_instants.empty());
  EXPECT_TRUE(raw_watch->finalized()) << "attach_telemetry kept a reference to raw_telemetry";
  EXPECT_TRUE(encoded_watch->finalized()) << "attach_telemetry kept a reference to encoded_telemetry";
}

TEST_F(TelemetryGstTest, PipelineWithoutTheEncodedTapCannotBeAttached) {
  GstElement* pipeline = launch("videotestsrc ! identity name=raw_telemetry ! fakesink");
  ASSERT_NE(pipeline, nullptr);
  MediaTelemetry telemetry;
  const Status attached = attach_telemetry(gst(), pipeline, telemetry);
  release_pipeline(gst(), pipeline, nullptr, kGstTestWaitNs);
  ASSERT_FALSE(attached.ok());
  EXPECT_EQ(attached.error(), "media telemetry element encoded_telemetry was not created");
}

}  // namespace
}  // namespace corvane::helper::gst_test
