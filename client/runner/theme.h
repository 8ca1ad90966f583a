#pragma once
// The window frame follows the Windows app theme ("AppsUseLightTheme"): dark when the value is 0.

#include <windows.h>

#include <functional>
#include <optional>

// How the theme is read and applied; the production one reads the registry and calls DWM, tests
// replace either side.
struct ThemeAccess {
  // The "AppsUseLightTheme" DWORD, or nothing when it cannot be read.
  std::function<std::optional<DWORD>()> read_apps_use_light_theme;
  // Sets the immersive dark-mode attribute (20) of `window` to `dark`.
  std::function<void(HWND window, BOOL dark)> set_dark_mode;
};

// The registry and DWM.
const ThemeAccess& SystemThemeAccess();

// Applies the current theme to `window`; changes nothing when the value cannot be read.
void UpdateTheme(HWND window, const ThemeAccess& access = SystemThemeAccess());
