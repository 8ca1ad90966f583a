#pragma once
// FlutterView: the window showing a Flutter application's content. Stand-in for Flutter's header of
// the same name (never shipped).

#include <flutter_windows.h>

namespace flutter {

// A view of a view controller; does not own the view.
class FlutterView {
 public:
  // Wraps the C view.
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}

  virtual ~FlutterView() = default;

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  // The view's (child) window.
  HWND GetNativeWindow() { return FlutterDesktopViewGetHWND(view_); }

 private:
  FlutterDesktopViewRef view_;
};

}  // namespace flutter
