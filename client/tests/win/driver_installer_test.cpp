// The driver installer in-process under Wine: the real file lock, digest, WinVerifyTrust, final paths,
// log folder and ShellExecuteExW, with our fake installer program copied where the bundled installer
// goes. The product's digest and trust verdict come through the seam: no signed installer exists here.
// The linked-folder and signed-installer tests need the files the win.installer_files test makes on
// the Linux side (symbolic links, which Wine cannot make; a signature); run by hand before it, they skip.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "gamepad/driver_installer.h"

namespace {

namespace fs = std::filesystem;
using corvane::client::DriverInstaller;
using corvane::client::DriverInstallerEnvironment;
using corvane::client::DriverInstallStatus;
using corvane::client::InstallError;
using corvane::client::InstallErrorMessage;

constexpr DWORD kWaitMs = 10000;  // a guard against a hang, never the point of a test

fs::path ExecutableFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path();
}

// The folder win.installer_files lays out beside the build's bin folder: host\drivers links to
// elsewhere, linked-host links to real-host (whose drivers folder is real), and signed-installer.exe is
// the fake installer with a signature.
fs::path FixtureFolder() { return ExecutableFolder().parent_path() / L"installer-files"; }

// What Windows calls the file or folder `handle` is open on, links resolved and "\\?\" included.
std::wstring RealFinalPath(HANDLE handle) {
  std::wstring path(32768, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), 32768, 0);
  path.resize(length < 32768 ? length : 0);
  return path;
}

std::wstring FinalPathOf(const fs::path& path) {
  const corvane::client::UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file ? RealFinalPath(file.Get()) : std::wstring();
}

