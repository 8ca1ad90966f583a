#include "platform/blocking_call_guard.h"

namespace corvane::helper {

namespace {

// How often a cancellation is tried again while the guarded call has not been reached yet.
constexpr DWORD kRetryMs = 10;

}  // namespace

BlockingCallGuard::BlockingCallGuard(HANDLE trigger, std::optional<std::chrono::milliseconds> limit)
    : trigger_(trigger),
      timeout_ms_(limit ? static_cast<DWORD>(limit->count()) : INFINITE),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  // GetCurrentThread() is a pseudo-handle that names whichever thread uses it: the watcher needs a real one.
  if (!stop_ || !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), guarded_.put(), 0, FALSE,
                                 DUPLICATE_SAME_ACCESS)) {
    return;  // nothing can watch: the call runs unguarded, as it would without this guard
  }
  watcher_.reset(CreateThread(nullptr, 0, &BlockingCallGuard::watch, this, 0, nullptr));
}

BlockingCallGuard::~BlockingCallGuard() {
  if (watcher_) {
    SetEvent(stop_.get());
    WaitForSingleObject(watcher_.get(), INFINITE);
  }
}

DWORD WINAPI BlockingCallGuard::watch(void* self) {
  auto& guard = *static_cast<BlockingCallGuard*>(self);
  const HANDLE waits[] = {guard.stop_.get(), guard.trigger_};
  const DWORD count = guard.trigger_ != nullptr ? 2 : 1;
  const DWORD woken = WaitForMultipleObjects(count, waits, FALSE, guard.timeout_ms_);
  if (woken == WAIT_OBJECT_0 + 1 || woken == WAIT_TIMEOUT) {
    // Until the guarded call has been entered there is nothing to cancel: try again until it has.
    while (!CancelSynchronousIo(guard.guarded_.get()) &&
           WaitForSingleObject(guard.stop_.get(), kRetryMs) == WAIT_TIMEOUT) {
    }
  }
  return 0;
}

}  // namespace corvane::helper
