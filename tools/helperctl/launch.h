#pragma once
// The portable parts of starting the helper: its identifiers, its command line and the first frame.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/hex.h"
#include "protocol/messages.h"

namespace corvane::helperctl {

// Request ID of the Authenticate frame.
inline constexpr std::string_view kAuthenticateRequestId = "auth";

// 16 random bytes as a version-4 UUID in lower case ("xxxxxxxx-xxxx-4xxx-Yxxx-xxxxxxxxxxxx", Y one of
// 8, 9, a, b): the version and variant bits are set, the other 122 bits are the random ones.
std::string uuid_v4_text(std::span<const std::uint8_t, 16> random);

// Appends one argument to a Windows command line so that CommandLineToArgvW and the C runtimes read
// it back unchanged: as it is when it holds no space, tab, newline or quote, otherwise in quotes with
// the backslashes before a quote (or before the closing quote) doubled.
void append_command_line_argument(std::string& command_line, std::string_view argument);

// The helper's command line: its path, then --pipe-id, --nonce and --parent-pid.
std::string helper_command_line(std::string_view helper_path, std::string_view pipe_id, std::string_view nonce_hex,
                                std::uint32_t parent_pid);

// The first frame: Authenticate with the nonce and helperctl's process ID, request ID "auth".
protocol::HelperEnvelope authenticate_request(std::span<const std::uint8_t> nonce, std::uint32_t parent_pid);

}  // namespace corvane::helperctl