bool EndsWith(const std::wstring& text, std::wstring_view end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether `path` can be opened for writing now, as anyone replacing the installer would.
bool OpenableForWriting(const fs::path& path) {
  const corvane::client::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsValid();
}

std::optional<std::string> Sha256OfFile(const fs::path& path) {
  const corvane::client::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  auto digest = corvane::client::Sha256Hex(file.Get());
  return digest ? std::optional<std::string>(std::move(digest).Value()) : std::nullopt;
}

// What an install attempt came to: nothing when it started (or needed not), else why not.
std::optional<InstallError> ErrorOf(const corvane::client::Expected<corvane::client::Done, InstallError>& installed) {
  return installed ? std::nullopt : std::optional<InstallError>(installed.Error());
}

// One start of the fake installer, as it recorded itself.
struct Start {
  DWORD pid = 0;
  std::string command_line;
};

class DriverInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + fs::path(name).wstring();
    folder_ = fs::temp_directory_path() / (L"corvane-installer-" + tag);
    fs::remove_all(folder_);
    fs::create_directories(folder_ / L"drivers");
    installer_ = folder_ / L"drivers" / std::wstring(corvane::client::kBundledInstallerName);
    fs::copy_file(ExecutableFolder() / L"standin_installer.exe", installer_);
    record_ = folder_ / L"starts.txt";
    started_event_.Reset(CreateEventW(nullptr, FALSE, FALSE, (L"corvane-installer-started-" + tag).c_str()));
    release_event_.Reset(CreateEventW(nullptr, FALSE, FALSE, (L"corvane-installer-release-" + tag).c_str()));
    SetEnvironmentVariableW(L"CORVANE_STANDIN_INSTALLER_RECORD", record_.c_str());
    SetEnvironmentVariableW(L"CORVANE_STANDIN_INSTALLER_STARTED", (L"corvane-installer-started-" + tag).c_str());
    SetEnvironmentVariableW(L"CORVANE_STANDIN_INSTALLER_RELEASE", (L"corvane-installer-release-" + tag).c_str());
    SetEnvironmentVariableW(L"LOCALAPPDATA", (folder_ / L"appdata").c_str());
    environment_.host_folder = folder_.wstring();
    environment_.expected_sha256 = Sha256OfFile(installer_).value_or("unreadable");
    environment_.trusted = [](HANDLE, const std::wstring&) { return true; };
  }
  void TearDown() override {
    installer_object_.reset();
    SetEvent(release_event_.Get());  // a fake still waiting goes
    for (const Start& start : Starts()) {
      WaitForEnd(start.pid);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
    if (!linked_installer_.empty()) {
      fs::remove(linked_installer_, ignored);
    }
  }

  // Hosts the installer in `host` of the linked-folder layout, where `drivers` leads to `target`;
  // false when the layout is not there.
  bool HostInLinkedFolder(const wchar_t* host, const wchar_t* target) {
    if (!fs::is_directory(FixtureFolder() / target)) {
      return false;
    }
    linked_installer_ = FixtureFolder() / target / std::wstring(corvane::client::kBundledInstallerName);
    fs::copy_file(installer_, linked_installer_, fs::copy_options::overwrite_existing);
    installer_ = fs::path(FixtureFolder() / host / L"drivers" / std::wstring(corvane::client::kBundledInstallerName));
    environment_.host_folder = (FixtureFolder() / host).wstring();
    return true;
  }

  // A final-path seam that answers for the installer file with `file_path` and for everything else as
  // Windows does.
  void AnswerFinalPathOfTheFileWith(std::wstring file_path) {
    environment_.final_path = [file_path](HANDLE handle) {
      const std::wstring real = RealFinalPath(handle);
      return EndsWith(real, corvane::client::kBundledInstallerName) ? file_path : real;
    };
  }

  DriverInstaller& Installer() {
    if (!installer_object_) {
      installer_object_ = std::make_unique<DriverInstaller>(
          owner_, [this] { return driver_ready_; }, [this] { return now_ms_; }, environment_);
    }
    return *installer_object_;
  }

  std::vector<Start> Starts() const {
    std::vector<Start> starts;
    std::ifstream file(record_, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
      Start start;
      const std::size_t space = line.find(' ');
      start.pid = static_cast<DWORD>(std::stoul(line.substr(0, space)));
      start.command_line = line.substr(space + 1);
      starts.push_back(start);
    }
    return starts;
  }

  static bool WaitForEnd(DWORD pid) {
    const corvane::client::UniqueProcess process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!process) {
      return true;  // already gone
    }
    return WaitForSingleObject(process.Get(), kWaitMs) == WAIT_OBJECT_0;
  }

  // Lets the running fake installer exit and waits until it has.
  bool Finish() {
    const std::vector<Start> starts = Starts();
    if (starts.empty()) {
      return false;
    }
    SetEvent(release_event_.Get());
    return WaitForEnd(starts.back().pid);
  }

  // Every failure leaves the file free and no installer recorded.
  void ExpectNothingHeldOrStarted() {
    EXPECT_TRUE(OpenableForWriting(installer_));
    const DriverInstallStatus status = Installer().Status();
    EXPECT_FALSE(status.installing);
    EXPECT_FALSE(status.installer_finished);
    EXPECT_TRUE(Starts().empty());
  }

  fs::path folder_;
  fs::path installer_;
  fs::path record_;
  corvane::client::UniqueEvent started_event_;
  corvane::client::UniqueEvent release_event_;
  HWND owner_ = nullptr;
  bool driver_ready_ = false;
  std::uint64_t now_ms_ = 5000;
  fs::path linked_installer_;  // the installer copy in the linked-folder layout, removed afterwards
  DriverInstallerEnvironment environment_;
  std::unique_ptr<DriverInstaller> installer_object_;
};

