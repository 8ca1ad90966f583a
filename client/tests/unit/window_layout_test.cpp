#include "runner/window_layout.h"

#include <gtest/gtest.h>

namespace corvane::client {
namespace {

TEST(InstallerMode, OnlyAnArgumentEqualToTheFlagSelectsIt) {
  EXPECT_TRUE(IsInstallerMode({"--installer"}));
  EXPECT_TRUE(IsInstallerMode({"--verbose", "x", "--installer", "--other"}));
  EXPECT_FALSE(IsInstallerMode({}));
  EXPECT_FALSE(IsInstallerMode({"--Installer"}));
  EXPECT_FALSE(IsInstallerMode({"--INSTALLER"}));
  EXPECT_FALSE(IsInstallerMode({"--installer=1"}));
  EXPECT_FALSE(IsInstallerMode({"--installerx"}));
  EXPECT_FALSE(IsInstallerMode({"-installer"}));
  EXPECT_FALSE(IsInstallerMode({" --installer"}));
  EXPECT_FALSE(IsInstallerMode({std::string("--installer\0", 12)}));
}

TEST(WindowLayout, NormalWindowIsAtTenTenWithTheProductTitle) {
  const WindowLayout layout = ChooseWindowLayout({"--installer-like", "a"}, 1920, 1080, 96);
  EXPECT_FALSE(layout.installer);
  EXPECT_EQ(layout.title, "Corvane");
  EXPECT_EQ(layout.x, 10);
  EXPECT_EQ(layout.y, 10);
  EXPECT_EQ(layout.width, 1280);
  EXPECT_EQ(layout.height, 720);
}

TEST(WindowLayout, InstallerWindowIsCentredInLogicalUnits) {
  const WindowLayout layout = ChooseWindowLayout({"--installer"}, 1920, 1080, 96);
  EXPECT_TRUE(layout.installer);
  // "نصب Corvane": NOON, SAD, BEH, then a space and the product name.
  EXPECT_EQ(layout.title, "\u0646\u0635\u0628 Corvane");
  EXPECT_EQ(layout.width, 760);
  EXPECT_EQ(layout.height, 540);
  EXPECT_EQ(layout.x, (1920 - 760) / 2);
  EXPECT_EQ(layout.y, (1080 - 540) / 2);
}

TEST(WindowLayout, InstallerOriginTruncatesTheScaledScreenBeforeHalving) {
  // 150 %: 2560 / 1.5 = 1706.67 -> 1706; (1706 - 760) / 2 = 473. 1440 / 1.5 = 960; (960 - 540) / 2 = 210.
  const WindowLayout layout = ChooseWindowLayout({"--installer"}, 2560, 1440, 144);
  EXPECT_EQ(layout.x, 473);
  EXPECT_EQ(layout.y, 210);
  // 125 %: 1366 / 1.25 = 1092.8 -> 1092; (1092 - 760) / 2 = 166. 768 / 1.25 = 614.4 -> 614; 37.
  const WindowLayout small = ChooseWindowLayout({"--installer"}, 1366, 768, 120);
  EXPECT_EQ(small.x, 166);
  EXPECT_EQ(small.y, 37);
}

TEST(WindowLayout, AScreenSmallerThanTheInstallerGivesANegativeOrigin) {
  const WindowLayout layout = ChooseWindowLayout({"--installer"}, 640, 480, 96);
  EXPECT_EQ(layout.x, -60);
  EXPECT_EQ(layout.y, -30);
}

TEST(WindowLayout, NoSystemDpiCountsAsTheLogicalDpi) {
  const WindowLayout layout = ChooseWindowLayout({"--installer"}, 1920, 1080, 0);
  EXPECT_EQ(layout.x, 580);
  EXPECT_EQ(layout.y, 270);
}

TEST(ScaleToPhysical, OneHundredFiftyPercentMakesTheNormalWindow1920By1080At15) {
  EXPECT_EQ(ScaleToPhysical(10, 1.5), 15);
  EXPECT_EQ(ScaleToPhysical(1280, 1.5), 1920);
  EXPECT_EQ(ScaleToPhysical(720, 1.5), 1080);
  EXPECT_EQ(ScaleToPhysical(760, 1.25), 950);
  EXPECT_EQ(ScaleToPhysical(541, 1.25), 676);  // 676.25 truncated
  EXPECT_EQ(ScaleToPhysical(-61, 1.5), -91);   // -91.5 truncated toward zero
}

}  // namespace
}  // namespace corvane::client
