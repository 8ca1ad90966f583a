// The setup program under Wine, in a Wine prefix of its own (the setup.prefix test makes it, the
// package.setups test makes the setups: this build's own, signed with a throwaway certificate, and an
// unsigned one numbered lower). Each test starts and ends with nothing of ours installed; what user
// data it makes under %LOCALAPPDATA%\Corvane it removes again.
#include <windows.h>
// clang-format off
#include <objbase.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bridge_peer.h"
#include "child_process.h"
#include "corvane_version.h"
#include "driver_installer.h"
#include "handles.h"
#include "host_session.h"

namespace {

namespace fs = std::filesystem;
using corvane::testing::HostSession;

constexpr DWORD kWaitMs = 60000;  // a guard against a hung program, never a pass condition
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";
constexpr DWORD kExitRunning = 32;
constexpr DWORD kExitEarlierInstall = 3;

fs::path KnownFolder(const KNOWNFOLDERID& id) {
  wchar_t* path = nullptr;
  if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &path))) {
    return {};
  }
  fs::path folder(path);
  CoTaskMemFree(path);
  return folder;
}

fs::path InstallFolder() { return KnownFolder(FOLDERID_ProgramFiles) / L"Corvane"; }
fs::path Shortcut() { return KnownFolder(FOLDERID_CommonPrograms) / L"Corvane.lnk"; }
fs::path UserData() { return KnownFolder(FOLDERID_LocalAppData) / L"Corvane"; }

fs::path Setups() { return fs::path(corvane::testing::executable_directory()).parent_path().parent_path() / "setups"; }
std::wstring SetupName(const std::string& version) {
  return L"corvane-test-package-setup-" + std::wstring(version.begin(), version.end()) + L"-x64";
}
fs::path CurrentSetup() { return Setups() / (SetupName(CORVANE_VERSION_TEXT) + L".exe"); }
fs::path OlderSetup() { return Setups() / (SetupName(CORVANE_OLDER_TEST_VERSION) + L".exe"); }
// What cpack staged for this build's setup: what it must install.
fs::path Staged() { return Setups() / "_CPack_Packages" / "win64" / "NSIS" / SetupName(CORVANE_VERSION_TEXT); }

std::optional<std::wstring> UninstallString(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

std::optional<DWORD> UninstallNumber(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

bool UninstallKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

// The files under `root`, relative, with their size and last write time.
std::map<fs::path, std::tuple<std::uintmax_t, fs::file_time_type>> Files(const fs::path& root) {
  std::map<fs::path, std::tuple<std::uintmax_t, fs::file_time_type>> files;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), root)] = {entry.file_size(), entry.last_write_time()};
    }
  }
  return files;
}

std::set<fs::path> Names(const fs::path& root) {
  std::set<fs::path> names;
  for (const auto& [name, unused] : Files(root)) {
    names.insert(name);
  }
  return names;
}

bool Signed(const fs::path& file) {
  const corvane::client::ScopedHandle handle = corvane::client::FileHandle(
      CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle && corvane::client::AuthenticodeVerdict(handle.get(), file.wstring()) == ERROR_SUCCESS;
}

// Runs `command_line` in a job of its own and waits until every process of the job has ended (the
// uninstaller starts a copy of itself and returns at once). The first process's exit code, or
// nothing when it could not start or the job outlived the guard.
std::optional<DWORD> RunToTheEnd(std::wstring command_line) {
  const corvane::client::ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
  const corvane::client::ScopedHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job.get(), port.get()};
  if (!job || !port ||
      !SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &association,
                               sizeof association)) {
    return std::nullopt;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &process)) {
    return std::nullopt;
  }
  const corvane::client::ScopedHandle process_handle(process.hProcess);
  const corvane::client::ScopedHandle thread(process.hThread);
  if (!AssignProcessToJobObject(job.get(), process_handle.get())) {
    TerminateProcess(process_handle.get(), 1);
    return std::nullopt;
  }
  ResumeThread(thread.get());
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* detail = nullptr;
    if (now >= deadline ||
        !GetQueuedCompletionStatus(port.get(), &message, &key, &detail, static_cast<DWORD>(deadline - now))) {
      TerminateJobObject(job.get(), 1);
      return std::nullopt;
    }
    if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
      break;
    }
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process_handle.get(), &exit_code);
  return exit_code;
}

std::optional<DWORD> Install(const fs::path& setup) { return RunToTheEnd(L"\"" + setup.wstring() + L"\" /S"); }
std::optional<DWORD> Uninstall() {
  return RunToTheEnd(L"\"" + (InstallFolder() / L"uninstall.exe").wstring() + L"\" /S");
}

