#pragma once
// The bus driver's installer, shipped beside the host: its digest and signature checked, then started
// elevated and silently with a verbose log, and watched by polling. Used on the UI thread only.

#include <windows.h>
// After windows.h: SHELLEXECUTEINFOW.
#include <shellapi.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "base/expected.h"
#include "base/handles.h"
#include "gamepad_driver.h"  // kBundledInstallerName, kBundledInstallerSha256

namespace corvane::client {

// Why "installGamepadDriver" failed.
enum class InstallError {
  kMissing,              // the installer file cannot be opened
  kInvalid,              // digest, signature, or the file cannot be read
  kNoLogDirectory,       // LOCALAPPDATA unset, empty or too long
  kLogDirectoryNotMade,  // the log directory could not be created
  kElevationCancelled,   // the user declined elevation
  kCouldNotStart,        // any other start failure
  kNoProcess,            // started, but no process handle came back
};

// The message the application is answered with for `error`.
std::string_view InstallErrorMessage(InstallError error);

// What "gamepadStatus" reports.
struct DriverInstallStatus {
  bool ready = false;               // the driver answers
  bool bundled = false;             // the installer file is there
  bool installing = false;          // an installer process runs
  bool reboot_required = false;     // the last exit code was 3010 or 1641
  bool installer_finished = false;  // an installer started by this process has ended
  std::int64_t installer_exit = 0;  // the last exit code, or the error of the exit-code query
};

// Where the installer reaches the system and the product's fixed checks; tests put their own here.
// The host always uses the defaults.
struct DriverInstallerEnvironment {
  std::wstring host_folder;                                            // empty: the executable's folder
  std::string expected_sha256{kBundledInstallerSha256};                // lowercase hexadecimal
  std::function<bool(HANDLE file, const std::wstring& path)> trusted;  // null: WinVerifyTrust says 0
  std::function<std::wstring(HANDLE handle)> final_path;               // null: GetFinalPathNameByHandleW ("\\?\" kept)
  std::function<BOOL(SHELLEXECUTEINFOW* info)> shell_execute;          // null: ShellExecuteExW
  std::function<std::error_code(const std::filesystem::path& directory)> create_directories;  // null: std's
};

// The installer path of a host in `host_folder`: "drivers" and the installer's name in it; empty for
// an empty folder.
std::wstring InstallerPathIn(const std::wstring& host_folder);

// A final path as GetFinalPathNameByHandleW gives it, without its "\\?\" prefix ("\\?\UNC\"
// becomes "\\"), so that it can be compared and started like any other path.
std::wstring WithoutFinalPathPrefix(std::wstring_view path);

// The SHA-256 of everything `file` holds from its start, as 64 lowercase hexadecimal digits, read in
// 64 KiB chunks through CNG; kInvalid when the file cannot be read or hashed.
Expected<std::string, InstallError> Sha256Hex(HANDLE file);

// WinVerifyTrust's verdict on the Authenticode signature of the open `file`, which is at `path`
// (0 = trusted): the handle is what is read; the verification state is closed again before returning.
LONG AuthenticodeVerdict(HANDLE file, const std::wstring& path);

class DriverInstaller {
 public:
  // `owner` owns the elevation prompt; `driver_ready` says whether the driver answers; `now_ms` is
  // the millisecond tick that names the logs.
  DriverInstaller(HWND owner, std::function<bool()> driver_ready, std::function<std::uint64_t()> now_ms,
                  DriverInstallerEnvironment environment = {});
  // Closes the process and file handles; a running installer goes on.
  ~DriverInstaller() = default;
  DriverInstaller(const DriverInstaller&) = delete;
  DriverInstaller& operator=(const DriverInstaller&) = delete;

  // Starts the installer unless the driver answers or one runs or is being started (a call from
  // inside the elevation prompt). Done when it started (or did not need to), else why not. Throws
  // std::invalid_argument for a log path the parameters cannot carry; every failure leaves no file handle open and no
  // process recorded.
  Expected<Done, InstallError> Install();
  // The installer's and the driver's state. Throws std::filesystem::filesystem_error when the
  // installer path's status cannot be read for a reason other than its absence.
  DriverInstallStatus Status();

 private:
  // Notices an ended installer: keeps its exit code, closes both handles.
  void Poll();
  // Whether the installer path names an existing regular file.
  bool Bundled() const;
  // A log file path whose name was not used by this process before.
  std::filesystem::path NextLogPath(const std::filesystem::path& directory);
  // The path to start the held `file` by: its final path when that is the installer's place in the
  // host's folder, else empty (the folder or a link on the way was re-pointed).
  std::wstring LaunchPath(HANDLE file) const;

  HWND owner_;
  std::function<bool()> driver_ready_;
  std::function<std::uint64_t()> now_ms_;
  DriverInstallerEnvironment environment_;
  std::wstring host_folder_;
  std::wstring installer_path_;
  UniqueProcess process_;      // the running installer
  UniqueFile installer_file_;  // held open, read share only, while it runs
  std::uint32_t exit_code_ = 0;
  bool finished_ = false;
  bool launching_ = false;  // inside the launch, whose elevation prompt can call in again
  std::uint64_t last_log_tick_ = 0;
};

}  // namespace corvane::client
