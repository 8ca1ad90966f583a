// Ending a blocking call from outside: ConnectNamedPipe on a pipe nobody opens, under real Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/blocking_call_guard.h"
#include "test_windows.h"

namespace corvane::helper {
namespace {

// A pipe that nobody opens: waiting for its client blocks until something ends the wait.
struct Waiting {
  HANDLE trigger = nullptr;
  std::optional<std::chrono::milliseconds> limit;
  DWORD pause_ms = 0;  // between arming the guard and entering the wait
  DWORD error = 0;

  static DWORD WINAPI run(void* self) {
    auto& waiting = *static_cast<Waiting*>(self);
    const std::string tag = corvane::testing::random_tag();
    const std::wstring name = L"\\\\.\\pipe\\corvane-guard-" + std::wstring(tag.begin(), tag.end());
    HANDLE pipe = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64, 64, 0, nullptr);
    {
      const BlockingCallGuard guard(waiting.trigger, waiting.limit);
      Sleep(waiting.pause_ms);
      waiting.error = ConnectNamedPipe(pipe, nullptr) ? ERROR_SUCCESS : GetLastError();
    }
    CloseHandle(pipe);
    return 0;
  }
};

// Runs the wait on a thread of its own; a wait that is never ended fails the test (and is then cancelled).
DWORD error_of(Waiting& waiting) {
  HANDLE thread = CreateThread(nullptr, 0, &Waiting::run, &waiting, 0, nullptr);
  const bool ended = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
  EXPECT_TRUE(ended) << "the wait was not ended";
  while (!ended && WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {
    CancelSynchronousIo(thread);
  }
  CloseHandle(thread);
  return waiting.error;
}

TEST(BlockingCallGuard, AWaitEnteredAfterItsTriggerFiredIsStillEnded) {
  Waiting waiting;
  waiting.trigger = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // already signalled
  waiting.pause_ms = 100;  // the first cancellation finds nothing to cancel; not a pass condition
  EXPECT_EQ(error_of(waiting), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  CloseHandle(waiting.trigger);
}

TEST(BlockingCallGuard, AWaitIsEndedAtItsLimit) {
  Waiting waiting;
  waiting.limit = std::chrono::milliseconds(50);
  EXPECT_EQ(error_of(waiting), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
}

}  // namespace
}  // namespace corvane::helper
