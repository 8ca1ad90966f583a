#include "platform/precise_wait.h"

#include <windows.h>

namespace corvane::helper {

namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803), missing from older SDK headers.
constexpr DWORD kHighResolutionTimer = 0x00000002;

}  // namespace

PreciseWait::PreciseWait() : timer_(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS)) {
  if (!timer_) {
    timer_.reset(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
  }
}

void PreciseWait::wait(std::chrono::milliseconds duration) {
  if (timer_) {
    LARGE_INTEGER due{};
    due.QuadPart = -static_cast<LONGLONG>(duration.count()) * 10000;  // 100 ns units, relative
    if (SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(timer_.get(), INFINITE) == WAIT_OBJECT_0) {
      return;
    }
  }
  Sleep(static_cast<DWORD>(duration.count()));
}

}  // namespace corvane::helper
