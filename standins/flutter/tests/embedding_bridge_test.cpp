// What the stand-in engine tells the application over the bridge: hello with the project, registrar
// lookups and plug-in registrations in call order, font reloads; and how the engine, its messenger
// and its registrars behave around the bridge's life.
#include <corvane_standin_plugins.h>
#include <flutter/flutter_engine.h>
#include <flutter/flutter_view_controller.h>
#include <flutter_windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "embedding_test_support.h"

namespace {

using embedding_test::BridgedTest;
using embedding_test::kWaitMs;
using embedding_test::PumpUntil;
using embedding_test::ScopedEnvironment;
using embedding_test::TestProject;
using flutter::EncodableList;
using flutter::EncodableValue;

// The hello that TestProject() gives: paths and arguments as UTF-8, in order.
EncodableList ExpectedHello() {
  return EncodableList{
      EncodableValue("hello"), EncodableValue("C:\\Corvane\\d\xc3\xa4ta\\flutter_assets"),
      EncodableValue("C:\\Corvane\\d\xc3\xa4ta\\icudtl.dat"), EncodableValue("C:\\Corvane\\d\xc3\xa4ta\\app.so"),
      EncodableValue(EncodableList{EncodableValue("--installer"), EncodableValue("caf\xc3\xa9"), EncodableValue("")})};
}

using HelloTest = BridgedTest;

TEST_F(HelloTest, RunConnectsAndSaysHelloWithTheProjectPathsAndArguments) {
  flutter::FlutterEngine engine(TestProject());
  ASSERT_TRUE(engine.Run());
  ASSERT_TRUE(peer_.accept_within(kWaitMs)) << peer_.last_error();
  const std::optional<EncodableList> hello = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(hello) << peer_.last_error();
  EXPECT_EQ(*hello, ExpectedHello());
}

TEST_F(HelloTest, ViewControllerRunsTheEngineWhenRunWasNeverCalled) {
  flutter::FlutterViewController controller(320, 200, TestProject());
  ASSERT_NE(controller.view(), nullptr);
  ASSERT_TRUE(peer_.accept_within(kWaitMs)) << peer_.last_error();
  const std::optional<EncodableList> hello = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(hello) << peer_.last_error();
  EXPECT_EQ(*hello, ExpectedHello());
}

TEST_F(HelloTest, ProjectWithoutArgumentsSaysHelloWithAnEmptyList) {
  flutter::FlutterEngine engine(flutter::DartProject(L"data"));
  ASSERT_TRUE(engine.Run());
  ASSERT_TRUE(peer_.accept_within(kWaitMs)) << peer_.last_error();
  const std::optional<EncodableList> hello = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(hello) << peer_.last_error();
  EXPECT_EQ(*hello, (EncodableList{EncodableValue("hello"), EncodableValue("data\\flutter_assets"),
                                   EncodableValue("data\\icudtl.dat"), EncodableValue("data\\app.so"),
                                   EncodableValue(EncodableList{})}));
}

TEST_F(HelloTest, AnEngineRunsOnlyOnce) {
  flutter::FlutterEngine engine(TestProject());
  EXPECT_TRUE(engine.Run());
  EXPECT_FALSE(engine.Run());
}

TEST(FailedStartTest, AnEngineThatCannotStartShowsAsANullViewController) {
  const ScopedEnvironment fail(L"CORVANE_FLUTTER_FAIL_ENGINE", L"1");
  flutter::FlutterViewController controller(320, 200, TestProject());
  EXPECT_NE(controller.engine(), nullptr);
  EXPECT_EQ(controller.view(), nullptr);
}

using RegistrationTest = BridgedTest;

TEST_F(RegistrationTest, RegistrarLookupsAndPluginRegistrationsAreReportedInCallOrder) {
  flutter::FlutterViewController controller(320, 200, TestProject());
  ConnectAndSkipHello();
  FlutterDesktopPluginRegistrarRef audio = controller.engine()->GetRegistrarForPlugin("AudioplayersWindowsPlugin");
  ASSERT_NE(audio, nullptr);
  CorvaneStandInPluginRegistered(audio, "audioplayers_windows_plugin.dll");
  FlutterDesktopPluginRegistrarRef url = controller.engine()->GetRegistrarForPlugin("UrlLauncherWindows");
  ASSERT_NE(url, nullptr);
  // Registering with an older registrar names that registrar's plug-in, not the latest lookup.
  CorvaneStandInPluginRegistered(audio, "second.dll");
  CorvaneStandInPluginRegistered(url, "url_launcher_windows_plugin.dll");

  const std::vector<EncodableList> expected = {
      {EncodableValue("registrar"), EncodableValue("AudioplayersWindowsPlugin")},
      {EncodableValue("plugin"), EncodableValue("AudioplayersWindowsPlugin"),
       EncodableValue("audioplayers_windows_plugin.dll")},
      {EncodableValue("registrar"), EncodableValue("UrlLauncherWindows")},
      {EncodableValue("plugin"), EncodableValue("AudioplayersWindowsPlugin"), EncodableValue("second.dll")},
      {EncodableValue("plugin"), EncodableValue("UrlLauncherWindows"),
       EncodableValue("url_launcher_windows_plugin.dll")},
  };
  for (const EncodableList& frame : expected) {
    const std::optional<EncodableList> received = peer_.receive_within(kWaitMs);
    ASSERT_TRUE(received) << peer_.last_error();
    EXPECT_EQ(*received, frame);
  }
}

TEST_F(RegistrationTest, LookupsBeforeRunArriveAfterHello) {
  flutter::FlutterEngine engine(TestProject());
  engine.GetRegistrarForPlugin("FileSelectorWindows");
  ASSERT_TRUE(engine.Run());
  ASSERT_TRUE(peer_.accept_within(kWaitMs)) << peer_.last_error();
  const std::optional<EncodableList> first = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(first) << peer_.last_error();
  EXPECT_EQ(*first, ExpectedHello());
  const std::optional<EncodableList> second = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(second) << peer_.last_error();
  EXPECT_EQ(*second, (EncodableList{EncodableValue("registrar"), EncodableValue("FileSelectorWindows")}));
}

TEST_F(RegistrationTest, EachPluginNameHasOneRegistrarOnTheEnginesMessenger) {
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = L"data\\flutter_assets";
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopPluginRegistrarRef first = FlutterDesktopEngineGetPluginRegistrar(engine, "PasteboardPlugin");
  FlutterDesktopPluginRegistrarRef again = FlutterDesktopEngineGetPluginRegistrar(engine, "PasteboardPlugin");
  FlutterDesktopPluginRegistrarRef other = FlutterDesktopEngineGetPluginRegistrar(engine, "LiveKitPlugin");
  EXPECT_EQ(first, again);
  EXPECT_NE(first, other);
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetMessenger(first), FlutterDesktopEngineGetMessenger(engine));
  EXPECT_EQ(FlutterDesktopPluginRegistrarGetMessenger(other), FlutterDesktopEngineGetMessenger(engine));
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
}

