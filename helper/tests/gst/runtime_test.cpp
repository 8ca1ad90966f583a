// The runtime's version, its element factories, and properties changed on a playing pipeline.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gst/dl_runtime.h"
#include "windows/media/runtime_primitives.h"

namespace corvane::helper::gst_test {
namespace {

using RuntimeGstTest = GstTest;

TEST_F(RuntimeGstTest, VersionNamesGStreamer122) {
  const std::string version = runtime_version(gst());
  EXPECT_EQ(version.rfind("GStreamer 1.22", 0), 0U) << version;
}

TEST_F(RuntimeGstTest, PresentFactoriesAreAvailableAndWindowsOnesAreNot) {
  for (const char* present : {"videotestsrc", "identity", "x264enc", "h264parse", "opusenc", "fakesink"}) {
    EXPECT_TRUE(element_available(gst(), present)) << present;
  }
  for (const char* absent : {"d3d11screencapturesrc", "wasapi2src", "whipclientsink", "nosuchelement_xyz", ""}) {
    EXPECT_FALSE(element_available(gst(), absent)) << absent;
  }
}

TEST_F(RuntimeGstTest, PropertyChangedWhilePlayingTakesEffect) {
  GstElement* pipeline = launch(
      "videotestsrc is-live=true ! video/x-raw,width=160,height=120 ! x264enc name=encoder bitrate=2000 "
      "tune=zerolatency speed-preset=ultrafast ! fakesink");
  ASSERT_NE(pipeline, nullptr);
  GstElement* encoder = gst().gst_bin_get_by_name(pipeline, "encoder");
  ASSERT_NE(encoder, nullptr);
  const FinalizeWatch encoder_watch(encoder);

  gst().gst_element_set_state(pipeline, kGstStatePlaying);
  int state = 0;
  int pending = 0;
  gst().gst_element_get_state(pipeline, &state, &pending, kGstTestWaitNs);
  EXPECT_EQ(state, kGstStatePlaying);

  const Status changed = set_element_property(gst(), pipeline, "encoder", "bitrate", "4500");
  EXPECT_TRUE(changed.ok()) << changed.error();
  const Status missing = set_element_property(gst(), pipeline, "scaler", "method", "1");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), "media element scaler is unavailable");

  // The table has no getter: g_object_get from GObject, for this check only.
  using ObjectGet = void (*)(void*, const char*, ...);
  void* get_address = extra_symbol("g_object_get");
  ASSERT_NE(get_address, nullptr);
  ObjectGet object_get = nullptr;
  std::memcpy(&object_get, &get_address, sizeof object_get);
  unsigned bitrate = 0;
  object_get(encoder, "bitrate", &bitrate, nullptr);
  EXPECT_EQ(bitrate, 4500U);

  gst().gst_object_unref(encoder);
  release_pipeline(gst(), pipeline, nullptr, kGstTestWaitNs);
  EXPECT_TRUE(encoder_watch.finalized()) << "a reference to the encoder was kept";
}

}  // namespace
}  // namespace corvane::helper::gst_test
