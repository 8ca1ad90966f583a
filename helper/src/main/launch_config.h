#pragma once
// The helper's command line: `--pipe-id`, `--nonce` and `--parent-pid`.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace corvane::helper {

// What the launching application told the helper; built once at start-up and never changed.
struct LaunchConfig {
  std::string pipe_id;                   // 36 characters, hexadecimal digits in lower case
  std::array<std::uint8_t, 32> nonce{};  // must be presented again by the first command
  std::uint32_t parent_pid = 0;          // never 0
};

// One command-line argument as UTF-8; `valid_unicode` is false when the original held an
// unpaired surrogate (then `text` carries U+FFFD in its place, for messages only).
struct CommandLineArgument {
  std::string text;
  bool valid_unicode = true;
};

// Parses the whole argument vector (element 0 is the program path) into a LaunchConfig,
// or the one-line reason the command line is refused.
Result<LaunchConfig> parse_launch_config(std::span<const CommandLineArgument> arguments);

// The full name of the helper's pipe: "\\.\pipe\corvane-media-" + pipe ID.
std::string pipe_name(std::string_view pipe_id);

}  // namespace corvane::helper
