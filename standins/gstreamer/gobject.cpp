// The stand-in gobject-2.0-0.dll: signal connection, handed to the stand-in core (which owns the
// objects) through its private export, and recorded there (README.md).
#include <windows.h>

#include <type_traits>

#include "support.h"
#include "windows/media/runtime_symbols.h"

extern "C" {

__declspec(dllexport) unsigned long g_signal_connect_data(void* instance, const char* signal, void (*handler)(),
                                                          void* data, void (* /*destroy*/)(void*, void*),
                                                          int /*flags*/) {
  using Connect = unsigned long (*)(void*, const char*, void (*)(), void*);
  HMODULE core = GetModuleHandleW(L"gstreamer-1.0-0.dll");
  const auto connect =
      core != nullptr
          ? reinterpret_cast<Connect>(reinterpret_cast<void*>(GetProcAddress(core, "corvane_standin_gst_connect")))
          : nullptr;
  if (connect == nullptr) {
    corvane::fake_gst::record("g_signal_connect_data <no core> -> 0");
    return 0;
  }
  return connect(instance, signal, handler, data);
}

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    corvane::fake_gst::record("unload gobject-2.0-0.dll");
  }
  return TRUE;
}

}  // extern "C"

static_assert(
    std::is_same_v<decltype(&g_signal_connect_data), decltype(corvane::helper::RuntimeSymbols::g_signal_connect_data)>);
