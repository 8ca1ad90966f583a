#include "runner/theme.h"

#include <dwmapi.h>

namespace {

constexpr wchar_t kPersonalizeKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kAppsUseLightTheme[] = L"AppsUseLightTheme";
// DWMWA_USE_IMMERSIVE_DARK_MODE, which older SDK headers do not name.
constexpr DWORD kUseImmersiveDarkMode = 20;

}  // namespace

const ThemeAccess& SystemThemeAccess() {
  static const ThemeAccess access{
      [] {
        DWORD value = 0;
        DWORD size = sizeof value;
        const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kPersonalizeKey, kAppsUseLightTheme, RRF_RT_REG_DWORD,
                                            nullptr, &value, &size);
        return status == ERROR_SUCCESS ? std::optional<DWORD>(value) : std::nullopt;
      },
      [](HWND window, BOOL dark) { DwmSetWindowAttribute(window, kUseImmersiveDarkMode, &dark, sizeof dark); }};
  return access;
}

void UpdateTheme(HWND window, const ThemeAccess& access) {
  const std::optional<DWORD> light = access.read_apps_use_light_theme();
  if (!light) {
    return;
  }
  access.set_dark_mode(window, *light == 0 ? TRUE : FALSE);
}
