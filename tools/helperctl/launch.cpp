#include "helperctl/launch.h"

#include <array>

namespace corvane::helperctl {

std::string uuid_v4_text(std::span<const std::uint8_t, 16> random) {
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = random[i];
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  const std::string hex = lower_hex(bytes);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

void append_command_line_argument(std::string& command_line, std::string_view argument) {
  if (!command_line.empty()) {
    command_line.push_back(' ');
  }
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    command_line.append(argument);
    return;
  }
  command_line.push_back('"');
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them: then each one is doubled, and the quote escaped.
    command_line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    command_line.push_back(c);
  }
  command_line.append(backslashes * 2, '\\');
  command_line.push_back('"');
}

std::string helper_command_line(std::string_view helper_path, std::string_view pipe_id, std::string_view nonce_hex,
                                std::uint32_t parent_pid) {
  std::string line;
  append_command_line_argument(line, helper_path);
  append_command_line_argument(line, "--pipe-id");
  append_command_line_argument(line, pipe_id);
  append_command_line_argument(line, "--nonce");
  append_command_line_argument(line, nonce_hex);
  append_command_line_argument(line, "--parent-pid");
  append_command_line_argument(line, std::to_string(parent_pid));
  return line;
}

protocol::HelperEnvelope authenticate_request(std::span<const std::uint8_t> nonce, std::uint32_t parent_pid) {
  protocol::Authenticate authenticate;
  authenticate.nonce.assign(nonce.begin(), nonce.end());
  authenticate.parent_process_id = parent_pid;
  protocol::HelperEnvelope envelope;
  envelope.request_id = std::string(kAuthenticateRequestId);
  envelope.payload = std::move(authenticate);
  return envelope;
}

}  // namespace corvane::helperctl