std::vector<FlutterDesktopPluginRegistrarRef> destroyed_registrars;

TEST_F(RegistrationTest, DestructionHandlersRunWhenTheEngineIsDestroyed) {
  destroyed_registrars.clear();
  FlutterDesktopEngineProperties properties = {};
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopPluginRegistrarRef with_handler = FlutterDesktopEngineGetPluginRegistrar(engine, "RecordWindows");
  FlutterDesktopEngineGetPluginRegistrar(engine, "WithoutHandler");
  FlutterDesktopPluginRegistrarSetDestructionHandler(
      with_handler, [](FlutterDesktopPluginRegistrarRef registrar) { destroyed_registrars.push_back(registrar); });
  EXPECT_TRUE(destroyed_registrars.empty());
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_EQ(destroyed_registrars, std::vector<FlutterDesktopPluginRegistrarRef>{with_handler});
}

using FontsTest = BridgedTest;

TEST_F(FontsTest, ReloadSystemFontsIsReported) {
  flutter::FlutterViewController controller(320, 200, TestProject());
  ConnectAndSkipHello();
  controller.engine()->ReloadSystemFonts();
  const std::optional<EncodableList> frame = peer_.receive_within(kWaitMs);
  ASSERT_TRUE(frame) << peer_.last_error();
  EXPECT_EQ(*frame, EncodableList{EncodableValue("reload-system-fonts")});
}

using MessengerLifeTest = BridgedTest;

TEST_F(MessengerLifeTest, AReferencedMessengerOutlivesItsEngineButIsNoLongerAvailable) {
  FlutterDesktopEngineProperties properties = {};
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  FlutterDesktopMessengerRef messenger = FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopEngineDestroy(engine);

  EXPECT_EQ(FlutterDesktopMessengerLock(messenger), messenger);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  const uint8_t byte = 1;
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "corvane/remote_input", &byte, 1));
  FlutterDesktopMessengerUnlock(messenger);
  FlutterDesktopMessengerRelease(messenger);
}

TEST(WithoutBridgeTest, MessagesToTheApplicationAreNotDelivered) {
  const ScopedEnvironment no_port(L"CORVANE_FLUTTER_BRIDGE_PORT", std::nullopt);
  FlutterDesktopEngineProperties properties = {};
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  ASSERT_TRUE(FlutterDesktopEngineRun(engine, nullptr));
  FlutterDesktopMessengerRef messenger = FlutterDesktopEngineGetMessenger(engine);
  const uint8_t byte = 1;
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "corvane/remote_input", &byte, 1));
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(
      messenger, "corvane/remote_input", &byte, 1, [](const uint8_t*, size_t, void*) {}, nullptr));
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
}

using BridgeCloseTest = BridgedTest;

TEST_F(BridgeCloseTest, TheHostRunsOnWhenTheBridgeCloses) {
  flutter::FlutterViewController controller(320, 200, TestProject());
  ConnectAndSkipHello();
  // The engine's messages reach the peer while it is connected...
  controller.engine()->ReloadSystemFonts();
  ASSERT_TRUE(peer_.receive_within(kWaitMs)) << peer_.last_error();
  peer_.close();

  // ...and after the peer went away frames and callbacks still work, and sending does no harm.
  FlutterDesktopMessengerRef messenger = FlutterDesktopPluginRegistrarGetMessenger(
      controller.engine()->GetRegistrarForPlugin("SharePlusWindowsPluginCApi"));
  const uint8_t byte = 1;
  FlutterDesktopMessengerSend(messenger, "corvane/chat_file_drop", &byte, 1);
  int frames = 0;
  controller.engine()->SetNextFrameCallback([&frames] { ++frames; });
  controller.ForceRedraw();
  EXPECT_TRUE(PumpUntil([&frames] { return frames == 1; }));
}

}  // namespace
