#pragma once
// Ends one blocking Win32 call of the calling thread from outside: a synchronous ConnectNamedPipe or
// FlushFileBuffers has no time limit and no event to wait on, so a helper thread cancels it
// (CancelSynchronousIo) when a handle is signalled (a process ended) or a time limit has passed.

#include <windows.h>

#include <chrono>
#include <optional>

#include "platform/handles.h"

namespace corvane::helper {

// Watches for the moment the calling thread's blocking call must give up, for as long as it lives.
// Once it fires it cancels the thread's synchronous I/O, trying again every 10 ms until a cancellation
// takes (the thread may not have entered the call yet), so scope it around that one call only. The
// cancelled call fails with ERROR_OPERATION_ABORTED (995).
class BlockingCallGuard {
 public:
  // Fires when `trigger` (may be null) is signalled, or after `limit` when one is given.
  BlockingCallGuard(HANDLE trigger, std::optional<std::chrono::milliseconds> limit);
  BlockingCallGuard(const BlockingCallGuard&) = delete;
  BlockingCallGuard& operator=(const BlockingCallGuard&) = delete;
  ~BlockingCallGuard();

 private:
  static DWORD WINAPI watch(void* self);

  HANDLE trigger_;
  DWORD timeout_ms_;
  UniqueHandle guarded_;  // the guarded thread, with the access CancelSynchronousIo needs
  UniqueHandle stop_;
  UniqueHandle watcher_;
};

}  // namespace corvane::helper
