#include "gst/dl_runtime.h"

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

// Indexed by RuntimeLibrary: core, GLib, GObject.
constexpr std::array<const char*, 3> kLibraryNames = {"libgstreamer-1.0.so.0", "libglib-2.0.so.0",
                                                      "libgobject-2.0.so.0"};

class DlLibraries final : public RuntimeLibraries {
 public:
  ~DlLibraries() override {
    for (void* handle : handles) {  // core, GLib, GObject
      if (handle != nullptr) {
        dlclose(handle);
      }
    }
  }

  // Keeps the libraries loaded for the rest of the process, whatever happens to the handles.
  void pin() const {
    for (const char* name : kLibraryNames) {
      if (void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE); handle != nullptr) {
        dlclose(handle);
      }
    }
  }

  void* find(const char* name) const {
    for (void* handle : handles) {
      if (void* address = handle != nullptr ? dlsym(handle, name) : nullptr; address != nullptr) {
        return address;
      }
    }
    return nullptr;
  }

  std::array<void*, 3> handles{};
};

template <class Function>
Function function_at(void* address) {
  static_assert(sizeof(Function) == sizeof address, "function and data pointers match");
  Function function = nullptr;
  std::memcpy(&function, &address, sizeof address);
  return function;
}

MediaRuntime failed(std::string reason, std::unique_ptr<RuntimeLibraries> libraries) {
  MediaRuntime runtime;
  runtime.runtime_error = std::move(reason);
  runtime.libraries = std::move(libraries);
  return runtime;
}

// The process's runtime, and the libraries it came from.
struct Shared {
  MediaRuntime runtime = load_dl_runtime();
  const DlLibraries* libraries = static_cast<const DlLibraries*>(runtime.libraries.get());
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

MediaRuntime load_dl_runtime() {
  // GLib's slice allocator would hide GErrors and GObjects from LeakSanitizer; with plain malloc a
  // GError the helper forgets to free is reported. Read once, when GLib is first loaded.
  setenv("G_SLICE", "always-malloc", 1);
  auto libraries = std::make_unique<DlLibraries>();
  for (std::size_t i = 0; i < kLibraryNames.size(); ++i) {
    libraries->handles[i] = dlopen(kLibraryNames[i], RTLD_NOW | RTLD_LOCAL);
    if (libraries->handles[i] == nullptr) {
      const char* reason = dlerror();
      return failed(std::string("cannot load ") + kLibraryNames[i] + ": " + (reason != nullptr ? reason : "?"),
                    std::move(libraries));
    }
  }
  auto library_of = [&](RuntimeLibrary library) { return libraries->handles[static_cast<std::size_t>(library)]; };

  void* init_address = dlsym(library_of(RuntimeLibrary::core), "gst_init_check");
  if (init_address == nullptr) {
    return failed("missing entry point gst_init_check", std::move(libraries));
  }
  RuntimeSymbols symbols{};
  for (const RuntimeSymbolEntry& entry : runtime_symbol_entries()) {
    void* address = dlsym(library_of(entry.library), entry.name);
    if (address == nullptr) {
      return failed(std::string("missing entry point ") + entry.name, std::move(libraries));
    }
    store_runtime_symbol(symbols, entry, address);
  }

  GError* error = nullptr;
  const int initialised = function_at<GstInitCheck>(init_address)(nullptr, nullptr, &error);
  libraries->pin();  // gst_init_check has run, whatever it returned
  if (initialised == 0) {
    std::string reason = error != nullptr && error->message != nullptr ? error->message : "gst_init_check failed";
    if (error != nullptr) {
      symbols.g_error_free(error);
    }
    return failed(std::move(reason), std::move(libraries));
  }
  MediaRuntime runtime;
  runtime.symbols = symbols;
  runtime.libraries = std::move(libraries);
  return runtime;
}

const RuntimeSymbols* shared_runtime() {
  const Shared& state = shared();
  if (!state.runtime.available()) {
    ADD_FAILURE() << "GStreamer could not be loaded: " << state.runtime.runtime_error;
    return nullptr;
  }
  return &*state.runtime.symbols;
}

void* extra_symbol(const char* name) { return shared().libraries->find(name); }

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
