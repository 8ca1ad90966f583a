#include "gamepad/driver_installer.h"

// After windows.h: CNG and WinTrust.
#include <bcrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <array>
#include <stdexcept>
#include <utility>
#include <vector>

namespace corvane::client {
namespace {

constexpr DWORD kHashChunkBytes = 65536;
constexpr DWORD kPathCapacity = 32768;
constexpr DWORD kMaxPathLength = 32767;
constexpr std::uint32_t kRebootRequired = 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr std::uint32_t kRebootInitiated = 1641;  // ERROR_SUCCESS_REBOOT_INITIATED
constexpr wchar_t kInstallerParameters[] = L"/exenoui /qn /norestart REBOOT=ReallySuppress /L*v ";

// The executable's own folder, or empty when its path cannot be read whole.
std::wstring ModuleFolder() {
  std::wstring path(kPathCapacity, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kPathCapacity);
  if (length == 0 || length >= kMaxPathLength) {
    return {};
  }
  path.resize(length);
  return std::filesystem::path(path).parent_path().wstring();
}

// GetFinalPathNameByHandleW's name for `handle` (links resolved, "\\?\" prefix kept), or empty.
std::wstring SystemFinalPath(HANDLE handle) {
  std::wstring path(kPathCapacity, L'\0');
  const DWORD length =
      GetFinalPathNameByHandleW(handle, path.data(), kPathCapacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  // A failure gives 0, and a path that does not fit its length plus its terminator: both no path.
  path.resize(length < kPathCapacity ? length : 0);
  return path;
}

// Whether two paths name the same place as Windows compares names: ordinally, ignoring case.
bool SamePath(const std::wstring& left, const std::wstring& right) {
  return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(), static_cast<int>(right.size()),
                              TRUE) == CSTR_EQUAL;
}

// Marks the launch for its duration, also when the launch throws.
class LaunchScope {
 public:
  explicit LaunchScope(bool& launching) : launching_(launching) { launching_ = true; }
  ~LaunchScope() { launching_ = false; }
  LaunchScope(const LaunchScope&) = delete;
  LaunchScope& operator=(const LaunchScope&) = delete;

 private:
  bool& launching_;
};

// Errors of a status query that mean "there is no such file".
bool IsNotFound(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string_view InstallErrorMessage(InstallError error) {
  switch (error) {
    case InstallError::kMissing:
      return "The bundled gamepad installer is missing.";
    case InstallError::kInvalid:
      return "The bundled driver signature/checksum is invalid.";
    case InstallError::kNoLogDirectory:
      return "Could not find the installation log directory.";
    case InstallError::kLogDirectoryNotMade:
      return "Could not create the installation log directory.";
    case InstallError::kElevationCancelled:
      return "Windows permission was cancelled.";
    case InstallError::kCouldNotStart:
      return "The gamepad driver installer could not start.";
    case InstallError::kNoProcess:
      return "Windows did not return the installer process.";
  }
  return "The gamepad driver installer could not start.";
}

std::wstring InstallerPathIn(const std::wstring& host_folder) {
  if (host_folder.empty()) {
    return {};
  }
  return (std::filesystem::path(host_folder) / L"drivers" / std::wstring(kBundledInstallerName)).wstring();
}

std::wstring WithoutFinalPathPrefix(std::wstring_view path) {
  constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
  constexpr std::wstring_view kPrefix = L"\\\\?\\";
  if (path.starts_with(kUncPrefix)) {
    return L"\\\\" + std::wstring(path.substr(kUncPrefix.size()));
  }
  if (path.starts_with(kPrefix)) {
    return std::wstring(path.substr(kPrefix.size()));
  }
  return std::wstring(path);
}

Expected<std::string, InstallError> Sha256Hex(HANDLE file) {
  const Failure<InstallError> unreadable{InstallError::kInvalid};
  // Declared so that they go in reverse: the hash before its object's memory and its provider.
  UniqueAlgorithmProvider algorithm;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    algorithm.Release();  // the failed call may have left anything in it
    return unreadable;
  }
  DWORD object_length = 0;
  ULONG written = 0;
  if (!BCRYPT_SUCCESS(BCryptGetProperty(algorithm.Get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&object_length),
                                        sizeof object_length, &written, 0))) {
    return unreadable;
  }
  std::vector<UCHAR> object(object_length);
  UniqueHash hash;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), hash.Put(), object.data(), object_length, nullptr, 0, 0))) {
    hash.Release();
    return unreadable;
  }
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    return unreadable;
  }
  std::vector<UCHAR> chunk(kHashChunkBytes);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, chunk.data(), kHashChunkBytes, &read, nullptr)) {
      return unreadable;
    }
    if (read == 0) {
      break;
    }
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.Get(), chunk.data(), read, 0))) {
      return unreadable;
    }
  }
  std::array<UCHAR, 32> digest = {};
  if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    return unreadable;
  }
  constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (const UCHAR byte : digest) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

