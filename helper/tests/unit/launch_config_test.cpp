#include "main/launch_config.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace corvane::helper {
namespace {

constexpr const char* kUuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
constexpr const char* kNonce = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

Result<LaunchConfig> parse(std::initializer_list<std::string> args) {
  std::vector<CommandLineArgument> arguments{{"corvane_media_helper.exe", true}};
  for (const auto& arg : args) {
    arguments.push_back({arg, true});
  }
  return parse_launch_config(arguments);
}

std::string error_of(std::initializer_list<std::string> args) {
  const auto result = parse(args);
  return result ? std::string("(accepted)") : result.error();
}

TEST(LaunchConfigParsing, AcceptsTheThreeOptionsInAnyOrder) {
  const auto config = parse({"--parent-pid", "4242", "--nonce", kNonce, "--pipe-id", kUuid});
  ASSERT_TRUE(config) << config.error();
  EXPECT_EQ(config->pipe_id, kUuid);
  EXPECT_EQ(config->parent_pid, 4242u);
  for (std::size_t i = 0; i < 32; ++i) {
    EXPECT_EQ(config->nonce[i], i);
  }
  EXPECT_EQ(pipe_name(config->pipe_id), std::string("\\\\.\\pipe\\corvane-media-") + kUuid);
}

TEST(LaunchConfigParsing, MissingOptionsAreReportedInOrder) {
  EXPECT_EQ(error_of({}), "--pipe-id is required");
  EXPECT_EQ(error_of({"--pipe-id", kUuid}), "--nonce is required");
  EXPECT_EQ(error_of({"--nonce", kNonce, "--parent-pid", "1"}), "--pipe-id is required");
  EXPECT_EQ(error_of({"--pipe-id", kUuid, "--nonce", kNonce}), "--parent-pid is required");
}

TEST(LaunchConfigParsing, OptionWithoutValue) {
  EXPECT_EQ(error_of({"--pipe-id", kUuid, "--nonce"}), "missing value for --nonce");
  EXPECT_EQ(error_of({"--parent-pid"}), "missing value for --parent-pid");
}

TEST(LaunchConfigParsing, TheNextArgumentIsAlwaysTheValue) {
  EXPECT_EQ(error_of({"--pipe-id", "--nonce", kNonce}), "invalid pipe UUID");
  EXPECT_EQ(error_of({"--parent-pid", "--pipe-id"}), "invalid parent process ID");
}

TEST(LaunchConfigParsing, UnknownArguments) {
  EXPECT_EQ(error_of({"--pipe-id=" + std::string(kUuid)}), std::string("unknown argument --pipe-id=") + kUuid);
  EXPECT_EQ(error_of({"--PIPE-ID", kUuid}), "unknown argument --PIPE-ID");
  EXPECT_EQ(error_of({"-h"}), "unknown argument -h");
  EXPECT_EQ(error_of({"--help"}), "unknown argument --help");
  EXPECT_EQ(error_of({"--pipe-id", kUuid, "--nonce", kNonce, "--parent-pid", "7", "stray"}), "unknown argument stray");
  EXPECT_EQ(error_of({""}), "unknown argument ");
}

TEST(LaunchConfigParsing, ValueErrorsComeBeforeMissingOptions) {
  EXPECT_EQ(error_of({"--nonce", "xyz"}), "nonce must be exactly 32 bytes encoded as hexadecimal");
}

TEST(LaunchConfigParsing, PipeIdShapeAndCase) {
  const auto upper =
      parse({"--pipe-id", "0F8FAD5B-D9CB-469F-A165-70867728950E", "--nonce", kNonce, "--parent-pid", "1"});
  ASSERT_TRUE(upper) << upper.error();
  EXPECT_EQ(upper->pipe_id, kUuid);
  for (const std::string bad : {
           "0f8fad5b-d9cb-469f-a165-70867728950",    // 35 characters
           "0f8fad5b-d9cb-469f-a165-70867728950e0",  // 37 characters
           "0f8fad5bd-9cb-469f-a165-70867728950e",   // dash moved
           "0f8fad5b-d9cb-469f-a165-70867728950g",   // not hexadecimal
           "0f8fad5b-d9cb-469f-a165-7086772895-e",   // extra dash
           "{f8fad5b-d9cb-469f-a165-70867728950}",
           "",
       }) {
    EXPECT_EQ(error_of({"--pipe-id", bad}), "invalid pipe UUID") << bad;
  }
}

TEST(LaunchConfigParsing, NonceLengthAndDigits) {
  const std::string nonce_message = "nonce must be exactly 32 bytes encoded as hexadecimal";
  const std::string valid(kNonce);
  EXPECT_EQ(error_of({"--nonce", valid.substr(1)}), nonce_message);
  EXPECT_EQ(error_of({"--nonce", valid + "0"}), nonce_message);
  EXPECT_EQ(error_of({"--nonce", "g" + valid.substr(1)}), nonce_message);
  EXPECT_EQ(error_of({"--nonce", ""}), nonce_message);
  const auto mixed = parse({"--pipe-id", kUuid, "--nonce", "aBcDeF" + valid.substr(6), "--parent-pid", "1"});
  ASSERT_TRUE(mixed) << mixed.error();
  EXPECT_EQ(mixed->nonce[0], 0xAB);
  EXPECT_EQ(mixed->nonce[1], 0xCD);
  EXPECT_EQ(mixed->nonce[2], 0xEF);
}

TEST(LaunchConfigParsing, ParentPidRange) {
  auto pid_of = [](const std::string& text) -> std::string {
    const auto config = parse({"--pipe-id", kUuid, "--nonce", kNonce, "--parent-pid", text});
    return config ? std::to_string(config->parent_pid) : config.error();
  };
  EXPECT_EQ(pid_of("+42"), "42");
  EXPECT_EQ(pid_of("4294967295"), "4294967295");
  EXPECT_EQ(pid_of("0004"), "4");
  for (const std::string bad :
       {"0", "+0", "-1", "4294967296", "99999999999999999999", "+", "", "12a", " 12", "++1", "1.0"}) {
    EXPECT_EQ(pid_of(bad), "invalid parent process ID") << bad;
  }
}

TEST(LaunchConfigParsing, RepeatedOptionsTakeTheLastValidValue) {
  const auto config = parse({"--parent-pid", "5", "--pipe-id", kUuid, "--nonce", kNonce, "--parent-pid", "6"});
  ASSERT_TRUE(config) << config.error();
  EXPECT_EQ(config->parent_pid, 6u);
  EXPECT_EQ(error_of({"--parent-pid", "x", "--pipe-id", kUuid, "--nonce", kNonce, "--parent-pid", "6"}),
            "invalid parent process ID");
}

TEST(LaunchConfigParsing, ValuesThatAreNotUnicodeAreRefused) {
  std::vector<CommandLineArgument> arguments = {
      {"helper", true}, {"--pipe-id", true}, {"0f8fad5b-d9cb-469f-a165-70867728950\xEF\xBF\xBD", false}};
  const auto result = parse_launch_config(arguments);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "value for --pipe-id is not valid Unicode");

  // An option name that is not valid Unicode is no option at all.
  arguments = {{"helper", true}, {"--nonce\xEF\xBF\xBD", false}, {kNonce, true}};
  EXPECT_EQ(parse_launch_config(arguments).error(), "unknown argument --nonce\xEF\xBF\xBD");
}

}  // namespace
}  // namespace corvane::helper
