#pragma once
// The system's GStreamer 1.22 loaded the way the helper loads its runtime: dlopen, entry points
// resolved by name into the table, gst_init_check. Shared by the real-GStreamer tests and the probe
// benchmark.

#include <cstring>

#include "windows/media/runtime_symbols.h"

namespace corvane::helper::gst_test {

// Loads libgstreamer-1.0.so.0, libglib-2.0.so.0 and libgobject-2.0.so.0, resolves every entry
// point and initialises GStreamer. The returned object's libraries are closed on release in the
// order core, GLib, GObject, but once gst_init_check has run they are pinned (RTLD_NODELETE):
// GStreamer and GObject register types, threads and plug-ins that cannot be taken back, so an
// initialised runtime stays in the process until it exits.
MediaRuntime load_dl_runtime();

// Any other entry point of libraries loaded by load_dl_runtime; null when missing.
void* find_dl_symbol(const RuntimeLibraries& libraries, const char* name);

// A function pointer from a resolved address.
template <class Function>
Function function_at(void* address) {
  static_assert(sizeof(Function) == sizeof address, "function and data pointers match");
  Function function = nullptr;
  std::memcpy(&function, &address, sizeof address);
  return function;
}

}  // namespace corvane::helper::gst_test
