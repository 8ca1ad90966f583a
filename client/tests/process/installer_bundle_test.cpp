// The real host started from a copy of its bundle that ships a "drivers" folder: the installer it
// finds there is checked before anything starts. The shared bundle stays without one.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "bridge_peer.h"
#include "child_process.h"
#include "host_session.h"

namespace {

namespace fs = std::filesystem;
using corvane::testing::HostSession;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter_bridge::BridgePeer;
using flutter_bridge::Envelope;

constexpr int kWaitMs = 20000;  // a guard against a hung host, never a pass condition

class InstallerBundle : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path bin = fs::path(corvane::testing::executable_directory()).parent_path();
    bundle_ = fs::temp_directory_path() / (L"corvane-bundle-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(bundle_);
    fs::copy(bin.parent_path() / "client_bundle", bundle_, fs::copy_options::recursive);
  }
  void TearDown() override {
    if (session_ && session_->process().started() && !session_->process().exited()) {
      PostMessageW(session_->window(), WM_CLOSE, 0, 0);
      session_->process().wait(60000);
    }
    session_.reset();
    std::error_code ignored;
    fs::remove_all(bundle_, ignored);
  }

  void Start() {
    session_ = std::make_unique<HostSession>(peer_, std::vector<std::wstring>{}, kWaitMs,
                                             (bundle_ / "corvane_client.exe").wstring());
    ASSERT_EQ(session_->error(), "");
    ASSERT_TRUE(session_->ShowFirstFrame()) << peer_.last_error();
  }

  BridgePeer peer_;
  fs::path bundle_;
  std::unique_ptr<HostSession> session_;
};

TEST_F(InstallerBundle, AnInstallerThatIsNotTheProductsIsRefusedAndStillCountsAsBundled) {
  fs::create_directories(bundle_ / "drivers");
  std::ofstream(bundle_ / "drivers" / "ViGEmBus_1.22.0_x64_x86_arm64.exe", std::ios::binary)
      << "MZ not the driver installer";
  Start();
  EXPECT_EQ(session_->Call("installGamepadDriver", {}),
            "error GAMEPAD_DRIVER_INSTALL The bundled driver signature/checksum is invalid.");
  const int64_t id = peer_.invoke(corvane::testing::kRemoteInputChannel, "gamepadStatus");
  const std::optional<Envelope> answer = peer_.await_response(id, kWaitMs);
  ASSERT_TRUE(answer) << peer_.last_error();
  ASSERT_EQ(answer->kind, Envelope::Kind::kSuccess);
  EXPECT_EQ(answer->value,
            EncodableValue(EncodableMap{{EncodableValue("ready"), EncodableValue(false)},
                                        {EncodableValue("bundled"), EncodableValue(true)},
                                        {EncodableValue("installing"), EncodableValue(false)},
                                        {EncodableValue("rebootRequired"), EncodableValue(false)},
                                        {EncodableValue("installerFinished"), EncodableValue(false)},
                                        {EncodableValue("installerExit"), EncodableValue(std::int64_t{0})}}));

  PostMessageW(session_->window(), WM_CLOSE, 0, 0);
  const corvane::testing::ChildOutcome outcome = session_->process().wait(60000);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exit_code, 0u);
}

}  // namespace