TEST(Sha256, MatchesTheStandardVectorsAcrossChunkBoundaries) {
  const fs::path folder = fs::temp_directory_path() / (L"corvane-sha-" + std::to_wstring(GetCurrentProcessId()));
  fs::create_directories(folder);
  std::ofstream(folder / L"abc", std::ios::binary) << "abc";
  std::ofstream(folder / L"million", std::ios::binary) << std::string(1000000, 'a');  // 15 chunks and a part
  std::ofstream(folder / L"empty", std::ios::binary).flush();
  EXPECT_EQ(Sha256OfFile(folder / L"abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256OfFile(folder / L"million"), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(Sha256OfFile(folder / L"empty"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_FALSE(corvane::client::Sha256Hex(nullptr));
  fs::remove_all(folder);
}

TEST(InstallerPath, IsTheDriversFolderInTheHostsFolder) {
  EXPECT_EQ(corvane::client::InstallerPathIn(L"C:\\Program Files\\Corvane"),
            L"C:\\Program Files\\Corvane\\drivers\\ViGEmBus_1.22.0_x64_x86_arm64.exe");
  EXPECT_EQ(corvane::client::InstallerPathIn(L"C:\\"), L"C:\\drivers\\ViGEmBus_1.22.0_x64_x86_arm64.exe");
  EXPECT_EQ(corvane::client::InstallerPathIn(L""), L"");
}

TEST(InstallerPath, FinalPathsLoseTheirPrefixAndUncPathsBecomeShares) {
  using corvane::client::WithoutFinalPathPrefix;
  EXPECT_EQ(WithoutFinalPathPrefix(L"\\\\?\\Z:\\corvane\\drivers"), L"Z:\\corvane\\drivers");
  EXPECT_EQ(WithoutFinalPathPrefix(L"\\\\?\\UNC\\server\\share\\corvane"), L"\\\\server\\share\\corvane");
  EXPECT_EQ(WithoutFinalPathPrefix(L"C:\\corvane"), L"C:\\corvane");
  EXPECT_EQ(WithoutFinalPathPrefix(L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(WithoutFinalPathPrefix(L""), L"");
}

TEST_F(DriverInstallerTest, StartsOnceWhileItRunsAndReportsEachExitCode) {
  std::vector<std::string> logs;
  // 259 is STILL_ACTIVE's value, yet an ordinary exit code: that installer has ended too.
  for (const DWORD code : {259u, 0u, 3010u, 1641u}) {
    SCOPED_TRACE(code);
    const std::size_t earlier = Starts().size();
    // The installer takes its exit code from the environment it starts with.
    SetEnvironmentVariableW(L"CORVANE_STANDIN_INSTALLER_EXIT", std::to_wstring(code).c_str());
    ASSERT_EQ(ErrorOf(Installer().Install()), std::nullopt);
    ASSERT_EQ(WaitForSingleObject(started_event_.Get(), kWaitMs), WAIT_OBJECT_0);
    EXPECT_EQ(ErrorOf(Installer().Install()), std::nullopt) << "a second call while it runs";
    DriverInstallStatus status = Installer().Status();
    EXPECT_TRUE(status.installing);
    EXPECT_FALSE(status.installer_finished);
    EXPECT_EQ(status.installer_exit, 0);
    EXPECT_FALSE(status.reboot_required);
    EXPECT_TRUE(status.bundled);
    EXPECT_FALSE(OpenableForWriting(installer_));

    ASSERT_TRUE(Finish());
    status = Installer().Status();  // the poll notices the end and lets the file go
    EXPECT_FALSE(status.installing);
    EXPECT_TRUE(status.installer_finished);
    EXPECT_EQ(status.installer_exit, code);
    EXPECT_EQ(status.reboot_required, code == 3010 || code == 1641);
    EXPECT_FALSE(status.ready);
    EXPECT_TRUE(OpenableForWriting(installer_));

    const std::vector<Start> starts = Starts();
    ASSERT_EQ(starts.size(), earlier + 1) << "one installer per run";
    const std::string& line = starts.back().command_line;
    const std::string parameters = " /exenoui /qn /norestart REBOOT=ReallySuppress /L*v \"";
    const std::size_t at = line.find(parameters);
    ASSERT_NE(at, std::string::npos) << line;
    logs.push_back(line.substr(at + parameters.size()));
  }
  // The clock stood still, yet every attempt has its own log, so no earlier log is replaced.
  const std::string folder = (folder_ / L"appdata" / L"Corvane" / L"logs").string();
  EXPECT_EQ(logs, (std::vector<std::string>{
                      folder + "\\gamepad-driver-install-5000.log\"", folder + "\\gamepad-driver-install-5001.log\"",
                      folder + "\\gamepad-driver-install-5002.log\"", folder + "\\gamepad-driver-install-5003.log\""}));
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(DriverInstallerTest, ClosingTheHostLeavesTheInstallerRunningAndTheFileUnlocked) {
  ASSERT_EQ(ErrorOf(Installer().Install()), std::nullopt);
  ASSERT_EQ(WaitForSingleObject(started_event_.Get(), kWaitMs), WAIT_OBJECT_0);
  const corvane::client::UniqueProcess process(OpenProcess(SYNCHRONIZE, FALSE, Starts().at(0).pid));
  ASSERT_TRUE(process);
  const corvane::client::UniqueFile held(CreateFileW(installer_.c_str(), DELETE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(held) << "the file is held with read share only";
  installer_object_.reset();
  EXPECT_EQ(WaitForSingleObject(process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the installer goes on";
  const corvane::client::UniqueFile released(CreateFileW(installer_.c_str(), DELETE,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                         nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(released) << "the host's handle is closed";
  SetEvent(release_event_.Get());
  EXPECT_EQ(WaitForSingleObject(process.Get(), kWaitMs), WAIT_OBJECT_0);
}

TEST_F(DriverInstallerTest, ADriverThatAlreadyAnswersStartsNothing) {
  driver_ready_ = true;
  EXPECT_EQ(ErrorOf(Installer().Install()), std::nullopt);
  EXPECT_TRUE(Installer().Status().ready);
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, AMissingInstallerIsReportedAndNotBundled) {
  fs::remove(installer_);
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kMissing);
  EXPECT_FALSE(Installer().Status().bundled);
  fs::create_directory(installer_);
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kMissing);
  EXPECT_FALSE(Installer().Status().bundled) << "a folder is not the installer";
  EXPECT_EQ(InstallErrorMessage(InstallError::kMissing), "The bundled gamepad installer is missing.");
}

TEST_F(DriverInstallerTest, AStatusQueryThatFailsForAnotherReasonThrows) {
  // Wine answers ERROR_BAD_DEV_TYPE for a pipe path: not an absence, so the query itself failed.
  environment_.host_folder = L"\\\\.\\pipe\\corvane-no-such-pipe";
  EXPECT_THROW(Installer().Status(), std::filesystem::filesystem_error);
}

TEST_F(DriverInstallerTest, OneChangedByteFailsTheDigest) {
  const auto size = fs::file_size(installer_);
  ASSERT_GT(size, 65536u * 2) << "the change lies in a later chunk";
  {
    std::fstream file(installer_, std::ios::binary | std::ios::in | std::ios::out);
    file.seekg(static_cast<std::streamoff>(size - 100));
    const char byte = static_cast<char>(file.get());
    file.seekp(static_cast<std::streamoff>(size - 100));
    file.put(static_cast<char>(byte ^ 1));
  }
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  EXPECT_EQ(InstallErrorMessage(InstallError::kInvalid), "The bundled driver signature/checksum is invalid.");
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, WinVerifyTrustRefusesTheUnsignedInstaller) {
  {
    const corvane::client::UniqueFile file(
        CreateFileW(installer_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    EXPECT_EQ(corvane::client::AuthenticodeVerdict(file.Get(), installer_.wstring()),
              static_cast<LONG>(TRUST_E_NOSIGNATURE));
    // What is read is the handle: by the path alone, a missing file would be "not found" (Wine: 3).
    EXPECT_EQ(corvane::client::AuthenticodeVerdict(file.Get(), (folder_ / L"no-such.exe").wstring()),
              static_cast<LONG>(TRUST_E_NOSIGNATURE));
  }
  environment_.trusted = nullptr;  // the product's own check
  const std::optional<InstallError> refused = ErrorOf(Installer().Install());
  ASSERT_EQ(refused, InstallError::kInvalid);
  EXPECT_EQ(InstallErrorMessage(*refused), "The bundled driver signature/checksum is invalid.");
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, WinVerifyTrustLetsASignedInstallerStart) {
  const fs::path signed_installer = FixtureFolder() / L"signed-installer.exe";
  if (!fs::is_regular_file(signed_installer)) {
    GTEST_SKIP() << "needs " << signed_installer
                 << ", which the ctest test win.installer_files signs with osslsigncode";
  }
  fs::copy_file(signed_installer, installer_, fs::copy_options::overwrite_existing);
  environment_.expected_sha256 = Sha256OfFile(installer_).value_or("unreadable");
  environment_.trusted = nullptr;  // the product's own check
  ASSERT_EQ(ErrorOf(Installer().Install()), std::nullopt);
  ASSERT_EQ(WaitForSingleObject(started_event_.Get(), kWaitMs), WAIT_OBJECT_0);
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(Installer().Status().installer_finished);
}

// Where the first code section of the PE file at `path` begins in the file; 0 when there is none.
std::streamoff CodeOffset(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  IMAGE_DOS_HEADER dos = {};
  file.read(reinterpret_cast<char*>(&dos), sizeof dos);
  IMAGE_NT_HEADERS64 nt = {};
  file.seekg(dos.e_lfanew);
  file.read(reinterpret_cast<char*>(&nt), sizeof nt);
  file.seekg(dos.e_lfanew + static_cast<std::streamoff>(offsetof(IMAGE_NT_HEADERS64, OptionalHeader)) +
             nt.FileHeader.SizeOfOptionalHeader);
  for (WORD i = 0; file && i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section = {};
    file.read(reinterpret_cast<char*>(&section), sizeof section);
    if ((section.Characteristics & IMAGE_SCN_CNT_CODE) != 0 && section.SizeOfRawData > 64) {
      return static_cast<std::streamoff>(section.PointerToRawData);
    }
  }
  return 0;
}

TEST_F(DriverInstallerTest, WinVerifyTrustRefusesASignedInstallerChangedAfterSigning) {
  const fs::path signed_installer = FixtureFolder() / L"signed-installer.exe";
  ASSERT_TRUE(fs::is_regular_file(signed_installer))
      << signed_installer << ", which the ctest test win.installer_files signs with osslsigncode";
  fs::copy_file(signed_installer, installer_, fs::copy_options::overwrite_existing);
  const std::streamoff code = CodeOffset(installer_);
  ASSERT_GT(code, 0);
  {
    std::fstream file(installer_, std::ios::binary | std::ios::in | std::ios::out);
    file.seekg(code + 16);
    const char byte = static_cast<char>(file.get());
    file.seekp(code + 16);
    file.put(static_cast<char>(byte ^ 0x01));
  }
  // The digest is the changed file's own: only the signature can tell.
  environment_.expected_sha256 = Sha256OfFile(installer_).value_or("unreadable");
  environment_.trusted = nullptr;  // the product's own check
  const std::optional<InstallError> refused = ErrorOf(Installer().Install());
  ASSERT_EQ(refused, InstallError::kInvalid);
  EXPECT_EQ(InstallErrorMessage(*refused), "The bundled driver signature/checksum is invalid.");
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, TheLogFolderMustBeNamedAndCreatable) {
  SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kNoLogDirectory);
  SetEnvironmentVariableW(L"LOCALAPPDATA", L"");
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kNoLogDirectory);
  EXPECT_EQ(InstallErrorMessage(InstallError::kNoLogDirectory), "Could not find the installation log directory.");
  // A folder cannot be made inside a regular file.
  SetEnvironmentVariableW(L"LOCALAPPDATA", (folder_ / L"starts-file").c_str());
  std::ofstream(folder_ / L"starts-file").put('x');
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kLogDirectoryNotMade);
  EXPECT_EQ(InstallErrorMessage(InstallError::kLogDirectoryNotMade),
            "Could not create the installation log directory.");
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, ALogPathTheParametersCannotCarryThrowsAndLetsTheFileGo) {
  // Windows refuses these names when the folder is made; only a seam lets them reach the check.
  environment_.create_directories = [](const fs::path&) { return std::error_code(); };
  for (const wchar_t* name : {L"C:\\a\"b", L"C:\\a\rb", L"C:\\a\nb"}) {
    SetEnvironmentVariableW(L"LOCALAPPDATA", name);
    EXPECT_THROW(ErrorOf(Installer().Install()), std::invalid_argument);
    ExpectNothingHeldOrStarted();
  }
}

TEST_F(DriverInstallerTest, ShellExecuteIsAskedToElevateHiddenAndItsFailuresAreTold) {
  std::vector<SHELLEXECUTEINFOW> asked;
  std::vector<std::wstring> files;  // the texts are the installer's, gone after the call
  std::vector<std::wstring> parameters;
  DWORD failure = ERROR_CANCELLED;
  environment_.shell_execute = [&](SHELLEXECUTEINFOW* info) {
    asked.push_back(*info);
    files.emplace_back(info->lpFile);
    parameters.emplace_back(info->lpParameters);
    if (failure == ERROR_SUCCESS) {
      info->hProcess = nullptr;
      return TRUE;
    }
    SetLastError(failure);
    return FALSE;
  };
  owner_ = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kElevationCancelled);
  ExpectNothingHeldOrStarted();
  failure = ERROR_ACCESS_DENIED;
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kCouldNotStart);
  failure = ERROR_SUCCESS;
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kNoProcess);
  ExpectNothingHeldOrStarted();

  ASSERT_EQ(asked.size(), 3u);
  EXPECT_EQ(asked[0].cbSize, sizeof(SHELLEXECUTEINFOW));
  EXPECT_EQ(asked[0].fMask, 0x140u);
  EXPECT_EQ(asked[0].hwnd, owner_);
  EXPECT_EQ(std::wstring(asked[0].lpVerb), L"runas");
  EXPECT_EQ(files[0], installer_.wstring()) << "its final path, which has no prefix here";
  EXPECT_EQ(asked[0].nShow, SW_HIDE);
  EXPECT_EQ(parameters[0], L"/exenoui /qn /norestart REBOOT=ReallySuppress /L*v \"" +
                               (folder_ / L"appdata\\Corvane\\logs\\gamepad-driver-install-5000.log").wstring() +
                               L"\"");
  EXPECT_EQ(InstallErrorMessage(InstallError::kElevationCancelled), "Windows permission was cancelled.");
  EXPECT_EQ(InstallErrorMessage(InstallError::kCouldNotStart), "The gamepad driver installer could not start.");
  EXPECT_EQ(InstallErrorMessage(InstallError::kNoProcess), "Windows did not return the installer process.");
}

// The checks in their order: the digest first, then the signature, then the log folder.
TEST_F(DriverInstallerTest, ABadDigestIsToldBeforeTheSignatureAndTheLogFolderAreLookedAt) {
  int trust_checks = 0;
  environment_.trusted = [&](HANDLE, const std::wstring&) {
    ++trust_checks;
    return false;
  };
  SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
  environment_.expected_sha256 = std::string(64, '0');
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  EXPECT_EQ(trust_checks, 0);
  installer_object_.reset();
  environment_.expected_sha256 = Sha256OfFile(installer_).value_or("unreadable");
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid) << "an untrusted file, before the log folder";
  EXPECT_EQ(trust_checks, 1);
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, TheSignatureIsCheckedThroughTheHeldFile) {
  std::wstring seen_path;
  std::wstring seen_file;
  bool writable = true;
  environment_.trusted = [&](HANDLE file, const std::wstring& path) {
    seen_path = path;
    seen_file = RealFinalPath(file);
    writable = OpenableForWriting(installer_);
    return false;
  };
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  EXPECT_EQ(seen_path, installer_.wstring());
  EXPECT_EQ(seen_file, FinalPathOf(installer_)) << "a handle to the installer file";
  EXPECT_FALSE(writable) << "held against writers while it is checked";
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, AFilePathThatNoLongerLeadsWhereTheInstallerBelongsIsRefused) {
  // As if "drivers" had been made a link to another folder after the checks.
  AnswerFinalPathOfTheFileWith(L"\\\\?\\" + (folder_ / L"elsewhere" / L"ViGEmBus_1.22.0_x64_x86_arm64.exe").wstring());
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  ExpectNothingHeldOrStarted();
  AnswerFinalPathOfTheFileWith(L"");  // unreadable
  installer_object_.reset();
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  ExpectNothingHeldOrStarted();
  environment_.final_path = [](HANDLE) { return std::wstring(); };  // the folder's too
  installer_object_.reset();
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, TheFilesFinalPathIsStartedWhenItIsTheInstallersPlaceWhateverItsCase) {
  std::vector<std::wstring> started;
  environment_.shell_execute = [&](SHELLEXECUTEINFOW* info) {
    started.emplace_back(info->lpFile);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  };
  struct Case {
    const wchar_t* folder;
    const wchar_t* file;
    const wchar_t* launched;
  };
  for (const Case& names : {
           Case{L"\\\\?\\UNC\\server\\share\\Corvane",
                L"\\\\?\\UNC\\SERVER\\share\\corvane\\DRIVERS\\ViGEmBus_1.22.0_x64_x86_arm64.exe",
                L"\\\\SERVER\\share\\corvane\\DRIVERS\\ViGEmBus_1.22.0_x64_x86_arm64.exe"},
           Case{L"\\\\?\\Z:\\", L"\\\\?\\Z:\\drivers\\ViGEmBus_1.22.0_x64_x86_arm64.exe",
                L"Z:\\drivers\\ViGEmBus_1.22.0_x64_x86_arm64.exe"},
           // Case folds beyond ASCII, as Windows compares names.
           Case{L"\\\\?\\C:\\\u00D6l", L"\\\\?\\c:\\\u00F6L\\drivers\\ViGEmBus_1.22.0_x64_x86_arm64.exe",
                L"c:\\\u00F6L\\drivers\\ViGEmBus_1.22.0_x64_x86_arm64.exe"},
       }) {
    environment_.final_path = [&names](HANDLE handle) {
      return EndsWith(RealFinalPath(handle), corvane::client::kBundledInstallerName) ? std::wstring(names.file)
                                                                                     : std::wstring(names.folder);
    };
    installer_object_.reset();
    EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kCouldNotStart) << "started, so the path was accepted";
    ASSERT_FALSE(started.empty());
    EXPECT_EQ(started.back(), names.launched);
  }
  EXPECT_EQ(started.size(), 3u);
  // Another name in the right folder is not the installer.
  AnswerFinalPathOfTheFileWith(L"\\\\?\\" + (folder_ / L"drivers" / L"other.exe").wstring());
  installer_object_.reset();
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  EXPECT_EQ(started.size(), 3u);
}

TEST_F(DriverInstallerTest, ADriversFolderLinkedElsewhereIsRefusedForReal) {
  if (!HostInLinkedFolder(L"host", L"elsewhere")) {
    GTEST_SKIP() << "needs " << FixtureFolder() << ", which the ctest test win.installer_files lays out";
  }
  ASSERT_TRUE(fs::is_regular_file(installer_)) << "the installer is reached through the link";
  EXPECT_EQ(ErrorOf(Installer().Install()), InstallError::kInvalid);
  ExpectNothingHeldOrStarted();
}

TEST_F(DriverInstallerTest, AHostFolderReachedThroughALinkStartsTheInstallerByItsRealPath) {
  if (!HostInLinkedFolder(L"linked-host", L"real-host\\drivers")) {
    GTEST_SKIP() << "needs " << FixtureFolder() << ", which the ctest test win.installer_files lays out";
  }
  std::wstring launched;
  environment_.shell_execute = [&](SHELLEXECUTEINFOW* info) {
    launched = info->lpFile;
    return ShellExecuteExW(info);
  };
  ASSERT_EQ(ErrorOf(Installer().Install()), std::nullopt);
  ASSERT_EQ(WaitForSingleObject(started_event_.Get(), kWaitMs), WAIT_OBJECT_0);
  EXPECT_EQ(
      launched,
      (FixtureFolder() / L"real-host" / L"drivers" / std::wstring(corvane::client::kBundledInstallerName)).wstring());
  EXPECT_FALSE(OpenableForWriting(linked_installer_));
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(Installer().Status().installer_finished);
}

// The poll's failure branches: a handle it cannot read counts as an ended installer, with the error.
TEST_F(DriverInstallerTest, AnInstallerHandleThatCannotBeReadCountsAsEndedWithTheError) {
  const HANDLE signalled = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(signalled, nullptr);
  // Wine, as Windows: waiting needs SYNCHRONIZE access, which this handle to a running process lacks.
  const HANDLE unsynchronised = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
  ASSERT_NE(unsynchronised, nullptr);
  ASSERT_EQ(WaitForSingleObject(unsynchronised, 0), WAIT_FAILED);
  struct Case {
    HANDLE handle;
    std::int64_t error;
  };
  for (const Case& kind : {Case{signalled, ERROR_INVALID_HANDLE}, Case{unsynchronised, ERROR_ACCESS_DENIED}}) {
    SCOPED_TRACE(kind.error);
    environment_.shell_execute = [&kind](SHELLEXECUTEINFOW* info) {
      info->hProcess = kind.handle;  // the installer closes it
      return TRUE;
    };
    installer_object_.reset();
    ASSERT_EQ(ErrorOf(Installer().Install()), std::nullopt);
    const DriverInstallStatus status = Installer().Status();
    EXPECT_FALSE(status.installing);
    EXPECT_TRUE(status.installer_finished);
    EXPECT_EQ(status.installer_exit, kind.error);
    EXPECT_TRUE(OpenableForWriting(installer_));
  }
}

TEST_F(DriverInstallerTest, ACallFromInsideTheElevationPromptStartsNothing) {
  int launches = 0;
  std::optional<InstallError> inner = InstallError::kCouldNotStart;
  environment_.shell_execute = [&](SHELLEXECUTEINFOW* info) {
    if (++launches == 1) {
      inner = ErrorOf(Installer().Install());  // the prompt pumps messages: "installGamepadDriver" again
    }
    return ShellExecuteExW(info);
  };
  ASSERT_EQ(ErrorOf(Installer().Install()), std::nullopt);
  EXPECT_EQ(launches, 1);
  EXPECT_EQ(inner, std::nullopt) << "answered as while it runs";
  ASSERT_EQ(WaitForSingleObject(started_event_.Get(), kWaitMs), WAIT_OBJECT_0);
  EXPECT_TRUE(Installer().Status().installing);
  ASSERT_TRUE(Finish());
  EXPECT_EQ(Starts().size(), 1u);
}

TEST_F(DriverInstallerTest, ALaunchThatThrowsLetsTheFileGoAndTheNextCallStart) {
  int launches = 0;
  environment_.shell_execute = [&](SHELLEXECUTEINFOW* info) {
    if (++launches == 1) {
      throw std::runtime_error("prompt failed");
    }
    return ShellExecuteExW(info);
  };
  EXPECT_THROW(ErrorOf(Installer().Install()), std::runtime_error);
  ExpectNothingHeldOrStarted();
  ASSERT_EQ(ErrorOf(Installer().Install()), std::nullopt);
  EXPECT_EQ(launches, 2);
  ASSERT_EQ(WaitForSingleObject(started_event_.Get(), kWaitMs), WAIT_OBJECT_0);
  ASSERT_TRUE(Finish());
}

}  // namespace
