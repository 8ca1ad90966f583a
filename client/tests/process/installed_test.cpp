// The folder `cmake --install` lays out (the package.install test writes it to build/windows/installed-
// test before these run): what it holds, and both programs run from it under Wine. The host test also
// runs on the folder of the build against the fixture Flutter app (CORVANE_INSTALLED_DIR).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "bridge_peer.h"
#include "child_process.h"
#include "helper_connection.h"
#include "host_session.h"

namespace {

namespace fs = std::filesystem;
using corvane::testing::HelperConnection;
using corvane::testing::HostSession;
namespace protocol = corvane::protocol;

constexpr int kWaitMs = 20000;  // a guard against a hung program, never a pass condition
constexpr char kMissingRuntime[] = "the bundled GStreamer runtime was not found beside the media helper";

// The installed folder: CORVANE_INSTALLED_DIR, else build/windows/installed-test.
fs::path Installed() {
  wchar_t named[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"CORVANE_INSTALLED_DIR", named, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    return fs::path(named);
  }
  return fs::path(corvane::testing::executable_directory()).parent_path().parent_path() / "installed-test";
}

std::optional<protocol::MediaCapabilities> Capabilities(HelperConnection& connection) {
  const auto reply = connection.request(protocol::reply("caps", protocol::GetMediaCapabilities{}));
  const auto* report = reply ? std::get_if<protocol::MediaCapabilities>(&reply->payload) : nullptr;
  return report != nullptr ? std::optional(*report) : std::nullopt;
}

TEST(InstalledFolder, IsLaidOutAsFluttersReleaseBundleAndLabelledATestPackage) {
  const fs::path root = Installed();
  for (const char* file :
       {"corvane_client.exe", "flutter_windows.dll", "corvane_media_helper.exe", "data/icudtl.dat", "data/app.so",
        "audioplayers_windows_plugin.dll", "url_launcher_windows_plugin.dll", "TEST-PACKAGE.txt"}) {
    EXPECT_TRUE(fs::is_regular_file(root / file)) << file;
  }
  EXPECT_TRUE(fs::is_directory(root / "data" / "flutter_assets"));
  int libraries = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
    libraries += entry.path().extension() == ".dll" ? 1 : 0;
    // Test programs and tools stay out of what a user installs.
    EXPECT_NE(entry.path().extension(), ".a") << entry.path();
  }
  EXPECT_EQ(libraries, 13) << "the engine and the twelve plug-ins";
  for (const char* absent : {"standin_installer.exe", "input_sink.exe", "bridge_driver.exe", "helperctl.exe"}) {
    EXPECT_FALSE(fs::exists(root / absent)) << absent;
  }
}

TEST(InstalledFolder, TheHostOpensItsWindowFromThere) {
  flutter_bridge::BridgePeer peer;
  HostSession session(peer, {}, kWaitMs, (Installed() / "corvane_client.exe").wstring());
  ASSERT_EQ(session.error(), "");
  ASSERT_TRUE(session.ShowFirstFrame()) << peer.last_error();
  EXPECT_TRUE(IsWindowVisible(session.window()));
  PostMessageW(session.window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(session.process().wait(60000).exit_code, 0u);
}

TEST(InstalledFolder, TheHelperFromThereNamesTheMissingRuntimeThenFindsOnePutBesideIt) {
  const fs::path root = Installed();
  const fs::path runtime = root / "gstreamer";
  fs::remove_all(runtime);
  {
    HelperConnection connection(std::nullopt, std::nullopt, (root / "corvane_media_helper.exe").wstring());
    ASSERT_TRUE(connection.connect_and_authenticate());
    const auto report = Capabilities(connection);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->unavailable_reasons.at("systemAudio"), kMissingRuntime);
    EXPECT_EQ(connection.finish().exit_code, 0u);
  }
  // The stand-in runtime in the layout the helper looks for.
  const fs::path standins =
      fs::path(corvane::testing::executable_directory()).parent_path().parent_path() / "standins" / "gstreamer";
  fs::create_directories(runtime / "bin");
  fs::create_directories(runtime / "lib" / "gstreamer-1.0");
  for (const char* library : {"gstreamer-1.0-0.dll", "glib-2.0-0.dll", "gobject-2.0-0.dll"}) {
    fs::copy_file(standins / library, runtime / "bin" / library);
  }
  const fs::path script = runtime / "script.txt";
  std::ofstream(script) << "version GStreamer 1.26.2 (stand-in)\n";
  SetEnvironmentVariableW(L"CORVANE_STANDIN_GST_SCRIPT", script.wstring().c_str());
  HelperConnection connection(std::nullopt, std::nullopt, (root / "corvane_media_helper.exe").wstring());
  SetEnvironmentVariableW(L"CORVANE_STANDIN_GST_SCRIPT", nullptr);
  ASSERT_TRUE(connection.connect_and_authenticate());
  const auto report = Capabilities(connection);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->runtime_version, "GStreamer 1.26.2 (stand-in)");
  // Found: what is missing now is an element of this bare runtime, no longer the runtime.
  EXPECT_NE(report->unavailable_reasons.at("systemAudio"), kMissingRuntime);
  EXPECT_EQ(connection.finish().exit_code, 0u);
  fs::remove_all(runtime);
}

}  // namespace
