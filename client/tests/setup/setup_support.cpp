#include "setup_support.h"

// clang-format off
#include <objbase.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

#include <fstream>
#include <iterator>

#include "base/handles.h"
#include "child_process.h"
#include "corvane_version.h"
#include "gamepad/driver_installer.h"

namespace corvane::testing::setup {
namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane";

fs::path KnownFolder(const KNOWNFOLDERID& id) {
  wchar_t* path = nullptr;
  if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &path))) {
    return {};
  }
  fs::path folder(path);
  CoTaskMemFree(path);
  return folder;
}

fs::path Setups() { return fs::path(executable_directory()).parent_path().parent_path() / "setups"; }

std::wstring SetupName(const std::string& version) {
  return L"corvane-test-package-setup-" + std::wstring(version.begin(), version.end()) + L"-x64";
}

}  // namespace

fs::path InstallFolder() { return KnownFolder(FOLDERID_ProgramFiles) / L"Corvane"; }
fs::path Shortcut() { return KnownFolder(FOLDERID_CommonPrograms) / L"Corvane.lnk"; }
fs::path UserData() { return KnownFolder(FOLDERID_LocalAppData) / L"Corvane"; }

fs::path CurrentSetup() { return Setups() / (SetupName(CORVANE_VERSION_TEXT) + L".exe"); }
fs::path OlderSetup() { return Setups() / (SetupName(CORVANE_OLDER_TEST_VERSION) + L".exe"); }
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
  client::UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
    key.Release();
    return false;
  }
  return true;
}

FileStates Files(const fs::path& root) {
  FileStates files;
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
  const client::UniqueFile handle(
      CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle && client::AuthenticodeVerdict(handle.Get(), file.wstring()) == ERROR_SUCCESS;
}

std::optional<DWORD> RunToTheEnd(std::wstring command_line) {
  const client::UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  const client::UniqueHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job.Get(), port.Get()};
  if (!job || !port ||
      !SetInformationJobObject(job.Get(), JobObjectAssociateCompletionPortInformation, &association,
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
  const client::UniqueHandle process_handle(process.hProcess);
  const client::UniqueHandle thread(process.hThread);
  if (!AssignProcessToJobObject(job.Get(), process_handle.Get())) {
    TerminateProcess(process_handle.Get(), 1);
    return std::nullopt;
  }
  ResumeThread(thread.Get());
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* detail = nullptr;
    if (now >= deadline ||
        !GetQueuedCompletionStatus(port.Get(), &message, &key, &detail, static_cast<DWORD>(deadline - now))) {
      TerminateJobObject(job.Get(), 1);
      return std::nullopt;
    }
    if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
      break;
    }
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process_handle.Get(), &exit_code);
  return exit_code;
}

std::optional<DWORD> Install(const fs::path& setup) { return RunToTheEnd(L"\"" + setup.wstring() + L"\" /S"); }
std::optional<DWORD> Uninstall() {
  return RunToTheEnd(L"\"" + (InstallFolder() / L"uninstall.exe").wstring() + L"\" /S");
}

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

void SetupTest::SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
void SetupTest::TearDownTestSuite() { CoUninitialize(); }

void SetupTest::SetUp() {
  ASSERT_TRUE(fs::is_regular_file(CurrentSetup())) << CurrentSetup() << " (made by the package.setups test)";
  ASSERT_TRUE(fs::is_regular_file(OlderSetup())) << OlderSetup();
  ASSERT_FALSE(fs::exists(InstallFolder())) << InstallFolder();
  ASSERT_FALSE(UninstallKeyExists());
  ASSERT_FALSE(fs::exists(UserData())) << UserData();
}

void SetupTest::TearDown() {
  std::error_code ignored;
  fs::remove_all(UserData(), ignored);
  if (fs::exists(InstallFolder() / L"uninstall.exe")) {
    Uninstall();
  }
  fs::remove_all(InstallFolder(), ignored);
  fs::remove(Shortcut(), ignored);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_WOW64_64KEY, 0);
}

fs::path SetupTest::MakeUserData() {
  fs::create_directories(UserData());
  const fs::path file = UserData() / L"settings.json";
  std::ofstream(file, std::ios::binary) << "{\"kept\": true}\n";
  return file;
}

std::string SetupTest::Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void SetupTest::ExpectNothingOfOursLeft() {
  EXPECT_FALSE(fs::exists(InstallFolder())) << InstallFolder();
  EXPECT_FALSE(fs::exists(Shortcut())) << Shortcut();
  EXPECT_FALSE(UninstallKeyExists());
}

void SetupTest::ExpectSetupAndUninstallerRefuse(const FileStates& before) {
  EXPECT_EQ(Install(CurrentSetup()), kExitRunning);
  EXPECT_EQ(Files(InstallFolder()), before);
  EXPECT_EQ(UninstallString(L"DisplayVersion"), L"" CORVANE_OLDER_TEST_VERSION);

  Uninstall();  // its copy, which does the work, says nothing to us: what is left tells
  EXPECT_EQ(Files(InstallFolder()), before);
  EXPECT_TRUE(fs::exists(Shortcut()));
  EXPECT_TRUE(UninstallKeyExists());
}

std::set<fs::path> SetupTest::ExpectedFiles() {
  std::set<fs::path> expected = Names(Staged());
  expected.insert(L"uninstall.exe");
  return expected;
}

}  // namespace corvane::testing::setup
