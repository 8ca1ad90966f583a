#include "runner/flutter_window.h"

#include <optional>

#include "runner/plugin_registration.h"

FlutterWindow::FlutterWindow(const flutter::DartProject& project) : project_(project) {}

FlutterWindow::~FlutterWindow() = default;

bool FlutterWindow::AfterCreate() {
  if (!Win32Window::AfterCreate()) {
    return false;
  }
  const RECT frame = GetClientArea();
  flutter_controller_ =
      std::make_unique<flutter::FlutterViewController>(frame.right - frame.left, frame.bottom - frame.top, project_);
  if (!flutter_controller_->engine() || !flutter_controller_->view()) {
    return false;
  }
  RegisterPlugins(flutter_controller_->engine());
  SetChildContent(flutter_controller_->view()->GetNativeWindow());
  services_ =
      std::make_unique<corvane::client::DesktopServices>(flutter_controller_->engine()->messenger(), GetHandle());
  // The window appears with Flutter's first frame, never before it.
  flutter_controller_->engine()->SetNextFrameCallback([this]() { this->Show(); });
  flutter_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::BeforeDestroy() {
  // The services first: they restore the window and release injected input while it still exists.
  services_ = nullptr;
  flutter_controller_ = nullptr;
  Win32Window::BeforeDestroy();
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (services_ && services_->HandleWindowMessage(message, wparam, lparam)) {
    return 0;
  }
  if (flutter_controller_) {
    const std::optional<LRESULT> result =
        flutter_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) {
      return *result;
    }
  }
  if (message == WM_FONTCHANGE && flutter_controller_) {
    flutter_controller_->engine()->ReloadSystemFonts();
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}
