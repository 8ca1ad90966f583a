#include "gst/dl_runtime.h"

#include "gst/dl_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

// Sanitizer settings of this test program, built in so that they hold however it is started.
// GLib leaks on purpose: when its quark table outgrows a block (2048 names, passed once GStreamer's
// plug-ins are loaded), the old block, allocated by GLib's library initialiser, is dropped so that
// lookups can stay lock-free. That is the one leak LeakSanitizer finds in these tests; it is
// suppressed by its allocation stack (a library initialiser run by dlopen), which none of the
// helper's own allocations has. GLib and GStreamer carry no frame pointers, so that stack needs the
// slower unwinder on every allocation.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

namespace corvane::helper::gst_test {

namespace {

// GLib's slice allocator would hide GErrors and GObjects from LeakSanitizer; with plain malloc a
// GError the helper forgets to free is reported. Read once, when GLib is first loaded.
MediaRuntime load_for_tests() {
  setenv("G_SLICE", "always-malloc", 1);
  return load_dl_runtime();
}

// The process's runtime, and the libraries it came from.
struct Shared {
  MediaRuntime runtime = load_for_tests();
};

const Shared& shared() {
  static const Shared instance;
  return instance;
}

GstMessage* (*real_timed_pop_filtered)(GstBus*, std::uint64_t, unsigned) = nullptr;

GstMessage* waiting_timed_pop_filtered(GstBus* bus, std::uint64_t /*timeout*/, unsigned types) {
  return real_timed_pop_filtered(bus, kGstTestWaitNs, types);
}

}  // namespace

const RuntimeSymbols* shared_runtime() {
  const Shared& state = shared();
  if (!state.runtime.available()) {
    ADD_FAILURE() << "GStreamer could not be loaded: " << state.runtime.runtime_error;
    return nullptr;
  }
  return &*state.runtime.symbols;
}

void* extra_symbol(const char* name) { return find_dl_symbol(*shared().runtime.libraries, name); }

BusPoll wait_for_bus_event(const RuntimeSymbols& gst, GstBus* bus) {
  real_timed_pop_filtered = gst.gst_bus_timed_pop_filtered;
  RuntimeSymbols waiting = gst;
  waiting.gst_bus_timed_pop_filtered = waiting_timed_pop_filtered;
  return poll_bus(waiting, bus);
}

FinalizeWatch::FinalizeWatch(void* object) : object_(object) {
  using WeakRef = void (*)(void*, void (*)(void*, void*), void*);
  function_at<WeakRef>(extra_symbol("g_object_weak_ref"))(object_, &FinalizeWatch::notify, this);
}

FinalizeWatch::~FinalizeWatch() {
  if (!finalized()) {
    using WeakUnref = void (*)(void*, void (*)(void*, void*), void*);
    function_at<WeakUnref>(extra_symbol("g_object_weak_unref"))(object_, &FinalizeWatch::notify, this);
  }
}

void FinalizeWatch::notify(void* data, void* /*object*/) { static_cast<FinalizeWatch*>(data)->finalized_ = true; }

}  // namespace corvane::helper::gst_test
