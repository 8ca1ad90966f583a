// launch_description against the real parser: complete descriptions give pipelines, and the partial
// pipelines GStreamer returns with a parse error are released, never handed out.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gst/dl_runtime.h"
#include "windows/media/runtime_primitives.h"

namespace corvane::helper::gst_test {
namespace {

// gst_parse_launch wrapped to see what GStreamer itself returned, and to watch that object.
GstElement* (*real_parse_launch)(const char*, GError**) = nullptr;
bool parser_returned_pipeline = false;
std::unique_ptr<FinalizeWatch> returned_pipeline;

GstElement* watching_parse_launch(const char* description, GError** error) {
  GstElement* pipeline = real_parse_launch(description, error);
  parser_returned_pipeline = pipeline != nullptr;
  returned_pipeline = pipeline != nullptr ? std::make_unique<FinalizeWatch>(pipeline) : nullptr;
  return pipeline;
}

class LaunchGstTest : public GstTest {
 protected:
  void SetUp() override {
    GstTest::SetUp();
    real_parse_launch = gst().gst_parse_launch;
    watching = gst();
    watching.gst_parse_launch = watching_parse_launch;
  }

  void TearDown() override { returned_pipeline.reset(); }

  RuntimeSymbols watching{};
};

TEST_F(LaunchGstTest, LoneUnknownElementGivesNoPipelineAndNamesTheElement) {
  const auto result = launch_description(watching, "nosuchelement_xyz");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "no element \"nosuchelement_xyz\"");
  EXPECT_FALSE(parser_returned_pipeline);
}

TEST_F(LaunchGstTest, PartialPipelinesAreReleasedAndTheParseErrorIsTheFailure) {
  struct Case {
    const char* description;
    const char* error;
  };
  for (const Case& c : {
           Case{"videotestsrc ! d3d11screencapturesrc ! fakesink", "no element \"d3d11screencapturesrc\""},
           Case{"videotestsrc ! x264enc nosuch-knob=3 ! fakesink",
                "no property \"nosuch-knob\" in element \"x264enc\""},
           Case{"videotestsrc pattern=zzz ! fakesink",
                "could not set property \"pattern\" in element \"videotestsrc\" to \"zzz\""},
           Case{"audiotestsrc name=tone ! video/x-raw ! fakesink name=out",
                "could not link tone to out, tone can't handle caps video/x-raw"},
           Case{"videotestsrc ! ! fakesink", "syntax error"},
       }) {
    SCOPED_TRACE(c.description);
    const auto result = launch_description(watching, c.description);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), c.error);
    ASSERT_TRUE(parser_returned_pipeline) << "GStreamer no longer returns a partial pipeline here";
    EXPECT_TRUE(returned_pipeline->finalized()) << "the partial pipeline was not released";
  }
}

TEST_F(LaunchGstTest, CompleteDescriptionGivesAPipelineThatReleaseFrees) {
  const auto result = launch_description(watching, "videotestsrc name=source ! fakesink");
  ASSERT_TRUE(result.ok()) << result.error();
  GstElement* pipeline = *result;
  EXPECT_FALSE(returned_pipeline->finalized());
  GstElement* source = gst().gst_bin_get_by_name(pipeline, "source");
  EXPECT_NE(source, nullptr) << "the pipeline is not the one described";
  if (source != nullptr) {
    gst().gst_object_unref(source);
  }
  GstBus* bus = gst().gst_element_get_bus(pipeline);
  ASSERT_NE(bus, nullptr);
  const FinalizeWatch bus_watch(bus);
  release_pipeline(gst(), pipeline, bus, kGstTestWaitNs);
  EXPECT_TRUE(returned_pipeline->finalized());
  EXPECT_TRUE(bus_watch.finalized());
}

}  // namespace
}  // namespace corvane::helper::gst_test
