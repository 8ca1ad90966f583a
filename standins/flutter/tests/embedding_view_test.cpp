// The view of the stand-in engine: a child window of the requested size, on the platform thread,
// that paints its placeholder once a host window adopts it; top-level messages are left to the host;
// the DPI helpers. These tests create top-level windows, so they hold the x_windows lock.
#include <windows.h>

#include <flutter/flutter_view_controller.h>
#include <flutter_windows.h>

#include <initializer_list>

#include "embedding_test_support.h"

namespace {

using embedding_test::BridgedTest;
using embedding_test::FlushPostedMessages;
using embedding_test::TestProject;

// A visible top-level window with a white background, standing in for the host's window.
class HostWindow {
 public:
  HostWindow() {
    static const bool registered = [] {
      WNDCLASSEXW window_class = {};
      window_class.cbSize = sizeof window_class;
      window_class.lpfnWndProc = DefWindowProcW;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
      window_class.lpszClassName = L"EmbeddingTestHost";
      return RegisterClassExW(&window_class) != 0;
    }();
    if (registered) {
      window_ = CreateWindowExW(0, L"EmbeddingTestHost", L"embedding test host", WS_OVERLAPPEDWINDOW, 40, 40, 500, 400,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
  }
  ~HostWindow() {
    if (window_ != nullptr) {
      DestroyWindow(window_);
    }
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

using ViewTest = BridgedTest;

TEST_F(ViewTest, TheViewIsAChildWindowOfTheRequestedSize) {
  flutter::FlutterViewController controller(321, 123, TestProject());
  ASSERT_NE(controller.view(), nullptr);
  const HWND view = controller.view()->GetNativeWindow();
  ASSERT_TRUE(IsWindow(view));
  EXPECT_NE(GetWindowLongPtrW(view, GWL_STYLE) & WS_CHILD, 0);
  RECT client = {};
  ASSERT_TRUE(GetClientRect(view, &client));
  EXPECT_EQ(client.right - client.left, 321);
  EXPECT_EQ(client.bottom - client.top, 123);
  EXPECT_EQ(GetWindowThreadProcessId(view, nullptr), GetCurrentThreadId());
}

TEST_F(ViewTest, AnAdoptedViewPaintsASolidPlaceholderWithText) {
  HostWindow host;
  ASSERT_NE(host.get(), nullptr);
  flutter::FlutterViewController controller(400, 300, TestProject());
  ASSERT_NE(controller.view(), nullptr);
  const HWND view = controller.view()->GetNativeWindow();
  // What the host does: adopt the view as its content, then show itself.
  SetParent(view, host.get());
  MoveWindow(view, 0, 0, 400, 300, TRUE);
  ShowWindow(host.get(), SW_SHOWNORMAL);
  UpdateWindow(host.get());
  UpdateWindow(view);
  ASSERT_TRUE(FlushPostedMessages());

  HDC dc = GetDC(view);
  ASSERT_NE(dc, nullptr);
  const COLORREF top_left = GetPixel(dc, 2, 2);
  const COLORREF bottom_right = GetPixel(dc, 397, 297);
  // Some pixel of the middle row differs from the background: the text.
  bool text = false;
  for (int x = 0; x < 400 && !text; ++x) {
    text = GetPixel(dc, x, 150) != top_left;
  }
  ReleaseDC(view, dc);

  EXPECT_NE(top_left, CLR_INVALID);
  EXPECT_EQ(top_left, bottom_right);
  EXPECT_NE(top_left, RGB(255, 255, 255));  // not the host's background: the view painted
  EXPECT_TRUE(text);
}

TEST_F(ViewTest, TopLevelWindowMessagesAreLeftToTheHost) {
  HostWindow host;
  flutter::FlutterViewController controller(320, 200, TestProject());
  for (const UINT message :
       {UINT{WM_SIZE}, UINT{WM_FONTCHANGE}, UINT{WM_ACTIVATE}, UINT{WM_DPICHANGED}, UINT{WM_TIMER}}) {
    EXPECT_FALSE(controller.HandleTopLevelWindowProc(host.get(), message, 0, 0).has_value()) << message;
  }
}

TEST(DpiTest, MonitorAndWindowDpiMatchTheScreen) {
  HDC screen = GetDC(nullptr);
  const int screen_dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  const POINT origin = {10, 10};
  EXPECT_EQ(static_cast<int>(FlutterDesktopGetDpiForMonitor(MonitorFromPoint(origin, MONITOR_DEFAULTTONEAREST))),
            screen_dpi);
  HostWindow host;
  ASSERT_NE(host.get(), nullptr);
  EXPECT_EQ(static_cast<int>(FlutterDesktopGetDpiForHWND(host.get())), screen_dpi);
}

}  // namespace
