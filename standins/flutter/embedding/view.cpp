// The view window: a placeholder painting, and the frame message.
#include "engine.h"

namespace flutter_standin {
namespace {

// The placeholder: a solid colour with a line of text, so a screenshot shows where Flutter would draw.
constexpr COLORREF kBackground = RGB(0x1E, 0x3A, 0x5F);
constexpr COLORREF kText = RGB(0xFF, 0xFF, 0xFF);
constexpr wchar_t kPlaceholderText[] = L"Flutter stand-in";

void PaintPlaceholder(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (dc == nullptr) {
    // Nothing to draw on; validated anyway, or WM_PAINT would come back for ever.
    ValidateRect(window, nullptr);
    return;
  }
  RECT client;
  GetClientRect(window, &client);
  HBRUSH brush = CreateSolidBrush(kBackground);
  FillRect(dc, &client, brush);
  DeleteObject(brush);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kText);
  DrawTextW(dc, kPlaceholderText, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  EndPaint(window, &paint);
}

LRESULT CALLBACK ViewWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      break;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers the whole client area
    case WM_PAINT:
      PaintPlaceholder(window);
      return 0;
    case kFrameMessage: {
      auto* controller = reinterpret_cast<FlutterDesktopViewController*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (controller != nullptr && controller->engine != nullptr) {
        controller->engine->RenderFrame();
      }
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

bool RegisterViewClass() {
  static const bool registered = [] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = ViewWindowProc;
    window_class.hInstance = ThisModule();
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.lpszClassName = kViewClassName;
    return RegisterClassExW(&window_class) != 0;
  }();
  return registered;
}

}  // namespace flutter_standin
