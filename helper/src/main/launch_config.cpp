#include "main/launch_config.h"

#include <optional>
#include <string_view>

#include "common/hex.h"

namespace corvane::helper {

namespace {

constexpr std::string_view kPipeIdOption = "--pipe-id";
constexpr std::string_view kNonceOption = "--nonce";
constexpr std::string_view kParentPidOption = "--parent-pid";

std::optional<std::string> parse_pipe_id(std::string_view value) {
  if (value.size() != 36) {
    return std::nullopt;
  }
  std::string lowered(value);
  for (std::size_t i = 0; i < lowered.size(); ++i) {
    char& c = lowered[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') {
        return std::nullopt;
      }
      continue;
    }
    if (hex_digit_value(c) < 0) {
      return std::nullopt;
    }
    if (c >= 'A' && c <= 'F') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lowered;
}

std::optional<std::array<std::uint8_t, 32>> parse_nonce(std::string_view value) {
  std::array<std::uint8_t, 32> nonce{};
  if (value.size() != nonce.size() * 2) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < nonce.size(); ++i) {
    const int high = hex_digit_value(value[2 * i]);
    const int low = hex_digit_value(value[2 * i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    nonce[i] = static_cast<std::uint8_t>((high << 4) | low);
  }
  return nonce;
}

std::optional<std::uint32_t> parse_parent_pid(std::string_view value) {
  if (!value.empty() && value.front() == '+') {
    value.remove_prefix(1);
  }
  if (value.empty()) {
    return std::nullopt;
  }
  std::uint64_t pid = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    pid = pid * 10 + static_cast<std::uint64_t>(c - '0');
    if (pid > 0xFFFFFFFFULL) {
      return std::nullopt;
    }
  }
  if (pid == 0) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(pid);
}

}  // namespace

Result<LaunchConfig> parse_launch_config(std::span<const CommandLineArgument> arguments) {
  std::optional<std::string> pipe_id;
  std::optional<std::array<std::uint8_t, 32>> nonce;
  std::optional<std::uint32_t> parent_pid;

  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const CommandLineArgument& argument = arguments[i];
    const std::string_view option = argument.text;
    const bool known =
        argument.valid_unicode && (option == kPipeIdOption || option == kNonceOption || option == kParentPidOption);
    if (!known) {
      return fail("unknown argument " + argument.text);
    }
    if (i + 1 >= arguments.size()) {
      return fail("missing value for " + argument.text);
    }
    const CommandLineArgument& value = arguments[++i];
    if (!value.valid_unicode) {
      return fail("value for " + argument.text + " is not valid Unicode");
    }
    if (option == kPipeIdOption) {
      pipe_id = parse_pipe_id(value.text);
      if (!pipe_id) {
        return fail("invalid pipe UUID");
      }
    } else if (option == kNonceOption) {
      nonce = parse_nonce(value.text);
      if (!nonce) {
        return fail("nonce must be exactly 32 bytes encoded as hexadecimal");
      }
    } else {
      parent_pid = parse_parent_pid(value.text);
      if (!parent_pid) {
        return fail("invalid parent process ID");
      }
    }
  }

  if (!pipe_id) {
    return fail("--pipe-id is required");
  }
  if (!nonce) {
    return fail("--nonce is required");
  }
  if (!parent_pid) {
    return fail("--parent-pid is required");
  }
  return LaunchConfig{std::move(*pipe_id), *nonce, *parent_pid};
}

std::string pipe_name(std::string_view pipe_id) { return "\\\\.\\pipe\\corvane-media-" + std::string(pipe_id); }

}  // namespace corvane::helper