// Where a shortcut leads.
std::wstring ShortcutTarget(const fs::path& shortcut) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return L"";
  }
  wchar_t target[MAX_PATH] = {};
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    if (SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ))) {
      link->GetPath(target, MAX_PATH, nullptr, 0);
    }
    file->Release();
  }
  link->Release();
  return target;
}

class Setup : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  static void TearDownTestSuite() { CoUninitialize(); }

  void SetUp() override {
    ASSERT_TRUE(fs::is_regular_file(CurrentSetup())) << CurrentSetup() << " (made by the package.setups test)";
    ASSERT_TRUE(fs::is_regular_file(OlderSetup())) << OlderSetup();
    // Nothing of ours may be there yet: a leftover would make every check below meaningless.
    ASSERT_FALSE(fs::exists(InstallFolder())) << InstallFolder();
    ASSERT_FALSE(UninstallKeyExists());
    ASSERT_FALSE(fs::exists(UserData())) << UserData();
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(UserData(), ignored);
    if (fs::exists(InstallFolder() / L"uninstall.exe")) {
      Uninstall();
    }
    fs::remove_all(InstallFolder(), ignored);
    fs::remove(Shortcut(), ignored);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
  }

  // A file of the user's, which no setup or uninstaller may touch.
  static fs::path MakeUserData() {
    fs::create_directories(UserData());
    const fs::path file = UserData() / L"settings.json";
    std::ofstream(file, std::ios::binary) << "{\"kept\": true}\n";
    return file;
  }

  static std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  static void ExpectNothingOfOursLeft() {
    EXPECT_FALSE(fs::exists(InstallFolder())) << InstallFolder();
    EXPECT_FALSE(fs::exists(Shortcut())) << Shortcut();
    EXPECT_FALSE(UninstallKeyExists());
  }

  static std::set<fs::path> ExpectedFiles() {
    std::set<fs::path> expected = Names(Staged());
    expected.insert(L"uninstall.exe");
    return expected;
  }
};

TEST_F(Setup, InstallsSilentlyIntoProgramFilesRegistersItsUninstallerAndLeavesNothingBehind) {
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

TEST_F(Setup, AnUpgradeReplacesTheOlderVersionInPlaceAndKeepsUserData) {
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

TEST_F(Setup, WhileTheInstalledHostRunsNeitherSetupNorUninstallerChangesAnything) {
  ASSERT_EQ(Install(OlderSetup()), 0u);
  const auto before = Files(InstallFolder());
  {
    flutter_bridge::BridgePeer peer;
    HostSession host(peer, {}, static_cast<int>(kWaitMs), (InstallFolder() / L"corvane_client.exe").wstring());
    ASSERT_EQ(host.error(), "");

    EXPECT_EQ(Install(CurrentSetup()), kExitRunning);
    EXPECT_EQ(Files(InstallFolder()), before);
    EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_OLDER_TEST_VERSION);

    Uninstall();  // its copy, which does the work, says nothing to us: what is left tells
    EXPECT_EQ(Files(InstallFolder()), before);
    EXPECT_TRUE(fs::exists(Shortcut()));
    EXPECT_TRUE(UninstallKeyExists());

    PostMessageW(host.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(host.process().wait(kWaitMs).exit_code, 0u);
  }
  // Once it has ended, the same setup goes through.
  EXPECT_EQ(Install(CurrentSetup()), 0u);
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_VERSION_TEXT);
}

TEST_F(Setup, AnEarlierInstallWhoseUninstallerFailsIsLeftAsItWas) {
  ASSERT_EQ(Install(OlderSetup()), 0u);
  // An uninstaller that fails: the fake driver installer, told to exit with 5.
  fs::copy_file(fs::path(corvane::testing::executable_directory()) / L"fake_installer.exe",
                InstallFolder() / L"uninstall.exe", fs::copy_options::overwrite_existing);
  const auto before = Files(InstallFolder());
  ASSERT_TRUE(SetEnvironmentVariableW(L"CORVANE_FAKE_INSTALLER_EXIT", L"5"));
  EXPECT_EQ(Install(CurrentSetup()), kExitEarlierInstall);
  SetEnvironmentVariableW(L"CORVANE_FAKE_INSTALLER_EXIT", nullptr);
  EXPECT_EQ(Files(InstallFolder()), before);
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_OLDER_TEST_VERSION);
}

TEST_F(Setup, TheInstalledProgramsRunFromProgramFiles) {
  ASSERT_EQ(Install(CurrentSetup()), 0u);
  // The installed-folder tests, pointed at Program Files: the host opens its window, the helper names
  // the missing runtime and finds one put beside it.
  ASSERT_TRUE(SetEnvironmentVariableW(L"CORVANE_INSTALLED_DIR", InstallFolder().c_str()));
  const corvane::testing::ChildOutcome outcome =
      corvane::testing::run_child(L"installed_tests.exe",
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
