#pragma once
// The system's GStreamer 1.22 loaded the way the helper loads its runtime: dlopen, entry points
// resolved by name into the table, gst_init_check. For the native tests of the media primitives.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "gst/dl_loader.h"
#include "windows/media/runtime_primitives.h"
#include "windows/media/runtime_symbols.h"

namespace corvane::helper::gst_test {

// The one runtime of this test process, loaded on first use (GStreamer initialises once per
// process). Fails the calling test (and returns nothing) when it could not be loaded.
const RuntimeSymbols* shared_runtime();

// Any other entry point of the loaded libraries, for checks the table has no function for
// (g_object_get, g_object_weak_ref); null when missing. Valid after shared_runtime().
void* extra_symbol(const char* name);

// The longest a test waits for GStreamer: only a hung pipeline reaches it.
inline constexpr std::uint64_t kGstTestWaitNs = 60 * kGstSecond;

// poll_bus that blocks until an end-of-stream or error message arrives (at most kGstTestWaitNs):
// the table's bus call is swapped for one that waits instead of returning at once.
BusPoll wait_for_bus_event(const RuntimeSymbols& gst, GstBus* bus);

// Notes when a GObject is finalised (a weak reference), to show that every reference taken on it
// was released.
class FinalizeWatch {
 public:
  explicit FinalizeWatch(void* object);
  FinalizeWatch(const FinalizeWatch&) = delete;
  FinalizeWatch& operator=(const FinalizeWatch&) = delete;
  ~FinalizeWatch();

  bool finalized() const { return finalized_.load(); }

 private:
  static void notify(void* data, void* object);

  void* object_;
  std::atomic<bool> finalized_{false};
};

// A test against the process's real runtime; skipped (failed) when it cannot be loaded.
class GstTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_ = shared_runtime();
    ASSERT_NE(runtime_, nullptr);
  }

  const RuntimeSymbols& gst() const { return *runtime_; }

  // A pipeline from a description that must parse completely (null, and a test failure, if not).
  GstElement* launch(std::string_view description) const {
    auto pipeline = launch_description(*runtime_, description);
    if (!pipeline.ok()) {
      ADD_FAILURE() << description << ": " << pipeline.error();
      return nullptr;
    }
    return *pipeline;
  }

 private:
  const RuntimeSymbols* runtime_ = nullptr;
};

}  // namespace corvane::helper::gst_test
