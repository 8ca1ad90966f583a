#include "windows/capture/list_capture_sources.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/unicode.h"
#include "common/unicode_lower.h"
#include "platform/os_error.h"
#include "windows/capture/capture_sources.h"

namespace corvane::helper {

namespace {

// Titles longer than this many UTF-16 units are left out, not truncated.
constexpr int kMaxTitleUnits = 1024;

struct Enumeration {
  std::vector<protocol::CaptureSource> list;
  DWORD own_process_id = GetCurrentProcessId();
  bool out_of_memory = false;  // the list could not grow: it must not be reported as complete
};

std::string handle_id(std::string_view kind, const void* handle) {
  return std::string(kind) + ":" + handle_text(reinterpret_cast<std::uintptr_t>(handle));
}

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC /*dc*/, LPRECT /*rect*/, LPARAM context) noexcept {
  auto& enumeration = *reinterpret_cast<Enumeration*>(context);
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info)) {
    return TRUE;
  }
  std::size_t length = 0;
  while (length < std::size(info.szDevice) && info.szDevice[length] != L'\0') {
    ++length;
  }
  try {
    const std::string device = utf16_to_utf8_lossy(std::wstring_view(info.szDevice, length));
    const std::int32_t width = info.rcMonitor.right - info.rcMonitor.left;
    const std::int32_t height = info.rcMonitor.bottom - info.rcMonitor.top;
    const bool primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    enumeration.list.push_back(
        {handle_id("monitor", monitor), "monitor", monitor_name(device, width, height, primary), ""});
  } catch (...) {  // nothing may unwind through the system's enumeration
    enumeration.out_of_memory = true;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK add_window(HWND window, LPARAM context) noexcept {
  auto& enumeration = *reinterpret_cast<Enumeration*>(context);
  if (!IsWindowVisible(window)) {
    return TRUE;
  }
  const int length = GetWindowTextLengthW(window);
  if (length <= 0 || length > kMaxTitleUnits) {
    return TRUE;
  }
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id == 0 || process_id == enumeration.own_process_id) {
    return TRUE;
  }
  try {
    std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, title.data(), length + 1);
    if (copied <= 0) {
      return TRUE;
    }
    title.resize(static_cast<std::size_t>(copied));
    std::string name = trim_unicode_white_space(utf16_to_utf8_lossy(std::wstring_view(title)));
    if (name.empty() || enumeration.list.size() >= kMaxCaptureSources) {
      return TRUE;
    }
    enumeration.list.push_back({handle_id("window", window), "window", std::move(name), ""});
  } catch (...) {  // nothing may unwind through the system's enumeration
    enumeration.out_of_memory = true;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

Result<std::vector<protocol::CaptureSource>> list_capture_sources() {
  Enumeration enumeration;
  const BOOL monitors = EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&enumeration));
  if (enumeration.out_of_memory) {
    return fail(system_error_text(ERROR_NOT_ENOUGH_MEMORY));
  }
  if (!monitors) {
    return fail(last_error_text());
  }
  const BOOL windows = EnumWindows(add_window, reinterpret_cast<LPARAM>(&enumeration));
  if (enumeration.out_of_memory) {
    return fail(system_error_text(ERROR_NOT_ENOUGH_MEMORY));
  }
  if (!windows) {
    return fail(last_error_text());
  }
  order_capture_sources(enumeration.list);
  return std::move(enumeration.list);
}

}  // namespace corvane::helper
