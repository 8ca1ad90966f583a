#pragma once
// FlutterEngine: one running Flutter application. Stand-in for Flutter's header of the same name
// (never shipped).

#include <flutter_windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "binary_messenger.h"
#include "dart_project.h"
#include "plugin_registry.h"

namespace flutter {

// An engine for a project; destroyed with this object unless a view controller took it over.
class FlutterEngine : public PluginRegistry {
 public:
  // Creates (does not run) an engine for project; whether it can start shows when it runs.
  explicit FlutterEngine(const DartProject& project);

  ~FlutterEngine() override;

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // Runs the project's entry point; false when it cannot start, was shut down or already ran.
  bool Run();

  // Runs entry_point (null: the project's); false when it cannot start, was shut down or already ran.
  bool Run(const char* entry_point);

  // Destroys the engine now (when this object owns it).
  void ShutDown();

  // Runs the engine's due tasks; the time until its next scheduled one.
  std::chrono::nanoseconds ProcessMessages();

  // Re-reads the system fonts.
  void ReloadSystemFonts();

  // The registrar for a plug-in name; null without an engine.
  FlutterDesktopPluginRegistrarRef GetRegistrarForPlugin(const std::string& plugin_name) override;

  // The messenger on which channels to the application are created.
  BinaryMessenger* messenger() { return messenger_.get(); }

  // Calls callback once after the next rendered frame, on the platform thread.
  void SetNextFrameCallback(std::function<void()> callback);

  // Offers a message of a window that is not the engine's to the engine; a value when the engine
  // handled it and the window procedure must return that value.
  std::optional<LRESULT> ProcessExternalWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  friend class FlutterViewController;

  // Hands the engine to a view controller, which destroys it from then on.
  FlutterDesktopEngineRef RelinquishEngine();

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessenger> messenger_;
  bool owns_engine_ = true;
  bool has_been_run_ = false;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter
