// FlutterViewController over the C view controller of flutter_windows.dll.
#include "flutter/flutter_view_controller.h"

#include <iostream>

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height, const DartProject& project)
    : engine_(std::make_shared<FlutterEngine>(project)) {
  // The C view controller owns the engine from here on, and runs it.
  controller_ = FlutterDesktopViewControllerCreate(width, height, engine_->RelinquishEngine());
  if (controller_ == nullptr) {
    std::cerr << "flutter: the view controller could not be created\n";
    return;
  }
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerDestroy(controller_);
  }
}

FlutterDesktopViewId FlutterViewController::view_id() const {
  return FlutterDesktopViewControllerGetViewId(controller_);
}

void FlutterViewController::ForceRedraw() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerForceRedraw(controller_);
  }
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                                                       LPARAM lparam) {
  LRESULT result = 0;
  if (controller_ != nullptr &&
      FlutterDesktopViewControllerHandleTopLevelWindowProc(controller_, hwnd, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
