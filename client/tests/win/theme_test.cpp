// The frame theme follows "AppsUseLightTheme" read from Wine's real registry; the DWM side is
// recorded through the theme access seam (Wine draws no immersive dark frame to observe).
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "runner/theme.h"

namespace {

constexpr wchar_t kPersonalizeKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kValueName[] = L"AppsUseLightTheme";

// Saves the user's value (if any) and puts it back afterwards.
class ThemeRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kPersonalizeKey, kValueName, RRF_RT_REG_DWORD, nullptr, &value, &size) ==
        ERROR_SUCCESS) {
      saved_ = value;
    }
  }
  void TearDown() override {
    if (saved_) {
      Write(*saved_);
    } else {
      Remove();
    }
  }
  static void Write(DWORD value) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kPersonalizeKey, kValueName, REG_DWORD, &value, sizeof value),
              ERROR_SUCCESS);
  }
  static void WriteText(const wchar_t* text) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kPersonalizeKey, kValueName, REG_SZ, text,
                              static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  static void Remove() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kPersonalizeKey, kValueName); }

  // Applies the theme through the real registry reader and a recording DWM side.
  std::vector<BOOL> Apply() {
    std::vector<BOOL> applied;
    const ThemeAccess recording{SystemThemeAccess().read_apps_use_light_theme, [&applied](HWND window, BOOL dark) {
                                  EXPECT_EQ(window, kWindow);
                                  applied.push_back(dark);
                                }};
    UpdateTheme(kWindow, recording);
    return applied;
  }

  static inline const HWND kWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  std::optional<DWORD> saved_;
};

TEST_F(ThemeRegistry, ZeroMeansADarkFrame) {
  Write(0);
  EXPECT_EQ(Apply(), std::vector<BOOL>{TRUE});
}

TEST_F(ThemeRegistry, AnyOtherValueMeansALightFrame) {
  Write(1);
  EXPECT_EQ(Apply(), std::vector<BOOL>{FALSE});
  Write(2);
  EXPECT_EQ(Apply(), std::vector<BOOL>{FALSE});
}

TEST_F(ThemeRegistry, SwitchingTheThemeSwitchesTheAttribute) {
  Write(1);
  EXPECT_EQ(Apply(), std::vector<BOOL>{FALSE});
  Write(0);
  EXPECT_EQ(Apply(), std::vector<BOOL>{TRUE});
}

TEST_F(ThemeRegistry, AMissingOrMistypedValueChangesNothing) {
  Remove();
  EXPECT_TRUE(Apply().empty());
  WriteText(L"0");
  EXPECT_TRUE(Apply().empty()) << "only a DWORD counts";
}

}  // namespace
