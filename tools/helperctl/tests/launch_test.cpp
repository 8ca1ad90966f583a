// Starting the helper: the pipe ID and nonce the helper accepts, the command line, the first frame.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "helperctl/launch.h"
#include "main/launch_config.h"
#include "protocol/messages.h"

namespace corvane::helperctl {
namespace {

std::array<std::uint8_t, 16> bytes16(std::uint8_t first, std::uint8_t step) {
  std::array<std::uint8_t, 16> out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(first + step * i);
  }
  return out;
}

// Splits a command line as the Microsoft C runtime does for arguments after the program name
// (2n backslashes + quote: n backslashes, quote toggles; 2n+1: n backslashes and a literal quote).
std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
      ++i;
    }
    if (i >= line.size()) {
      return out;
    }
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      std::size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        word.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          word.push_back('"');
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        word.append(backslashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
          word.push_back(line[i]);
          ++i;
        }
      }
    }
    out.push_back(word);
  }
}

TEST(helperctlLaunch, UuidSetsVersionAndVariantBits) {
  std::array<std::uint8_t, 16> zeros{};
  EXPECT_EQ(uuid_v4_text(zeros), "00000000-0000-4000-8000-000000000000");
  std::array<std::uint8_t, 16> ones{};
  ones.fill(0xFF);
  EXPECT_EQ(uuid_v4_text(ones), "ffffffff-ffff-4fff-bfff-ffffffffffff");
  EXPECT_EQ(uuid_v4_text(bytes16(0, 1)), "00010203-0405-4607-8809-0a0b0c0d0e0f");
  EXPECT_EQ(uuid_v4_text(bytes16(0xA0, 0x11)), "a0b1c2d3-e4f5-4617-a839-4a5b6c7d8e9f");
}

TEST(helperctlLaunch, LowerHex) {
  const std::vector<std::uint8_t> bytes = {0x00, 0x09, 0xAB, 0xFF};
  EXPECT_EQ(lower_hex(bytes), "0009abff");
  EXPECT_EQ(lower_hex({}), "");
}

TEST(helperctlLaunch, TheHelperAcceptsWhatHelperctlPasses) {
  std::array<std::uint8_t, 32> nonce{};
  for (std::size_t i = 0; i < nonce.size(); ++i) {
    nonce[i] = static_cast<std::uint8_t>(0xF0 + i * 7);
  }
  const std::string pipe_id = uuid_v4_text(bytes16(0x9C, 0x35));
  const std::string line =
      helper_command_line("C:\\Program Files\\Corvane\\corvane_media_helper.exe", pipe_id, lower_hex(nonce), 4242);
  std::vector<helper::CommandLineArgument> arguments;
  for (auto& word : split_command_line(line)) {
    arguments.push_back({std::move(word), true});
  }
  ASSERT_EQ(arguments.size(), 7U) << line;
  EXPECT_EQ(arguments[0].text, "C:\\Program Files\\Corvane\\corvane_media_helper.exe");
  const auto config = helper::parse_launch_config(arguments);
  ASSERT_TRUE(config) << config.error();
  EXPECT_EQ(config->pipe_id, pipe_id);
  EXPECT_EQ(config->nonce, nonce);
  EXPECT_EQ(config->parent_pid, 4242U);
}

TEST(helperctlLaunch, CommandLineOfTheHelper) {
  EXPECT_EQ(helper_command_line("C:\\h.exe", "id", "00ff", 7), "C:\\h.exe --pipe-id id --nonce 00ff --parent-pid 7");
  EXPECT_EQ(helper_command_line("C:\\a b\\h.exe", "id", "00ff", 4294967295U),
            "\"C:\\a b\\h.exe\" --pipe-id id --nonce 00ff --parent-pid 4294967295");
}

TEST(helperctlLaunch, QuotesArgumentsSoTheyReadBackUnchanged) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"C:\\dir\\x.exe", "C:\\dir\\x.exe"},
      {"", "\"\""},
      {"a b", "\"a b\""},
      {"tab\there", "\"tab\there\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\"b", "\"a\\\"b\""},
      {"C:\\dir with space\\", "\"C:\\dir with space\\\\\""},
      {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
  };
  for (const auto& [argument, expected] : cases) {
    std::string line;
    append_command_line_argument(line, argument);
    EXPECT_EQ(line, expected) << argument;
    std::string both = "prog";
    append_command_line_argument(both, argument);
    append_command_line_argument(both, "next");
    EXPECT_EQ(split_command_line(both), (std::vector<std::string>{"prog", argument, "next"})) << both;
  }
}

TEST(helperctlLaunch, AuthenticateFrame) {
  std::array<std::uint8_t, 32> nonce{};
  nonce.fill(0x5A);
  const auto envelope = authenticate_request(nonce, 1234);
  EXPECT_EQ(envelope.request_id, "auth");
  const auto decoded = protocol::decode_envelope(protocol::encode_envelope(envelope), protocol::Sender::client);
  ASSERT_TRUE(decoded);
  const auto* auth = std::get_if<protocol::Authenticate>(&decoded->payload);
  ASSERT_NE(auth, nullptr);
  EXPECT_EQ(auth->nonce, std::vector<std::uint8_t>(32, 0x5A));
  EXPECT_EQ(auth->parent_process_id, 1234U);
  EXPECT_EQ(decoded->contract_version, protocol::kContractVersion);
}

}  // namespace
}  // namespace corvane::helperctl
