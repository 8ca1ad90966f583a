// Test program: creates top-level windows with the titles listed (UTF-8, one per line) in the file
// named on its command line, writes their handles (decimal, one per line, same order) to the handles
// file, signals the named "ready" event, and keeps them until the named "quit" event is signalled.
// A line "hidden:<title>" makes a window that is never shown.
// Usage: window_stub <titles-file> <handles-file> <ready-event> <quit-event>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/unicode.h"

namespace {

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    return 2;
  }
  std::ifstream file(std::filesystem::path(argv[1]), std::ios::binary);
  if (!file) {
    return 3;
  }
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"CorvaneTestWindow";
  RegisterClassW(&window_class);

  std::vector<HWND> windows;
  std::string line;
  while (std::getline(file, line)) {
    bool hidden = false;
    if (line.rfind("hidden:", 0) == 0) {
      hidden = true;
      line.erase(0, 7);
    }
    const std::wstring title = corvane::utf8_to_utf16<wchar_t>(line);
    HWND window = CreateWindowExW(0, window_class.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                  nullptr, nullptr, window_class.hInstance, nullptr);
    if (window == nullptr) {
      return 4;
    }
    if (!hidden) {
      ShowWindow(window, SW_SHOWNOACTIVATE);
    }
    windows.push_back(window);
  }
  {
    std::ofstream handles(std::filesystem::path(argv[2]), std::ios::binary | std::ios::trunc);
    for (HWND window : windows) {
      handles << reinterpret_cast<std::uintptr_t>(window) << "\n";
    }
    if (!handles) {
      return 6;
    }
  }
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
  HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
  if (ready == nullptr || quit == nullptr) {
    return 5;
  }
  SetEvent(ready);
  // Serve the windows' messages until told to quit.
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) {
      break;
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
  }
  // The windows go with the process: under Wine without a window manager each DestroyWindow waits
  // about 2 s for the X server.
  return 0;
}
