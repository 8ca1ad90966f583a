// The stand-in glib-2.0-0.dll: the GLib entry points the helper calls, releasing what the stand-in
// core allocated (on the process heap), and recording each call (README.md).
#include <windows.h>

#include <string>
#include <type_traits>

#include "support.h"
#include "windows/media/runtime_symbols.h"

using corvane::helper::GError;

extern "C" {

__declspec(dllexport) void g_free(void* memory) {
  corvane::fake_gst::record(memory == nullptr ? "g_free <null>" : "g_free");
  corvane::fake_gst::heap_free(memory);
}

__declspec(dllexport) void g_error_free(GError* error) {
  if (error == nullptr) {
    corvane::fake_gst::record("g_error_free <null>");
    return;
  }
  corvane::fake_gst::record(std::string("g_error_free ") + (error->message != nullptr ? error->message : "<no text>"));
  corvane::fake_gst::heap_free(error->message);
  corvane::fake_gst::heap_free(error);
}

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    corvane::fake_gst::record("unload glib-2.0-0.dll");
  }
  return TRUE;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&g_free), decltype(corvane::helper::RuntimeSymbols::g_free)>);
static_assert(std::is_same_v<decltype(&g_error_free), decltype(corvane::helper::RuntimeSymbols::g_error_free)>);
