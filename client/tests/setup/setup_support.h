#pragma once
// What the setup tests share: the setups package.setups made, where the setup installs, the uninstall
// entry, running a setup or uninstaller to its end, and a fixture that starts and ends each test with
// nothing of ours installed. The tests run in a Wine prefix of their own (setup.prefix).

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>

namespace corvane::testing::setup {

namespace fs = std::filesystem;

inline constexpr DWORD kWaitMs = 60000;  // a guard against a hung program, never a pass condition
inline constexpr DWORD kExitRunning = 32;
inline constexpr DWORD kExitEarlierInstall = 3;

fs::path InstallFolder();  // %ProgramFiles%\Corvane
fs::path Shortcut();       // the all-users Start-menu shortcut
fs::path UserData();       // %LOCALAPPDATA%\Corvane

fs::path CurrentSetup();  // this build's, signed
fs::path OlderSetup();    // numbered lower, unsigned, with retired.txt
// What cpack staged for this build's setup: what it must install.
fs::path Staged();

// A value of the uninstall entry (64-bit view); nothing when it is missing or of another type.
std::optional<std::wstring> UninstallString(const wchar_t* name);
std::optional<DWORD> UninstallNumber(const wchar_t* name);
bool UninstallKeyExists();

// The files under `root`, relative, with their size and last write time.
using FileStates = std::map<fs::path, std::tuple<std::uintmax_t, fs::file_time_type>>;
FileStates Files(const fs::path& root);
std::set<fs::path> Names(const fs::path& root);

// WinVerifyTrust (the host's check) passes the file.
bool Signed(const fs::path& file);

// Runs `command_line` in a job of its own and waits until every process of the job has ended (the
// uninstaller starts a copy of itself and returns at once). The first process's exit code, or
// nothing when it could not start or the job outlived the guard.
std::optional<DWORD> RunToTheEnd(std::wstring command_line);
std::optional<DWORD> Install(const fs::path& setup);  // silently
std::optional<DWORD> Uninstall();                     // silently, the installed uninstaller

// Where a shortcut leads.
std::wstring ShortcutTarget(const fs::path& shortcut);

class SetupTest : public ::testing::Test {
 protected:
  // COM, for the shortcut.
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  // Both setups are there, and nothing of ours is installed yet: a leftover would make every check
  // meaningless.
  void SetUp() override;
  // Removes what a failed test left: user data, the install, the shortcut, the key.
  void TearDown() override;

  // A file of the user's, which no setup or uninstaller may touch.
  static fs::path MakeUserData();

  static std::string Read(const fs::path& file);

  static void ExpectNothingOfOursLeft();
  // While a program of the older install runs: this build's setup exits with kExitRunning and the
  // uninstaller leaves everything as it was (`before`, the folder's files).
  static void ExpectSetupAndUninstallerRefuse(const FileStates& before);
  // What the setup of this build installs: what cpack staged, and the uninstaller.
  static std::set<fs::path> ExpectedFiles();
};

}  // namespace corvane::testing::setup
