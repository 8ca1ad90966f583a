// poll_bus and describe_bus_error on messages of real pipelines.

#include <gtest/gtest.h>

#include <string_view>

#include "gst/dl_runtime.h"
#include "windows/media/runtime_primitives.h"

namespace corvane::helper::gst_test {
namespace {

class BusGstTest : public GstTest {
 protected:
  // Plays the description and returns the first end-of-stream or error the bus reports.
  BusPoll play_until_bus_event(std::string_view description) {
    GstElement* pipeline = launch(description);
    if (pipeline == nullptr) {
      return {};
    }
    GstBus* bus = gst().gst_element_get_bus(pipeline);
    gst().gst_element_set_state(pipeline, kGstStatePlaying);
    BusPoll poll = wait_for_bus_event(gst(), bus);
    release_pipeline(gst(), pipeline, bus, kGstTestWaitNs);
    return poll;
  }
};

TEST_F(BusGstTest, IdleBusReportsNothingWithoutWaiting) {
  GstElement* pipeline = launch("videotestsrc ! fakesink");
  ASSERT_NE(pipeline, nullptr);
  GstBus* bus = gst().gst_element_get_bus(pipeline);
  const BusPoll poll = poll_bus(gst(), bus);  // nothing was started: nothing can be waiting
  release_pipeline(gst(), pipeline, bus, kGstTestWaitNs);
  EXPECT_EQ(poll.event, BusEvent::none);
  EXPECT_EQ(poll.error_text, "");
}

TEST_F(BusGstTest, FiniteSourceEndsWithEndOfStream) {
  const BusPoll poll = play_until_bus_event("videotestsrc num-buffers=5 ! fakesink");
  EXPECT_EQ(poll.event, BusEvent::eos) << poll.error_text;
  EXPECT_EQ(poll.error_text, "");
}

TEST_F(BusGstTest, MissingFileIsAResourceNotFoundError) {
  const BusPoll poll = play_until_bus_event("filesrc location=/nonexistent ! fakesink");
  EXPECT_EQ(poll.event, BusEvent::error);
  EXPECT_EQ(poll.error_text, "Resource not found.");
}

TEST_F(BusGstTest, ElementPathInTheDebugTextTagsTheComponent) {
  // GStreamer's debug text names the failing element's path, so the element names carry the tags.
  const BusPoll audio = play_until_bus_event("filesrc name=WASAPI2_capture location=/nonexistent ! fakesink");
  EXPECT_EQ(audio.event, BusEvent::error);
  EXPECT_EQ(audio.error_text, "Resource not found. [component=system-audio]");
  const BusPoll whip = play_until_bus_event("filesrc name=WhipClientSink_stand_in location=/nonexistent ! fakesink");
  EXPECT_EQ(whip.event, BusEvent::error);
  EXPECT_EQ(whip.error_text, "Resource not found. [component=whip]");
}

}  // namespace
}  // namespace corvane::helper::gst_test
