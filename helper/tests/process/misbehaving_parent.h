#pragma once
// Test helper: the helper started by a parent of ours that misbehaves (parent_stub.exe) instead of by
// the test, so that the parent can end, or cut a frame short, while the test watches the helper.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "child_process.h"

namespace corvane::testing {

class MisbehavingParent {
 public:
  // Starts parent_stub.exe, which starts `helper` (an absolute path) and sets the scene of `scenario`.
  MisbehavingParent(const std::wstring& helper, const std::wstring& scenario);
  MisbehavingParent(const MisbehavingParent&) = delete;
  MisbehavingParent& operator=(const MisbehavingParent&) = delete;
  ~MisbehavingParent();

  // Waits (bounded) until the scene is set, then takes a handle to the helper the stub started.
  bool ready();
  // Lets the stub misbehave.
  void go();
  // Waits for the helper to end and returns its exit code; nothing when it had to be ended after
  // `limit_ms` (a guard against a helper that stays behind, not a pass condition).
  std::optional<DWORD> helper_exit_code(DWORD limit_ms = 30000);
  // The stub's outcome; its standard error carries the helper's, which inherited it.
  ChildOutcome finish();

 private:
  HANDLE ready_ = nullptr;
  HANDLE go_ = nullptr;
  std::unique_ptr<ChildProcess> stub_;
  HANDLE helper_ = nullptr;
};

}  // namespace corvane::testing
