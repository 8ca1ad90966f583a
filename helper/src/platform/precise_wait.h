#pragma once
// Short waits on a high-resolution waitable timer (Sleep would round 8 ms up to the 15.6 ms tick).

#include <chrono>

#include "platform/handles.h"

namespace corvane::helper {

// A waitable timer owned by one thread: high-resolution where the system offers it, an ordinary
// waitable timer otherwise, Sleep as the last resort.
class PreciseWait {
 public:
  PreciseWait();
  void wait(std::chrono::milliseconds duration);

 private:
  UniqueHandle timer_;
};

}  // namespace corvane::helper
