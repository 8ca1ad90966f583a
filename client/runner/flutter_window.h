#pragma once
// The host window that runs the Flutter view and the native services.

#include <flutter/dart_project.h>
#include <flutter/flutter_view_controller.h>

#include <memory>

#include "runner/win32_window.h"
#include "services/desktop_services.h"

// A Win32Window whose content is the Flutter view; shown after Flutter's first frame.
class FlutterWindow : public Win32Window {
 public:
  // A window that will run `project`.
  explicit FlutterWindow(const flutter::DartProject& project);
  ~FlutterWindow() override;

 protected:
  bool AfterCreate() override;
  void BeforeDestroy() override;
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept override;

 private:
  flutter::DartProject project_;
  std::unique_ptr<flutter::FlutterViewController> flutter_controller_;
  std::unique_ptr<corvane::client::DesktopServices> services_;
};
