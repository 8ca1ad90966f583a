#include "main/windows_machine.h"

#include <windows.h>

#include "platform/standard_error.h"
#include "windows/capture/list_capture_sources.h"

namespace corvane::helper {

std::optional<std::uint32_t> WindowsMachine::windows_build() {
  using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto get_version = reinterpret_cast<RtlGetVersion>(
      reinterpret_cast<void*>(ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
  if (get_version == nullptr) {
    return std::nullopt;
  }
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (get_version(&version) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(version.dwBuildNumber);
}

void WindowsMachine::probe_log(std::string_view line) { write_standard_error_line(line); }

Result<std::vector<protocol::CaptureSource>> WindowsMachine::capture_sources() { return list_capture_sources(); }

}  // namespace corvane::helper
