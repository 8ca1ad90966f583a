#include "services/source_rect.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

namespace corvane::client {

namespace {

ConsentArea AreaOf(const RECT& rect) { return ConsentArea{rect.left, rect.top, rect.right, rect.bottom}; }

std::optional<ConsentArea> MonitorArea(HMONITOR monitor) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
    return std::nullopt;
  }
  return AreaOf(info.rcMonitor);
}

ConsentArea PrimaryMonitorArea() {
  if (const std::optional<ConsentArea> area = MonitorArea(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY))) {
    return *area;
  }
  return ConsentArea{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

std::vector<HMONITOR> EnumeratedMonitors() {
  std::vector<HMONITOR> monitors;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT, LPARAM data) -> BOOL {
        reinterpret_cast<std::vector<HMONITOR>*>(data)->push_back(monitor);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

}  // namespace

std::optional<std::uint64_t> ParseSourceNumber(const std::string& text) {
  try {
    return std::stoull(text, nullptr, 10);
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  } catch (const std::out_of_range&) {
    return std::nullopt;
  }
}

ConsentArea ResolveSourceRect(const std::string& source_id) {
  if (source_id == "-1") {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return ConsentArea{left, top, left + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                       top + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  }
  const std::optional<std::uint64_t> number = source_id.empty() ? std::nullopt : ParseSourceNumber(source_id);
  if (!number) {
    return PrimaryMonitorArea();
  }
  // The number is first taken as a monitor handle (what the media helper puts after "monitor:").
  if (const std::optional<ConsentArea> area =
          MonitorArea(reinterpret_cast<HMONITOR>(static_cast<std::uintptr_t>(*number)))) {
    return *area;
  }
  const std::vector<HMONITOR> monitors = EnumeratedMonitors();
  if (*number < monitors.size()) {
    if (const std::optional<ConsentArea> area = MonitorArea(monitors[static_cast<std::size_t>(*number)])) {
      return *area;
    }
  }
  return PrimaryMonitorArea();
}

}  // namespace corvane::client
