// The real helper executable, started with bad and good command lines: one error line, exit code 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"

namespace corvane::testing {
namespace {

const std::wstring kUuid = L"0f8fad5b-d9cb-469f-a165-70867728950e";
const std::wstring kNonce = L"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

// Runs the helper and checks that it wrote exactly one diagnostic line and nothing else.
void expect_refused(const std::vector<std::wstring>& arguments, const std::string& message) {
  const ChildOutcome outcome = run_child(L"corvane_media_helper.exe", arguments);
  ASSERT_TRUE(outcome.finished) << "the helper did not end";
  EXPECT_EQ(outcome.exit_code, 1u);
  EXPECT_EQ(outcome.standard_error, "corvane-media-helper: " + message + "\n");
  EXPECT_EQ(outcome.standard_output, "");
}

TEST(HelperCommandLine, NoArgumentsAtAll) { expect_refused({}, "--pipe-id is required"); }

TEST(HelperCommandLine, MissingOptionsInTheirOrder) {
  expect_refused({L"--pipe-id", kUuid}, "--nonce is required");
  expect_refused({L"--pipe-id", kUuid, L"--nonce", kNonce}, "--parent-pid is required");
}

TEST(HelperCommandLine, OptionAtTheEndWithoutValue) {
  expect_refused({L"--pipe-id", kUuid, L"--nonce"}, "missing value for --nonce");
}

TEST(HelperCommandLine, AValueStartingWithDashesIsStillTheValue) {
  expect_refused({L"--pipe-id", L"--nonce", kNonce, L"--parent-pid", L"1"}, "invalid pipe UUID");
}

TEST(HelperCommandLine, ValueErrorsComeBeforeMissingOptions) {
  expect_refused({L"--nonce", L"xyz"}, "nonce must be exactly 32 bytes encoded as hexadecimal");
}

TEST(HelperCommandLine, NonceLengthsAndDigits) {
  expect_refused({L"--nonce", kNonce.substr(1)}, "nonce must be exactly 32 bytes encoded as hexadecimal");
  expect_refused({L"--nonce", kNonce + L"a"}, "nonce must be exactly 32 bytes encoded as hexadecimal");
  expect_refused({L"--nonce", L"z" + kNonce.substr(1)}, "nonce must be exactly 32 bytes encoded as hexadecimal");
  // Mixed case is a valid nonce: parsing goes on to the missing pipe ID.
  expect_refused({L"--nonce", L"AbCdEf" + kNonce.substr(6)}, "--pipe-id is required");
}

TEST(HelperCommandLine, UpperCaseUuidIsAccepted) {
  expect_refused({L"--pipe-id", L"0F8FAD5B-D9CB-469F-A165-70867728950E"}, "--nonce is required");
}

TEST(HelperCommandLine, ParentProcessIdRange) {
  for (const std::wstring bad : {L"0", L"-1", L"4294967296", L"+", L""}) {
    expect_refused({L"--pipe-id", kUuid, L"--nonce", kNonce, L"--parent-pid", bad}, "invalid parent process ID");
  }
}

TEST(HelperCommandLine, RepeatedOptionFailsAtItsEarlierBadValue) {
  expect_refused({L"--parent-pid", L"x", L"--parent-pid", L"42"}, "invalid parent process ID");
}

TEST(HelperCommandLine, StrayArgumentAfterValidOptions) {
  expect_refused({L"--pipe-id", kUuid, L"--nonce", kNonce, L"--parent-pid", L"+42", L"stray"},
                 "unknown argument stray");
  expect_refused({L"--pipe-id=" + kUuid}, "unknown argument --pipe-id=0f8fad5b-d9cb-469f-a165-70867728950e");
}

TEST(HelperCommandLine, NonAsciiArgumentsAreReportedAsUtf8) {
  expect_refused({L"--\u0645\u062A\u0646"}, "unknown argument --\xD9\x85\xD8\xAA\xD9\x86");
}

TEST(HelperCommandLine, ValuesThatAreNotUnicodeAreRefused) {
  std::wstring broken = kUuid;
  broken[35] = static_cast<wchar_t>(0xD800);  // an unpaired surrogate
  expect_refused({L"--pipe-id", broken}, "value for --pipe-id is not valid Unicode");
}

// A valid command line goes on to the parent check; 42 is not the test process that started it.
TEST(HelperCommandLine, AValidCommandLineGoesOnToTheParentCheck) {
  expect_refused({L"--pipe-id", L"0F8FAD5B-D9CB-469F-A165-70867728950E", L"--nonce", kNonce, L"--parent-pid", L"+42"},
                 "declared parent process does not own the helper");
}

}  // namespace
}  // namespace corvane::testing
