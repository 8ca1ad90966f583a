#include "main/launch_config.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

#include "common/hex.h"

namespace corvane::helper {

namespace {

constexpr std::string_view kPipeIdOption = "--pipe-id";
constexpr std::string_view kNonceOption = "--nonce";
constexpr std::string_view kParentPidOption = "--parent-pid";

constexpr const char* kInvalidPipeId = "invalid pipe UUID";
constexpr const char* kInvalidNonce = "nonce must be exactly 32 bytes encoded as hexadecimal";
constexpr const char* kInvalidParentPid = "invalid parent process ID";

Result<std::string> parse_pipe_id(std::string_view value) {
  if (value.size() != 36) {
    return fail(kInvalidPipeId);
  }
  std::string lowered(value);
  for (std::size_t i = 0; i < lowered.size(); ++i) {
    char& c = lowered[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') {
        return fail(kInvalidPipeId);
      }
      continue;
    }
    if (hex_digit_value(c) < 0) {
      return fail(kInvalidPipeId);
    }
    if (c >= 'A' && c <= 'F') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lowered;
}

Result<std::array<std::uint8_t, 32>> parse_nonce(std::string_view value) {
  std::array<std::uint8_t, 32> nonce{};
  if (value.size() != nonce.size() * 2) {
    return fail(kInvalidNonce);
  }
  for (std::size_t i = 0; i < nonce.size(); ++i) {
    const int high = hex_digit_value(value[2 * i]);
    const int low = hex_digit_value(value[2 * i + 1]);
    if (high < 0 || low < 0) {
      return fail(kInvalidNonce);
    }
    nonce[i] = static_cast<std::uint8_t>((high << 4) | low);
  }
  return nonce;
}

// Decimal digits after an optional "+", from 1 to 4294967295.
Result<std::uint32_t> parse_parent_pid(std::string_view value) {
  if (!value.empty() && value.front() == '+') {
    value.remove_prefix(1);
  }
  std::uint32_t pid = 0;
  const char* const end = value.data() + value.size();
  // from_chars takes no sign of its own here, so "+-1" and "++1" are refused with the rest.
  const auto [stop, error] = std::from_chars(value.data(), end, pid);
  if (value.empty() || error != std::errc() || stop != end || pid == 0) {
    return fail(kInvalidParentPid);
  }
  return pid;
}

}  // namespace

Result<LaunchConfig> parse_launch_config(std::span<const CommandLineArgument> arguments) {
  // Each empty until its option is given.
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
      Result<std::string> parsed = parse_pipe_id(value.text);
      if (!parsed) {
        return fail(parsed.error());
      }
      pipe_id = std::move(parsed).value();
    } else if (option == kNonceOption) {
      const Result<std::array<std::uint8_t, 32>> parsed = parse_nonce(value.text);
      if (!parsed) {
        return fail(parsed.error());
      }
      nonce = *parsed;
    } else {
      const Result<std::uint32_t> parsed = parse_parent_pid(value.text);
      if (!parsed) {
        return fail(parsed.error());
      }
      parent_pid = *parsed;
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
