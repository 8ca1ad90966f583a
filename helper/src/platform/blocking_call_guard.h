#pragma once
// Ends one blocking Win32 call of the calling thread from outside: a synchronous ConnectNamedPipe or
// FlushFileBuffers has no time limit and no event to wait on, so a helper thread cancels it
// (CancelSynchronousIo) when a handle is signalled (a process ended) or a time limit has passed.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <optional>

#include "platform/handles.h"

namespace corvane::helper {

// Watches for the moment the calling thread's blocking call must give up, for as long as it lives.
// Scope it around that one call only: from the moment it fires until it is destroyed, it keeps
// cancelling whatever synchronous I/O the thread is in (a call it cancels before the thread has
// entered it would otherwise never be cancelled). The cancelled call fails with
// ERROR_OPERATION_ABORTED (995).
class BlockingCallGuard {
 public:
  // Fires when `trigger` (may be null) is signalled, or after `limit` when one is given.
  BlockingCallGuard(HANDLE trigger, std::optional<std::chrono::milliseconds> limit);
  BlockingCallGuard(const BlockingCallGuard&) = delete;
  BlockingCallGuard& operator=(const BlockingCallGuard&) = delete;
  ~BlockingCallGuard();

  // True once the guard has started cancelling.
  bool fired() const noexcept { return fired_.load(); }

 private:
  static DWORD WINAPI watch(void* self);

  HANDLE trigger_;
  DWORD timeout_ms_;
  UniqueHandle guarded_;  // the guarded thread, with the access CancelSynchronousIo needs
  UniqueHandle stop_;
  std::atomic<bool> fired_{false};
  UniqueHandle watcher_;
};

}  // namespace corvane::helper