LONG AuthenticodeVerdict(HANDLE file_handle, const std::wstring& path) {
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = path.c_str();  // required even when the handle is given
  file.hFile = file_handle;
  // Hashing left the handle at the end; the check starts where a freshly opened handle would.
  LARGE_INTEGER start = {};
  SetFilePointerEx(file_handle, start, nullptr, FILE_BEGIN);
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = WinVerifyTrust(nullptr, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return verdict;
}

DriverInstaller::DriverInstaller(HWND owner, std::function<bool()> driver_ready, std::function<std::uint64_t()> now_ms,
                                 DriverInstallerEnvironment environment)
    : owner_(owner),
      driver_ready_(std::move(driver_ready)),
      now_ms_(std::move(now_ms)),
      environment_(std::move(environment)) {
  host_folder_ = environment_.host_folder.empty() ? ModuleFolder() : environment_.host_folder;
  installer_path_ = InstallerPathIn(host_folder_);
  if (!environment_.trusted) {
    environment_.trusted = [](HANDLE file, const std::wstring& path) { return AuthenticodeVerdict(file, path) == 0; };
  }
  if (!environment_.final_path) {
    environment_.final_path = SystemFinalPath;
  }
  if (!environment_.shell_execute) {
    environment_.shell_execute = [](SHELLEXECUTEINFOW* info) { return ShellExecuteExW(info); };
  }
  if (!environment_.create_directories) {
    environment_.create_directories = [](const std::filesystem::path& directory) {
      std::error_code error;
      std::filesystem::create_directories(directory, error);
      return error;
    };
  }
}

void DriverInstaller::Poll() {
  if (!process_) {
    return;
  }
  // Ended means signalled: an installer may well exit with 259, the code that also means "running".
  const DWORD waited = WaitForSingleObject(process_.Get(), 0);
  if (waited == WAIT_TIMEOUT) {
    return;
  }
  DWORD code = 0;
  if (waited == WAIT_FAILED || !GetExitCodeProcess(process_.Get(), &code)) {
    code = GetLastError();
  }
  exit_code_ = code;
  process_.Reset();
  finished_ = true;
  installer_file_.Reset();
}

Expected<Done, InstallError> DriverInstaller::Install() {
  if (launching_) {
    return Done{};  // as for a running installer: the first call is starting it
  }
  Poll();
  if (process_ || driver_ready_()) {
    return Done{};
  }
  // Held until the installer ends: nobody can change the file between the check and the start.
  UniqueFile file(CreateFileW(installer_path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return Fail(InstallError::kMissing);
  }
  const Expected<std::string, InstallError> digest = Sha256Hex(file.Get());
  if (!digest || *digest != environment_.expected_sha256 || !environment_.trusted(file.Get(), installer_path_)) {
    return Fail(InstallError::kInvalid);
  }
  std::wstring local_app_data(kPathCapacity, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local_app_data.data(), kPathCapacity);
  if (length == 0 || length > kMaxPathLength) {
    return Fail(InstallError::kNoLogDirectory);
  }
  local_app_data.resize(length);
  const std::filesystem::path log_directory = std::filesystem::path(local_app_data) / L"Corvane" / L"logs";
  if (environment_.create_directories(log_directory)) {
    return Fail(InstallError::kLogDirectoryNotMade);
  }
  const std::wstring log_path = NextLogPath(log_directory).wstring();
  if (log_path.empty() || log_path.find_first_of(L"\"\r\n") != std::wstring::npos) {
    throw std::invalid_argument("Invalid installer log path");
  }
  const std::wstring parameters = kInstallerParameters + (L'"' + log_path + L'"');
  const std::wstring launch_path = LaunchPath(file.Get());
  if (launch_path.empty()) {
    return Fail(InstallError::kInvalid);
  }

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.hwnd = owner_;
  info.lpVerb = L"runas";
  info.lpFile = launch_path.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  BOOL launched = FALSE;
  {
    const LaunchScope scope(launching_);
    launched = environment_.shell_execute(&info);
  }
  if (!launched) {
    return Fail(GetLastError() == ERROR_CANCELLED ? InstallError::kElevationCancelled : InstallError::kCouldNotStart);
  }
  if (info.hProcess == nullptr) {
    return Fail(InstallError::kNoProcess);
  }
  process_.Reset(info.hProcess);
  installer_file_ = std::move(file);
  exit_code_ = 0;
  finished_ = false;
  return Done{};
}

std::filesystem::path DriverInstaller::NextLogPath(const std::filesystem::path& directory) {
  // The tick moves in steps of 10 to 16 ms: an attempt within the same step takes the next number, so
  // that no attempt's log replaces an earlier one.
  std::uint64_t tick = now_ms_();
  if (last_log_tick_ != 0 && tick <= last_log_tick_) {
    tick = last_log_tick_ + 1;
  }
  last_log_tick_ = tick;
  return directory / (L"gamepad-driver-install-" + std::to_wstring(tick) + L".log");
}

std::wstring DriverInstaller::LaunchPath(HANDLE file) const {
  // The held handle pins the file, not its path: whoever can write the host's folder could make
  // "drivers" a link and re-point it after the checks. Start the file by the path it really has,
  // and only when that is where the installer belongs.
  const UniqueFile folder(CreateFileW(host_folder_.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder) {
    return {};
  }
  const std::wstring folder_path = WithoutFinalPathPrefix(environment_.final_path(folder.Get()));
  const std::wstring file_path = WithoutFinalPathPrefix(environment_.final_path(file));
  if (folder_path.empty() || file_path.empty() || !SamePath(file_path, InstallerPathIn(folder_path))) {
    return {};
  }
  return file_path;
}

bool DriverInstaller::Bundled() const {
  if (installer_path_.empty()) {
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  if (!GetFileAttributesExW(installer_path_.c_str(), GetFileExInfoStandard, &attributes)) {
    const DWORD error = GetLastError();
    if (IsNotFound(error)) {
      return false;
    }
    throw std::filesystem::filesystem_error("status", std::filesystem::path(installer_path_),
                                            std::error_code(static_cast<int>(error), std::system_category()));
  }
  // A link counts as itself: links to a folder carry the folder flag, links to a file do not.
  const DWORD kind = attributes.dwFileAttributes;
  return (kind & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

DriverInstallStatus DriverInstaller::Status() {
  Poll();
  DriverInstallStatus status;
  status.installing = process_.IsValid();
  status.installer_exit = exit_code_;
  status.installer_finished = finished_;
  status.reboot_required = exit_code_ == kRebootRequired || exit_code_ == kRebootInitiated;
  status.bundled = Bundled();
  status.ready = driver_ready_();
  return status;
}

}  // namespace corvane::client
