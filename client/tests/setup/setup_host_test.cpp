// The setup and the real host under Wine, in the setup tests' own prefix: the setup waits while the
// installed host runs, and the installed programs run from Program Files. The host opens a window, so
// this test holds the X session's lock as well as the prefix's.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "bridge_peer.h"
#include "child_process.h"
#include "corvane_version.h"
#include "host_session.h"
#include "setup_support.h"

namespace corvane::testing::setup {
namespace {

using SetupWithTheHost = SetupTest;

TEST_F(SetupWithTheHost, WaitsForTheRunningHostThenInstallsAProgramFilesFolderThatRuns) {
  ASSERT_EQ(Install(OlderSetup()), 0u);
  const auto before = Files(InstallFolder());
  {
    flutter_bridge::BridgePeer peer;
    HostSession host(peer, {}, static_cast<int>(kWaitMs), (InstallFolder() / L"corvane_client.exe").wstring());
    ASSERT_EQ(host.error(), "");

    ExpectSetupAndUninstallerRefuse(before);

    PostMessageW(host.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(host.process().wait(kWaitMs).exit_code, 0u);
  }
  // Once it has ended, the same setup goes through.
  ASSERT_EQ(Install(CurrentSetup()), 0u);
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_VERSION_TEXT);

  // The installed-folder tests, pointed at Program Files: the host opens its window, the helper names
  // the missing runtime and finds one put beside it.
  ASSERT_TRUE(SetEnvironmentVariableW(L"CORVANE_INSTALLED_DIR", InstallFolder().c_str()));
  const ChildOutcome outcome =
      run_child(L"installed_tests.exe",
                {L"--gtest_filter=InstalledFolder.TheHostOpensItsWindowFromThere:"
                 L"InstalledFolder.TheHelperFromThereNamesTheMissingRuntimeThenFindsOnePutBesideIt"},
                kWaitMs);
  SetEnvironmentVariableW(L"CORVANE_INSTALLED_DIR", nullptr);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exit_code, 0u) << outcome.standard_output << outcome.standard_error;
  EXPECT_NE(outcome.standard_output.find("[  PASSED  ] 2 tests"), std::string::npos) << outcome.standard_output;

  EXPECT_EQ(Uninstall(), 0u);
  ExpectNothingOfOursLeft();
}

}  // namespace
}  // namespace corvane::testing::setup
