#pragma once
// The native services of the Flutter application: the "corvane/remote_input" channel it calls and
// the "corvane/chat_file_drop" channel it is told about dropped files on, plus the window messages
// those services need.

#include <windows.h>
// After windows.h: HDROP.
#include <shellapi.h>

#include <flutter/binary_messenger.h>
#include <flutter/encodable_value.h>
#include <flutter/method_channel.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bus_client.h"
#include "driver_installer.h"
#include "gamepad_reader.h"
#include "method_arguments.h"
#include "method_dispatch.h"
#include "remote_input.h"
#include "virtual_gamepad.h"

// Identifier of the registered emergency hot key (Ctrl+Alt+F12), and of the host window's release timer.
inline constexpr int EmergencyHotKeyId = 0xB0C0;
inline constexpr int ReleaseTimerId = EmergencyHotKeyId + 1;
// Identifiers of the emergency hot key with Shift, a Windows key, or both held on top of it.
inline constexpr int EmergencyShiftHotKeyId = EmergencyHotKeyId + 2;
inline constexpr int EmergencyWindowsHotKeyId = EmergencyHotKeyId + 3;
inline constexpr int EmergencyShiftWindowsHotKeyId = EmergencyHotKeyId + 4;

// SendInput's signature: the one function through which all keyboard and mouse input is injected.
using SendInputFunction = UINT (*)(UINT count, LPINPUT inputs, int size);
// FlashWindowEx's signature: how "attention" flashes the task-bar button.
using FlashWindowFunction = BOOL (*)(PFLASHWINFO flash);
// MapVirtualKeyW's signature: the scan codes injected keys carry.
using MapVirtualKeyFunction = UINT (*)(UINT code, UINT map_type);

// What DesktopServices reaches the system through where tests put something else: SendInput,
// MapVirtualKeyW, FlashWindowEx, the bus driver's device I/O, the gamepad APIs, the millisecond clock
// and the driver installer's. Defaults: the real ones.
struct DesktopServicesSeams {
  SendInputFunction send_input = ::SendInput;
  MapVirtualKeyFunction map_virtual_key = ::MapVirtualKeyW;
  FlashWindowFunction flash_window = ::FlashWindowEx;
  std::function<std::uint64_t()> now_ms = [] { return GetTickCount64(); };
  std::unique_ptr<corvane::client::BusDeviceIo> bus_io;      // null: the system's
  std::unique_ptr<corvane::client::GamepadApi> gamepad_api;  // null: the system's
  corvane::client::DriverInstallerSeams installer;
};

// Owned by the host window from its creation to its destruction; everything runs on the UI thread.
class DesktopServices {
 public:
  // Accepts dropped files on `window` and serves the channels on `messenger`.
  DesktopServices(flutter::BinaryMessenger* messenger, HWND window, DesktopServicesSeams seams = {});
  ~DesktopServices();

  DesktopServices(const DesktopServices&) = delete;
  DesktopServices& operator=(const DesktopServices&) = delete;

  // Offered every message of the host window first; true when it was handled here.
  bool HandleWindowMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  using Channel = flutter::MethodChannel<flutter::EncodableValue>;
  using Result = flutter::MethodResult<flutter::EncodableValue>;
  using MethodArguments = corvane::client::MethodArguments;
  using RemoteInputMethod = corvane::client::RemoteInputMethod;

  // Timer, hot key, monitors, SendInput and the emergency event, for the consent logic.
  class Platform : public corvane::client::ConsentPlatform {
   public:
    Platform(HWND window, SendInputFunction send_input, MapVirtualKeyFunction map_virtual_key, Channel*& channel)
        : window_(window), send_input_(send_input), map_virtual_key_(map_virtual_key), channel_(channel) {}
    std::optional<corvane::client::ScreenPoint> CursorPosition() override;
    corvane::client::VirtualScreen VirtualScreenRect() override;
    std::uint32_t SendInput(const std::vector<corvane::client::InputRecord>& records) override;
    std::uint32_t ScanCode(std::uint16_t virtual_key) override;
    bool StartReleaseTimer() override;
    void StopReleaseTimer() override;
    bool RegisterEmergencyHotKey(corvane::client::EmergencyChord chord) override;
    void UnregisterEmergencyHotKey(corvane::client::EmergencyChord chord) override;
    corvane::client::ConsentArea ResolveSourceRect(const std::string& source_id) override;
    void SendEmergencyStop(const std::string& session_id) override;

   private:
    HWND window_;
    SendInputFunction send_input_;
    MapVirtualKeyFunction map_virtual_key_;
    Channel*& channel_;
  };

  // Dispatches one call of the remote-input channel by its exact name.
  void HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call, Result& result);
  // Runs the method `method` with `arguments`.
  void Dispatch(RemoteInputMethod method, const MethodArguments& arguments, Result& result);
  // "readGamepads": the local pads, their values only while the host window is in front.
  void ReadGamepads(const MethodArguments& arguments, Result& result);
  // "screenInfo": the pixel size of the monitor or virtual screen a "sourceId" names.
  static void ScreenInfo(const MethodArguments& arguments, Result& result);
  // "attention": flashes the task-bar button until the window comes to the front.
  void Attention(Result& result);
  // "gamepadFullscreen": borderless full screen on the window's monitor, or back.
  void GamepadFullscreen(const MethodArguments& arguments, Result& result);
  // Puts the root window back as it was before full screen.
  void LeaveFullscreen();
  // "gamepadStatus": whether the driver answers, the installer is there, and how its run went.
  void GamepadStatus(Result& result);
  // "installGamepadDriver": starts the bundled driver installer after checking it.
  void InstallGamepadDriver(Result& result);

  // Files were dropped on the window: their paths go to the application's chat.
  void OnFilesDropped(HDROP drop);

  HWND window_;
  FlashWindowFunction flash_window_;
  std::unique_ptr<Channel> remote_input_channel_;
  std::unique_ptr<Channel> file_drop_channel_;
  Channel* emergency_channel_ = nullptr;  // the remote-input channel while it exists
  bool fullscreen_ = false;
  LONG_PTR saved_style_ = 0;              // the root window's style before full screen
  WINDOWPLACEMENT saved_placement_ = {};  // and its placement (maximised or not, normal rectangle)
  Platform platform_;
  corvane::client::VirtualGamepad virtual_gamepad_;
  corvane::client::GamepadReader gamepad_reader_;
  corvane::client::RemoteInput remote_input_;
  corvane::client::DriverInstaller driver_installer_;
};
