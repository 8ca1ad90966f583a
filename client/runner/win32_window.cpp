#include "runner/win32_window.h"

#include <flutter_windows.h>

#include "base/handles.h"
#include "runner/resource.h"
#include "runner/theme.h"
#include "runner/window_layout.h"

namespace {

constexpr const wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// Window objects alive in this process; the class is unregistered when it drops to 0.
int g_active_window_count = 0;

using EnableNonClientDpiScaling = BOOL(__stdcall*)(HWND window);

// Scales the non-client area (title bar, frame) with the monitor's DPI where the system offers it.
void EnableFullDpiSupportIfAvailable(HWND window) {
  const corvane::client::UniqueModule user32(LoadLibraryA("User32.dll"));
  if (!user32) {
    return;
  }
  const auto enable = reinterpret_cast<EnableNonClientDpiScaling>(
      reinterpret_cast<void*>(GetProcAddress(user32.Get(), "EnableNonClientDpiScaling")));
  if (enable != nullptr) {
    enable(window);
  }
}

}  // namespace

// Registers the one window class on first use and unregisters it on request.
class WindowClassRegistrar {
 public:
  static WindowClassRegistrar& Instance() {
    static WindowClassRegistrar registrar;
    return registrar;
  }

  // The class name, registering the class first if needed.
  const wchar_t* GetWindowClass() {
    if (!class_registered_) {
      WNDCLASSW window_class{};
      window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      window_class.lpszClassName = kWindowClassName;
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.cbClsExtra = 0;
      window_class.cbWndExtra = 0;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.hIcon = LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(IDI_APP_ICON));
      window_class.hbrBackground = nullptr;
      window_class.lpszMenuName = nullptr;
      window_class.lpfnWndProc = Win32Window::WndProc;
      RegisterClassW(&window_class);
      class_registered_ = true;
    }
    return kWindowClassName;
  }

  // Unregisters the class (a later window registers it again).
  void UnregisterWindowClass() {
    UnregisterClassW(kWindowClassName, nullptr);
    class_registered_ = false;
  }

 private:
  WindowClassRegistrar() = default;
  bool class_registered_ = false;
};

Win32Window::Win32Window() { ++g_active_window_count; }

Win32Window::~Win32Window() {
  --g_active_window_count;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();
  const wchar_t* window_class = WindowClassRegistrar::Instance().GetWindowClass();

  const POINT target_point = {static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = MonitorFromPoint(target_point, MONITOR_DEFAULTTONEAREST);
  const UINT dpi = FlutterDesktopGetDpiForMonitor(monitor);
  const double scale_factor = dpi / 96.0;

  HWND window = CreateWindowExW(
      0, window_class, title.c_str(), WS_OVERLAPPEDWINDOW, corvane::client::ScaleToPhysical(origin.x, scale_factor),
      corvane::client::ScaleToPhysical(origin.y, scale_factor),
      corvane::client::ScaleToPhysical(size.width, scale_factor),
      corvane::client::ScaleToPhysical(size.height, scale_factor), nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window == nullptr) {
    return false;
  }
  UpdateTheme(window);
  return AfterCreate();
}

bool Win32Window::Show() { return ShowWindow(window_handle_, SW_SHOWNORMAL) != FALSE; }

LRESULT CALLBACK Win32Window::WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* create_struct = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create_struct->lpCreateParams));
    auto* that = static_cast<Win32Window*>(create_struct->lpCreateParams);
    EnableFullDpiSupportIfAvailable(window);
    that->window_handle_ = window;
  } else if (Win32Window* that = GetThisFromHandle(window)) {
    return that->HandleMessage(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      window_handle_ = nullptr;
      Destroy();
      if (quit_on_close_) {
        PostQuitMessage(0);
      }
      return 0;

    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_SIZE: {
      const RECT area = GetClientArea();
      if (child_content_ != nullptr) {
        MoveWindow(child_content_, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
      }
      return 0;
    }

    case WM_ACTIVATE:
      if (child_content_ != nullptr) {
        SetFocus(child_content_);
      }
      return 0;

    case WM_DWMCOLORIZATIONCOLORCHANGED:
      UpdateTheme(window);
      return 0;

    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void Win32Window::Destroy() {
  BeforeDestroy();
  if (window_handle_ != nullptr) {
    HWND window = window_handle_;
    window_handle_ = nullptr;
    DestroyWindow(window);
  }
  if (g_active_window_count == 0) {
    WindowClassRegistrar::Instance().UnregisterWindowClass();
  }
}

Win32Window* Win32Window::GetThisFromHandle(HWND window) noexcept {
  return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Win32Window::SetChildContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_);
  const RECT frame = GetClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top, true);
  SetFocus(child_content_);
}

RECT Win32Window::GetClientArea() const {
  RECT frame{};
  GetClientRect(window_handle_, &frame);
  return frame;
}

bool Win32Window::AfterCreate() { return true; }

void Win32Window::BeforeDestroy() {}
