#pragma once
// Test helper: top-level windows owned by a second process (window_stub.exe), with chosen titles.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace corvane::testing {

// Windows of another process; they exist from construction (check ready()) until destruction.
class TestWindows {
 public:
  // One window per title (UTF-8); a title starting with "hidden:" is never shown.
  explicit TestWindows(const std::vector<std::string>& titles);
  TestWindows(const TestWindows&) = delete;
  TestWindows& operator=(const TestWindows&) = delete;
  ~TestWindows();

  // True once every window exists; false when the stub failed (see failure()).
  bool ready() const { return ready_; }
  const std::string& failure() const { return failure_; }
  // The capture source ID of the window made for titles[index].
  std::string id(std::size_t index) const { return "window:" + std::to_string(handles_.at(index)); }
  const std::vector<std::uint64_t>& handles() const { return handles_; }
  DWORD pid() const { return stub_ ? stub_->pid() : 0; }

 private:
  std::wstring directory_;
  HANDLE ready_event_ = nullptr;
  HANDLE quit_event_ = nullptr;
  std::unique_ptr<ChildProcess> stub_;
  std::vector<std::uint64_t> handles_;
  bool ready_ = false;
  std::string failure_;
};

// A short random tag that makes this test's titles its own.
std::string random_tag();

}  // namespace corvane::testing
