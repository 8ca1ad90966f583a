// Frames of the stand-in engine: the next-frame callback runs once after a rendered frame, and with
// the first frame held only after the application releases it (there is nothing to hold for when
// there is no bridge).
#include <windows.h>

#include <flutter/flutter_view_controller.h>
#include <flutter_windows.h>

#include <memory>
#include <optional>

#include "embedding_test_support.h"

namespace {

using embedding_test::BridgedTest;
using embedding_test::FlushPostedMessages;
using embedding_test::kWaitMs;
using embedding_test::PumpUntil;
using embedding_test::ScopedEnvironment;
using embedding_test::TestProject;
using flutter::EncodableList;
using flutter::EncodableValue;

using NextFrameTest = BridgedTest;

TEST_F(NextFrameTest, TheCallbackRunsOnceAfterTheNextFrameAndIsReported) {
  flutter::FlutterViewController controller(320, 200, TestProject());
  ConnectAndSkipHello();
  int calls = 0;
  DWORD thread = 0;
  controller.engine()->SetNextFrameCallback([&] {
    ++calls;
    thread = GetCurrentThreadId();
  });
  controller.ForceRedraw();
  ASSERT_TRUE(PumpUntil([&calls] { return calls == 1; }));
  EXPECT_EQ(thread, GetCurrentThreadId());
  const std::optional<EncodableList> shown = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(shown) << peer_.last_error();
  EXPECT_EQ(*shown, EncodableList{EncodableValue("first-frame-shown")});

  // More frames do not call it again.
  controller.ForceRedraw();
  controller.ForceRedraw();
  ASSERT_TRUE(FlushPostedMessages());
  EXPECT_EQ(calls, 1);
}

TEST_F(NextFrameTest, ACallbackSetAfterAFrameWaitsForTheNextOne) {
  flutter::FlutterViewController controller(320, 200, TestProject());
  ConnectAndSkipHello();
  ASSERT_TRUE(FlushPostedMessages());  // the frame of the view's creation is rendered
  int calls = 0;
  controller.engine()->SetNextFrameCallback([&calls] { ++calls; });
  ASSERT_TRUE(FlushPostedMessages());
  EXPECT_EQ(calls, 0);
  controller.ForceRedraw();
  EXPECT_TRUE(PumpUntil([&calls] { return calls == 1; }));
}

TEST_F(NextFrameTest, TheViewsCreationRendersAFrameAndTheCallbackRunsOnce) {
  // Through the C API, so the callback can be set before the view exists.
  FlutterDesktopEngineProperties properties = {};
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  int calls = 0;
  FlutterDesktopEngineSetNextFrameCallback(
      engine, [](void* user_data) { ++*static_cast<int*>(user_data); }, &calls);
  ASSERT_TRUE(FlushPostedMessages());
  EXPECT_EQ(calls, 0);  // no view, no frame
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(320, 200, engine);
  ASSERT_NE(controller, nullptr);
  EXPECT_TRUE(PumpUntil([&calls] { return calls == 1; }));

  // The engine itself forgets the callback once called (the wrapper's guard is not involved here).
  FlutterDesktopViewControllerForceRedraw(controller);
  FlutterDesktopViewControllerForceRedraw(controller);
  ASSERT_TRUE(FlushPostedMessages());
  EXPECT_EQ(calls, 1);
  FlutterDesktopViewControllerDestroy(controller);
}

TEST_F(NextFrameTest, AHeldFirstFrameWaitsForTheApplication) {
  const ScopedEnvironment hold(L"CORVANE_FLUTTER_HOLD_FIRST_FRAME", L"1");
  flutter::FlutterViewController controller(320, 200, TestProject());
  ConnectAndSkipHello();
  int calls = 0;
  controller.engine()->SetNextFrameCallback([&calls] { ++calls; });
  controller.ForceRedraw();
  ASSERT_TRUE(FlushPostedMessages());
  EXPECT_EQ(calls, 0);

  ASSERT_TRUE(peer_.send(EncodableList{EncodableValue("first-frame")}));
  ASSERT_TRUE(PumpUntil([&calls] { return calls == 1; }));
  const std::optional<EncodableList> shown = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(shown) << peer_.last_error();
  EXPECT_EQ(*shown, EncodableList{EncodableValue("first-frame-shown")});

  // Only the first frame is held.
  int later = 0;
  controller.engine()->SetNextFrameCallback([&later] { ++later; });
  controller.ForceRedraw();
  EXPECT_TRUE(PumpUntil([&later] { return later == 1; }));
  EXPECT_EQ(calls, 1);
}

TEST_F(NextFrameTest, AReleaseBeforeAnyFrameLetsTheFirstFrameThrough) {
  const ScopedEnvironment hold(L"CORVANE_FLUTTER_HOLD_FIRST_FRAME", L"1");
  FlutterDesktopEngineProperties properties = {};
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  ASSERT_TRUE(FlutterDesktopEngineRun(engine, nullptr));
  ConnectAndSkipHello();
  ASSERT_TRUE(peer_.send(EncodableList{EncodableValue("first-frame")}));
  // A round trip through a handler-less channel shows the release was handled (frames are handled
  // in order).
  const std::optional<flutter_bridge::Envelope> answered = peer_.await_response(peer_.invoke("none", "x"), kWaitMs);
  ASSERT_TRUE(answered) << peer_.last_error();

  int calls = 0;
  FlutterDesktopEngineSetNextFrameCallback(
      engine, [](void* user_data) { ++*static_cast<int*>(user_data); }, &calls);
  FlutterDesktopViewControllerRef controller = FlutterDesktopViewControllerCreate(320, 200, engine);
  ASSERT_NE(controller, nullptr);
  EXPECT_TRUE(PumpUntil([&calls] { return calls == 1; }));
  FlutterDesktopViewControllerDestroy(controller);
}

TEST(HeldFrameWithoutBridgeTest, FramesAreNotHeldWhenNoApplicationCanReleaseThem) {
  const ScopedEnvironment no_port(L"CORVANE_FLUTTER_BRIDGE_PORT", std::nullopt);
  const ScopedEnvironment hold(L"CORVANE_FLUTTER_HOLD_FIRST_FRAME", L"1");
  flutter::FlutterViewController controller(320, 200, TestProject());
  int calls = 0;
  controller.engine()->SetNextFrameCallback([&calls] { ++calls; });
  controller.ForceRedraw();
  EXPECT_TRUE(PumpUntil([&calls] { return calls == 1; }));
}

}  // namespace
