#include "runner/window_layout.h"

#include <algorithm>

namespace corvane::client {

namespace {

constexpr int kNormalX = 10;
constexpr int kNormalY = 10;
constexpr int kNormalWidth = 1280;
constexpr int kNormalHeight = 720;
constexpr int kInstallerWidth = 760;
constexpr int kInstallerHeight = 540;
constexpr double kLogicalDpi = 96.0;

}  // namespace

bool IsInstallerMode(const std::vector<std::string>& arguments) {
  return std::any_of(arguments.begin(), arguments.end(),
                     [](const std::string& argument) { return argument == kInstallerArgument; });
}

WindowLayout ChooseWindowLayout(const std::vector<std::string>& arguments, int screen_width, int screen_height,
                                unsigned system_dpi) {
  WindowLayout layout;
  if (!IsInstallerMode(arguments)) {
    layout.title = "Corvane";
    layout.x = kNormalX;
    layout.y = kNormalY;
    layout.width = kNormalWidth;
    layout.height = kNormalHeight;
    return layout;
  }
  layout.installer = true;
  layout.title = "\xD9\x86\xD8\xB5\xD8\xA8 Corvane";  // "نصب Corvane"
  layout.width = kInstallerWidth;
  layout.height = kInstallerHeight;
  // A DPI of 0 (no answer) is taken as the logical DPI rather than dividing by zero.
  const double scale = (system_dpi == 0 ? kLogicalDpi : static_cast<double>(system_dpi)) / kLogicalDpi;
  layout.x = (static_cast<int>(static_cast<double>(screen_width) / scale) - kInstallerWidth) / 2;
  layout.y = (static_cast<int>(static_cast<double>(screen_height) / scale) - kInstallerHeight) / 2;
  return layout;
}

int ScaleToPhysical(int logical, double scale) { return static_cast<int>(static_cast<double>(logical) * scale); }

}  // namespace corvane::client
