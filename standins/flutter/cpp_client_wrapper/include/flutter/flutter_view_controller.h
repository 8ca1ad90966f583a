#pragma once
// FlutterViewController: a view showing a running engine. Stand-in for Flutter's header of the same
// name (never shipped).

#include <flutter_windows.h>

#include <memory>
#include <optional>

#include "dart_project.h"
#include "flutter_engine.h"
#include "flutter_view.h"

namespace flutter {

// Creates an engine for a project and a view of the given size that runs it.
class FlutterViewController {
 public:
  // A view of width × height pixels running project. When the engine cannot start, view() is null
  // (engine() still returns an object, whose engine is gone).
  FlutterViewController(int width, int height, const DartProject& project);

  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  // The ID of the controller's view.
  FlutterDesktopViewId view_id() const;

  // The engine (owned by this controller).
  FlutterEngine* engine() const { return engine_.get(); }

  // The view; null when creation failed.
  FlutterView* view() const { return view_.get(); }

  // Schedules a frame.
  void ForceRedraw();

  // Offers a top-level window message to the engine; a value when the engine handled it and the
  // window procedure must return that value.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  std::shared_ptr<FlutterEngine> engine_;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
