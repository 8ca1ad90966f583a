#pragma once
// Test helper: runs a program beside the test executable and collects its exit code and output.

#include <windows.h>

#include <string>
#include <vector>

namespace corvane::testing {

// What a finished child process left behind.
struct ChildOutcome {
  DWORD exit_code = 0;
  std::string standard_output;
  std::string standard_error;
  bool finished = false;  // false when it had to be ended after the time limit
};

// Directory of the running test executable, with a trailing backslash.
std::wstring executable_directory();

// Quotes one argument so that the child's argument parser yields it unchanged.
std::wstring quote_argument(const std::wstring& argument);

// Starts `program` (a file beside the test) with `arguments`, waits for it (ending it after
// `time_limit_ms`, a guard against a hung child, never a pass condition) and reads both streams.
ChildOutcome run_child(const std::wstring& program, const std::vector<std::wstring>& arguments,
                       DWORD time_limit_ms = 60000);

}  // namespace corvane::testing
