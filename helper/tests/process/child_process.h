#pragma once
// Test helper: runs a program beside the test executable and collects its exit code and output.

#include <windows.h>

#include <memory>
#include <string>
#include <thread>
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

// A running child whose standard output and error are collected while it runs.
class ChildProcess {
 public:
  // Starts `program` (a file beside the test, or an absolute path) with `arguments`; check started().
  ChildProcess(const std::wstring& program, const std::vector<std::wstring>& arguments);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Ends a child that is still running (a test that failed early) and releases everything.
  ~ChildProcess();

  bool started() const { return process_ != nullptr; }
  const std::string& start_error() const { return start_error_; }
  DWORD pid() const { return pid_; }
  HANDLE handle() const { return process_; }
  // True when the child has ended (without waiting).
  bool exited() const;
  // Waits for the end (ending the child after `time_limit_ms`, a guard against a hung child, never
  // a pass condition) and returns what it left.
  ChildOutcome wait(DWORD time_limit_ms = 60000);

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  std::string start_error_;
  std::shared_ptr<std::string> output_ = std::make_shared<std::string>();
  std::shared_ptr<std::string> error_ = std::make_shared<std::string>();
  std::thread output_reader_;
  std::thread error_reader_;
};

// Starts a child, waits for it and returns what it left.
ChildOutcome run_child(const std::wstring& program, const std::vector<std::wstring>& arguments,
                       DWORD time_limit_ms = 60000);

}  // namespace corvane::testing
