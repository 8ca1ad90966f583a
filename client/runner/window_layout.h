#pragma once
// Where the host window goes and what it is called, chosen from the command line (portable).

#include <string>
#include <string_view>
#include <vector>

namespace corvane::client {

// The title, origin and size (logical 96-DPI units) of the host window, and the mode they belong to.
struct WindowLayout {
  bool installer = false;
  std::string title;  // UTF-8
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The argument that selects installer mode, compared byte for byte with each whole argument.
inline constexpr std::string_view kInstallerArgument = "--installer";

// Whether any argument is exactly "--installer".
bool IsInstallerMode(const std::vector<std::string>& arguments);

// The layout for `arguments`: the normal window at (10, 10), or the installer window centred on a
// primary screen of `screen_width` × `screen_height` physical pixels at `system_dpi`.
WindowLayout ChooseWindowLayout(const std::vector<std::string>& arguments, int screen_width, int screen_height,
                                unsigned system_dpi);

// A logical coordinate or length in physical pixels at `scale`, truncated as the window is created.
int ScaleToPhysical(int logical, double scale);

}  // namespace corvane::client
