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

#include "gamepad/bus_client.h"
#include "gamepad/driver_installer.h"
#include "gamepad/gamepad_reader.h"
#include "gamepad/virtual_gamepad.h"
#include "services/method_arguments.h"
#include "services/method_dispatch.h"
#include "services/remote_input.h"

namespace corvane::client {

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
struct DesktopServicesEnvironment {
  SendInputFunction send_input = ::SendInput;
  MapVirtualKeyFunction map_virtual_key = ::MapVirtualKeyW;
  FlashWindowFunction flash_window = ::FlashWindowEx;
  std::function<std::uint64_t()> now_ms = [] { return GetTickCount64(); };
  std::unique_ptr<BusDeviceIo> bus_io;      // null: the system's
  std::unique_ptr<GamepadApi> gamepad_api;  // null: the system's
  DriverInstallerEnvironment installer;
};

// Owned by the host window from its creation to its destruction; everything runs on the UI thread.
class DesktopServices {
 public:
  // Accepts dropped files on `window` and serves the channels on `messenger`.
  DesktopServices(flutter::BinaryMessenger* messenger, HWND window, DesktopServicesEnvironment environment = {});
  ~DesktopServices();

  DesktopServices(const DesktopServices&) = delete;
  DesktopServices& operator=(const DesktopServices&) = delete;

  // Offered every message of the host window first; true when it was handled here.
  bool HandleWindowMessage(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  using Channel = flutter::MethodChannel<flutter::EncodableValue>;
  using Result = flutter::MethodResult<flutter::EncodableValue>;

  // Timer, hot key, monitors, SendInput and the emergency event, for the consent logic.
  class WindowDesktop : public ConsentDesktop {
   public:
    WindowDesktop(HWND window, SendInputFunction send_input, MapVirtualKeyFunction map_virtual_key, Channel*& channel)
        : window_(window), send_input_(send_input), map_virtual_key_(map_virtual_key), channel_(channel) {}
    std::optional<ScreenPoint> CursorPosition() override;
    VirtualScreen VirtualScreenRect() override;
    std::uint32_t SendInput(const std::vector<InputRecord>& records) override;
    std::uint32_t ScanCode(std::uint16_t virtual_key) override;
    bool StartReleaseTimer() override;
    void StopReleaseTimer() override;
    bool RegisterEmergencyHotKey(EmergencyChord chord) override;
    void UnregisterEmergencyHotKey(EmergencyChord chord) override;
    ConsentArea ResolveSourceRect(const std::string& source_id) override;
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
  WindowDesktop desktop_;
  VirtualGamepad virtual_gamepad_;
  GamepadReader gamepad_reader_;
  RemoteInput remote_input_;
  DriverInstaller driver_installer_;
};

}  // namespace corvane::client
