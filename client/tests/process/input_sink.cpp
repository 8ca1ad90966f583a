// Test program: a window that takes the foreground and the whole virtual screen, topmost, and swallows
// every key, character and mouse message it receives (so that Alt, F4, F10 or Space cannot close it or
// open a menu), keeping a log of them (keys with their scan code and extended bit) and showing the text
// typed into it.
// Usage: input_sink <ready-event> <changed-event>: signals the ready event once it is the foreground
// window, and the changed event after each logged message.
// Other processes ask it through SendMessage (see input_sink.h): the log, and which keys and mouse
// buttons GetAsyncKeyState sees down in this process.
#include <windows.h>
#include <windowsx.h>

#include <cstdint>
#include <string>
#include <vector>

#include "input_sink.h"

namespace {

using corvane::testing::SinkEvent;

std::vector<std::int64_t> g_log;
std::wstring g_typed;
HANDLE g_changed = nullptr;

void record(SinkEvent kind, std::int64_t value) {
  g_log.push_back(corvane::testing::EncodeSinkEvent(kind, value));
  SetEvent(g_changed);
}

std::int64_t screen_point(HWND window, LPARAM lparam) {
  POINT point{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  ClientToScreen(window, &point);
  return corvane::testing::PackPoint(point.x, point.y);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      record(SinkEvent::kKeyDown, corvane::testing::PackKey(wparam, static_cast<std::uint64_t>(lparam)));
      return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      record(SinkEvent::kKeyUp, corvane::testing::PackKey(wparam, static_cast<std::uint64_t>(lparam)));
      return 0;
    case WM_CHAR:
    case WM_SYSCHAR:
      record(SinkEvent::kCharacter, static_cast<std::int64_t>(wparam));
      if (wparam >= 0x20) {
        g_typed.push_back(static_cast<wchar_t>(wparam));
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_DEADCHAR:
    case WM_SYSDEADCHAR:
      return 0;
    case WM_MOUSEMOVE:
      record(SinkEvent::kMove, screen_point(window, lparam));
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
      record(SinkEvent::kButton, message);
      return 0;  // no WM_CONTEXTMENU
    case WM_MOUSEWHEEL:
      record(SinkEvent::kWheel, GET_WHEEL_DELTA_WPARAM(wparam));
      return 0;
    case WM_SYSCOMMAND:
    case WM_CLOSE:
    case WM_CONTEXTMENU:
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC context = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      area.left += 40;
      area.top += 40;
      const std::wstring shown = L"Typed into this window: " + g_typed;
      DrawTextW(context, shown.c_str(), static_cast<int>(shown.size()), &area, DT_LEFT | DT_TOP | DT_WORDBREAK);
      EndPaint(window, &paint);
      return 0;
    }
    case corvane::testing::kSinkCount:
      return static_cast<LRESULT>(g_log.size());
    case corvane::testing::kSinkEvent:
      return wparam < g_log.size() ? static_cast<LRESULT>(g_log[wparam]) : -1;
    case corvane::testing::kSinkKeysDown: {
      if (wparam == 0) {
        Sleep(60);
      }
      std::uint64_t down = 0;
      for (int bit = 0; bit < 64; ++bit) {
        const int key = static_cast<int>(wparam) * 64 + bit;
        if (key > 0 && key < 255 && (GetAsyncKeyState(key) & 0x8000) != 0) {
          down |= std::uint64_t{1} << bit;
        }
      }
      return static_cast<LRESULT>(down);
    }
    case corvane::testing::kSinkQuit:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    return 2;
  }
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
  g_changed = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
  if (ready == nullptr || g_changed == nullptr) {
    return 3;
  }
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  window_class.lpszClassName = corvane::testing::kSinkClass;
  RegisterClassExW(&window_class);
  HWND window = CreateWindowExW(
      WS_EX_TOPMOST, corvane::testing::kSinkClass, L"Corvane input sink", WS_POPUP | WS_VISIBLE,
      GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN),
      GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) {
    return 4;
  }
  SetForegroundWindow(window);
  SetFocus(window);
  UpdateWindow(window);
  SetEvent(ready);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
