// The setup program under Wine, in a Wine prefix of its own (the setup.prefix test makes it, the
// package.setups test makes the setups: this build's own, signed with a throwaway certificate, and an
// unsigned one numbered lower). No test here opens a window; the host's own run is in
// setup_host_test.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/handles.h"
#include "child_process.h"
#include "corvane_version.h"
#include "setup_support.h"

namespace corvane::testing::setup {
namespace {

using SetupProgram = SetupTest;

// A program started suspended: its image is mapped, so Windows treats its file as a running program's,
// and it opens no window.
class Suspended {
 public:
  explicit Suspended(const fs::path& program) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring command_line = L"\"" + program.wstring() + L"\"";
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                       nullptr, &startup, &process)) {
      process_.Reset(process.hProcess);
      const client::UniqueThread thread(process.hThread);  // not needed: the process stays suspended
    }
  }
  Suspended(const Suspended&) = delete;
  Suspended& operator=(const Suspended&) = delete;
  ~Suspended() {
    if (process_) {
      TerminateProcess(process_.Get(), 0);
      WaitForSingleObject(process_.Get(), kWaitMs);
    }
  }
  bool started() const { return process_.IsValid(); }

 private:
  client::UniqueProcess process_;
};

TEST_F(SetupProgram, InstallsSilentlyIntoProgramFilesRegistersItsUninstallerAndLeavesNothingBehind) {
  const fs::path user_file = MakeUserData();
  ASSERT_EQ(Install(CurrentSetup()), 0u);

  const fs::path folder = InstallFolder();
  EXPECT_EQ(Names(folder), ExpectedFiles());
  EXPECT_TRUE(fs::is_regular_file(folder / L"TEST-PACKAGE.txt")) << "a stand-in build stays a test package";
  EXPECT_TRUE(fs::is_directory(folder / L"data" / L"flutter_assets"));
  EXPECT_EQ(fs::path(ShortcutTarget(Shortcut())), folder / L"corvane_client.exe");

  EXPECT_EQ(UninstallString(L"DisplayName"), L"Corvane TEST PACKAGE");
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_VERSION_TEXT);
  EXPECT_EQ(UninstallString(L"Publisher"), L"Corvane");
  EXPECT_EQ(UninstallString(L"InstallLocation"), folder.wstring());
  EXPECT_EQ(UninstallString(L"UninstallString"), L"\"" + (folder / L"uninstall.exe").wstring() + L"\"");
  EXPECT_EQ(UninstallString(L"QuietUninstallString"), L"\"" + (folder / L"uninstall.exe").wstring() + L"\" /S");
  EXPECT_EQ(UninstallNumber(L"NoModify"), 1u) << "no change or repair offered: the setup has no parts to choose";
  EXPECT_EQ(UninstallNumber(L"NoRepair"), 1u);
  std::uintmax_t bytes = 0;
  std::size_t count = 0;
  for (const auto& [name, file] : Files(folder)) {
    bytes += std::get<0>(file);
    ++count;
  }
  const std::optional<DWORD> estimated = UninstallNumber(L"EstimatedSize");
  ASSERT_TRUE(estimated);
  EXPECT_NEAR(static_cast<double>(*estimated), static_cast<double>(bytes) / 1024.0, static_cast<double>(count + 1))
      << "KiB";

  // Signed at packaging (this build's setup), the setup, both programs and the uninstaller NSIS wrote.
  EXPECT_TRUE(Signed(CurrentSetup()));
  EXPECT_TRUE(Signed(folder / L"corvane_client.exe"));
  EXPECT_TRUE(Signed(folder / L"corvane_media_helper.exe"));
  EXPECT_TRUE(Signed(folder / L"uninstall.exe"));
  EXPECT_FALSE(Signed(OlderSetup())) << "packaged without a certificate";

  EXPECT_EQ(Uninstall(), 0u);
  ExpectNothingOfOursLeft();
  EXPECT_EQ(Read(user_file), "{\"kept\": true}\n");
}

TEST_F(SetupProgram, AnUpgradeReplacesTheOlderVersionInPlaceAndKeepsUserData) {
  ASSERT_EQ(Install(OlderSetup()), 0u);
  ASSERT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_OLDER_TEST_VERSION);
  ASSERT_TRUE(fs::is_regular_file(InstallFolder() / L"retired.txt")) << "the older version's own file";
  const fs::path user_file = MakeUserData();
  ASSERT_FALSE(Signed(InstallFolder() / L"corvane_client.exe"));

  ASSERT_EQ(Install(CurrentSetup()), 0u);
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_VERSION_TEXT);
  EXPECT_EQ(Names(InstallFolder()), ExpectedFiles()) << "nothing of the older version stays";
  EXPECT_TRUE(Signed(InstallFolder() / L"corvane_client.exe")) << "the newer programs replaced the older ones";
  EXPECT_TRUE(Signed(InstallFolder() / L"uninstall.exe")) << "and the newer uninstaller the older one";
  EXPECT_EQ(Read(user_file), "{\"kept\": true}\n");

  EXPECT_EQ(Uninstall(), 0u);
  ExpectNothingOfOursLeft();
  EXPECT_EQ(Read(user_file), "{\"kept\": true}\n");
}

TEST_F(SetupProgram, WhileEitherProgramRunsNeitherSetupNorUninstallerChangesAnything) {
  ASSERT_EQ(Install(OlderSetup()), 0u);
  const auto before = Files(InstallFolder());
  for (const wchar_t* program : {L"corvane_client.exe", L"corvane_media_helper.exe"}) {
    SCOPED_TRACE(fs::path(program).string());
    Suspended running(InstallFolder() / program);
    ASSERT_TRUE(running.started());
    ExpectSetupAndUninstallerRefuse(before);
  }
  // Once neither runs, the same setup goes through.
  EXPECT_EQ(Install(CurrentSetup()), 0u);
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_VERSION_TEXT);
}

TEST_F(SetupProgram, AnEarlierInstallWhoseUninstallerFailsIsLeftAsItWas) {
  ASSERT_EQ(Install(OlderSetup()), 0u);
  // An uninstaller that fails: the fake driver installer, told to exit with 5.
  fs::copy_file(fs::path(executable_directory()) / L"standin_installer.exe", InstallFolder() / L"uninstall.exe",
                fs::copy_options::overwrite_existing);
  const auto before = Files(InstallFolder());
  ASSERT_TRUE(SetEnvironmentVariableW(L"CORVANE_STANDIN_INSTALLER_EXIT", L"5"));
  EXPECT_EQ(Install(CurrentSetup()), kExitEarlierInstall);
  SetEnvironmentVariableW(L"CORVANE_STANDIN_INSTALLER_EXIT", nullptr);
  EXPECT_EQ(Files(InstallFolder()), before);
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_OLDER_TEST_VERSION);
}

}  // namespace
}  // namespace corvane::testing::setup
