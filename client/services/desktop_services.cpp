#include "services/desktop_services.h"

#include <shellapi.h>

#include <flutter/standard_method_codec.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/unicode.h"
#include "services/source_rect.h"

namespace corvane::client {
namespace {

constexpr char kRemoteInputChannel[] = "corvane/remote_input";
constexpr char kFileDropChannel[] = "corvane/chat_file_drop";
constexpr UINT kReleaseTimerMs = 100;
constexpr UINT kMaxDroppedFiles = 64;
constexpr UINT kMaxDroppedPathLength = 32767;
// The frame full screen takes away: caption, system menu, sizing border, minimise and maximise boxes.
constexpr LONG_PTR kFramedStyles = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

// The identifier an emergency chord is registered under, and the modifiers it adds to Ctrl+Alt.
struct EmergencyHotKey {
  int id;
  UINT extra_modifiers;
};

EmergencyHotKey HotKeyOf(EmergencyChord chord) {
  switch (chord) {
    case EmergencyChord::kPlain:
      break;
    case EmergencyChord::kShift:
      return {EmergencyShiftHotKeyId, MOD_SHIFT};
    case EmergencyChord::kWindows:
      return {EmergencyWindowsHotKeyId, MOD_WIN};
    case EmergencyChord::kShiftWindows:
      return {EmergencyShiftWindowsHotKeyId, MOD_SHIFT | MOD_WIN};
  }
  return {EmergencyHotKeyId, 0};
}

// Whether a WM_HOTKEY identifier is one of the emergency chords'.
bool IsEmergencyHotKey(WPARAM id) {
  return id == static_cast<WPARAM>(EmergencyHotKeyId) || id == static_cast<WPARAM>(EmergencyShiftHotKeyId) ||
         id == static_cast<WPARAM>(EmergencyWindowsHotKeyId) ||
         id == static_cast<WPARAM>(EmergencyShiftWindowsHotKeyId);
}

INPUT ToInput(const InputRecord& record) {
  INPUT input = {};
  if (record.type == InputRecord::Type::kMouse) {
    input.type = INPUT_MOUSE;
    input.mi.dx = record.dx;
    input.mi.dy = record.dy;
    input.mi.mouseData = record.mouse_data;
    input.mi.dwFlags = record.flags;
  } else {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = record.vk;
    input.ki.wScan = record.scan;
    input.ki.dwFlags = record.flags;
  }
  return input;
}

}  // namespace

std::optional<ScreenPoint> DesktopServices::WindowDesktop::CursorPosition() {
  POINT point = {};
  if (!GetCursorPos(&point)) {
    return std::nullopt;
  }
  return ScreenPoint{point.x, point.y};
}

VirtualScreen DesktopServices::WindowDesktop::VirtualScreenRect() {
  return VirtualScreen{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                       GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

std::uint32_t DesktopServices::WindowDesktop::SendInput(const std::vector<InputRecord>& records) {
  std::vector<INPUT> inputs;
  inputs.reserve(records.size());
  for (const InputRecord& record : records) {
    inputs.push_back(ToInput(record));
  }
  return send_input_(static_cast<UINT>(inputs.size()), inputs.data(), static_cast<int>(sizeof(INPUT)));
}

bool DesktopServices::WindowDesktop::StartReleaseTimer() {
  return SetTimer(window_, static_cast<UINT_PTR>(ReleaseTimerId), kReleaseTimerMs, nullptr) != 0;
}

void DesktopServices::WindowDesktop::StopReleaseTimer() { KillTimer(window_, static_cast<UINT_PTR>(ReleaseTimerId)); }

std::uint32_t DesktopServices::WindowDesktop::ScanCode(std::uint16_t virtual_key) {
  return map_virtual_key_(virtual_key, MAPVK_VK_TO_VSC);
}

bool DesktopServices::WindowDesktop::RegisterEmergencyHotKey(EmergencyChord chord) {
  const EmergencyHotKey hot_key = HotKeyOf(chord);
  return RegisterHotKey(window_, hot_key.id, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT | hot_key.extra_modifiers, VK_F12) !=
         FALSE;
}

void DesktopServices::WindowDesktop::UnregisterEmergencyHotKey(EmergencyChord chord) {
  UnregisterHotKey(window_, HotKeyOf(chord).id);
}

ConsentArea DesktopServices::WindowDesktop::ResolveSourceRect(const std::string& source_id) {
  return client::ResolveSourceRect(source_id);  // the free function, not this override
}

void DesktopServices::WindowDesktop::SendEmergencyStop(const std::string& session_id) {
  if (channel_ != nullptr) {
    channel_->InvokeMethod("emergencyStop", std::make_unique<flutter::EncodableValue>(session_id));
  }
}

DesktopServices::DesktopServices(flutter::BinaryMessenger* messenger, HWND window,
                                 DesktopServicesEnvironment environment)
    : window_(window),
      flash_window_(environment.flash_window),
      desktop_(window, environment.send_input, environment.map_virtual_key, emergency_channel_),
      virtual_gamepad_(environment.bus_io ? std::move(environment.bus_io) : SystemBusDeviceIo(), environment.now_ms),
      gamepad_reader_(environment.gamepad_api ? std::move(environment.gamepad_api) : SystemGamepadApi(),
                      environment.now_ms),
      remote_input_(desktop_, virtual_gamepad_),
      driver_installer_(
          window, [this] { return virtual_gamepad_.ProbeReady(); }, environment.now_ms,
          std::move(environment.installer)) {
  DragAcceptFiles(window_, TRUE);
  const auto* codec = &flutter::StandardMethodCodec::GetInstance();
  remote_input_channel_ = std::make_unique<Channel>(messenger, kRemoteInputChannel, codec);
  file_drop_channel_ = std::make_unique<Channel>(messenger, kFileDropChannel, codec);
  emergency_channel_ = remote_input_channel_.get();
  // Only the remote-input channel is served; the file-drop channel only tells the application.
  remote_input_channel_->SetMethodCallHandler(
      [this](const flutter::MethodCall<flutter::EncodableValue>& call, std::unique_ptr<Result> result) {
        AnswerOnce(std::move(result), [&](Result& once) { HandleMethodCall(call, once); });
      });
}

DesktopServices::~DesktopServices() {
  // Nothing injected may outlive the window: everything goes up before the channels go.
  remote_input_.ReleaseAllInput();
  if (fullscreen_) {
    LeaveFullscreen();
  }
  if (remote_input_channel_) {
    remote_input_channel_->SetMethodCallHandler(nullptr);
  }
  emergency_channel_ = nullptr;
  remote_input_channel_.reset();
  file_drop_channel_.reset();
}

bool DesktopServices::HandleWindowMessage(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_TIMER:
      if (wparam != static_cast<WPARAM>(ReleaseTimerId)) {
        return false;
      }
      remote_input_.ReleaseTimerTick();
      return true;
    case WM_DROPFILES:
      OnFilesDropped(reinterpret_cast<HDROP>(wparam));
      return true;
    case WM_HOTKEY:
      if (!IsEmergencyHotKey(wparam)) {
        return false;
      }
      remote_input_.EmergencyStop();
      return true;
    default:
      return false;
  }
}

void DesktopServices::HandleMethodCall(const flutter::MethodCall<flutter::EncodableValue>& call, Result& result) {
  const std::optional<RemoteInputMethod> method = FindRemoteInputMethod(call.method_name());
  if (!method) {
    result.NotImplemented();
    return;
  }
  Dispatch(*method, MethodArguments(call.arguments()), result);
}

void DesktopServices::Dispatch(RemoteInputMethod method, const MethodArguments& arguments, Result& result) {
  switch (method) {
    case RemoteInputMethod::kReadGamepads:
      ReadGamepads(arguments, result);
      return;
    case RemoteInputMethod::kAuthorize:
      remote_input_.Authorize(arguments, result);
      return;
    case RemoteInputMethod::kSuspend:
      remote_input_.Suspend(arguments, result);
      return;
    case RemoteInputMethod::kRevoke:
      remote_input_.Revoke(arguments, result);
      return;
    case RemoteInputMethod::kInput:
      remote_input_.Input(arguments, result);
      return;
    case RemoteInputMethod::kScreenInfo:
      ScreenInfo(arguments, result);
      return;
    case RemoteInputMethod::kAttention:
      Attention(result);
      return;
    case RemoteInputMethod::kGamepadFullscreen:
      GamepadFullscreen(arguments, result);
      return;
    case RemoteInputMethod::kGamepadStatus:
      GamepadStatus(result);
      return;
    case RemoteInputMethod::kInstallGamepadDriver:
      InstallGamepadDriver(result);
      return;
  }
  result.NotImplemented();
}

void DesktopServices::ReadGamepads(const MethodArguments& arguments, Result& result) {
  const bool foreground = GetAncestor(GetForegroundWindow(), GA_ROOT) == GetAncestor(window_, GA_ROOT);
  const std::vector<GamepadDevice> devices = gamepad_reader_.Poll(arguments.Bool("playstationLayout"));
  result.Success(ReadGamepadsResult(foreground, devices));
}

void DesktopServices::ScreenInfo(const MethodArguments& arguments, Result& result) {
  const ConsentArea area = ResolveSourceRect(arguments.String("sourceId"));
  result.Success(flutter::EncodableValue(flutter::EncodableMap{
      {flutter::EncodableValue("width"), flutter::EncodableValue(static_cast<std::int32_t>(area.right - area.left))},
      {flutter::EncodableValue("height"),
       flutter::EncodableValue(static_cast<std::int32_t>(area.bottom - area.top))}}));
}

void DesktopServices::Attention(Result& result) {
  FLASHWINFO flash = {};
  flash.cbSize = sizeof flash;
  flash.hwnd = window_;
  flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
  flash.uCount = 3;
  flash.dwTimeout = 0;  // the cursor's blink rate
  flash_window_(&flash);
  result.Success();
}

void DesktopServices::GamepadFullscreen(const MethodArguments& arguments, Result& result) {
  const bool enabled = arguments.Bool("enabled");
  if (enabled == fullscreen_) {
    result.Success();
    return;
  }
  if (!enabled) {
    LeaveFullscreen();
    result.Success();
    return;
  }
  const HWND root = GetAncestor(window_, GA_ROOT);
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  // A window whose placement or monitor cannot be read stays as it is.
  if (GetWindowPlacement(root, &placement) &&
      GetMonitorInfoW(MonitorFromWindow(root, MONITOR_DEFAULTTONEAREST), &monitor)) {
    saved_placement_ = placement;
    saved_style_ = GetWindowLongPtrW(root, GWL_STYLE);
    SetWindowLongPtrW(root, GWL_STYLE, saved_style_ & ~kFramedStyles);
    const RECT& area = monitor.rcMonitor;
    SetWindowPos(root, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_FRAMECHANGED | SWP_NOOWNERZORDER);
    fullscreen_ = true;
  }
  result.Success();
}

void DesktopServices::LeaveFullscreen() {
  const HWND root = GetAncestor(window_, GA_ROOT);
  SetWindowLongPtrW(root, GWL_STYLE, saved_style_);
  SetWindowPlacement(root, &saved_placement_);
  SetWindowPos(root, nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOOWNERZORDER);
  fullscreen_ = false;
}

void DesktopServices::GamepadStatus(Result& result) {
  const DriverInstallStatus status = driver_installer_.Status();
  result.Success(flutter::EncodableValue(flutter::EncodableMap{
      {flutter::EncodableValue("ready"), flutter::EncodableValue(status.ready)},
      {flutter::EncodableValue("bundled"), flutter::EncodableValue(status.bundled)},
      {flutter::EncodableValue("installing"), flutter::EncodableValue(status.installing)},
      {flutter::EncodableValue("rebootRequired"), flutter::EncodableValue(status.reboot_required)},
      {flutter::EncodableValue("installerFinished"), flutter::EncodableValue(status.installer_finished)},
      {flutter::EncodableValue("installerExit"), flutter::EncodableValue(status.installer_exit)}}));
}

void DesktopServices::InstallGamepadDriver(Result& result) {
  const Expected<Done, InstallError> installed = driver_installer_.Install();
  if (installed) {
    result.Success();
    return;
  }
  result.Error("GAMEPAD_DRIVER_INSTALL", std::string(InstallErrorMessage(installed.Error())));
}

void DesktopServices::OnFilesDropped(HDROP drop) {
  flutter::EncodableList paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT index = 0; index < count && index < kMaxDroppedFiles; ++index) {
    const UINT length = DragQueryFileW(drop, index, nullptr, 0);
    if (length == 0 || length > kMaxDroppedPathLength) {
      continue;
    }
    std::wstring path(length + 1, L'\0');
    const UINT read = DragQueryFileW(drop, index, path.data(), length + 1);
    if (read == 0) {
      continue;
    }
    path.resize(read);
    // A name with an unpaired surrogate has no UTF-8 form: converted anyway, it would name a file that
    // does not exist, so it is skipped.
    std::string utf8 = Utf8FromUtf16(std::wstring_view(path));
    if (utf8.empty()) {
      continue;
    }
    paths.emplace_back(std::move(utf8));
  }
  DragFinish(drop);
  if (!paths.empty() && file_drop_channel_) {
    file_drop_channel_->InvokeMethod(
        "filesDropped", std::make_unique<flutter::EncodableValue>(flutter::EncodableMap{
                            {flutter::EncodableValue("paths"), flutter::EncodableValue(std::move(paths))}}));
  }
}

}  // namespace corvane::client
