// FlutterEngine over the C engine of flutter_windows.dll.
#include "flutter/flutter_engine.h"

#include <iostream>
#include <utility>
#include <vector>

#include "binary_messenger_impl.h"

namespace flutter {

FlutterEngine::FlutterEngine(const DartProject& project) {
  std::vector<const char*> arguments;
  for (const std::string& argument : project.dart_entrypoint_arguments()) {
    arguments.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  properties.dart_entrypoint = project.dart_entrypoint().empty() ? nullptr : project.dart_entrypoint().c_str();
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv = arguments.empty() ? nullptr : arguments.data();

  engine_ = FlutterDesktopEngineCreate(&properties);
  messenger_ = std::make_unique<BinaryMessengerImpl>(FlutterDesktopEngineGetMessenger(engine_));
}

FlutterEngine::~FlutterEngine() { ShutDown(); }

bool FlutterEngine::Run() { return Run(nullptr); }

bool FlutterEngine::Run(const char* entry_point) {
  if (engine_ == nullptr) {
    std::cerr << "flutter: cannot run an engine that was shut down\n";
    return false;
  }
  if (has_been_run_) {
    std::cerr << "flutter: cannot run an engine more than once\n";
    return false;
  }
  has_been_run_ = true;
  const bool started = FlutterDesktopEngineRun(engine_, entry_point);
  if (!started) {
    std::cerr << "flutter: the engine failed to start\n";
  }
  return started;
}

std::chrono::nanoseconds FlutterEngine::ProcessMessages() {
  return std::chrono::nanoseconds(FlutterDesktopEngineProcessMessages(engine_));
}

void FlutterEngine::ShutDown() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) {
    FlutterDesktopEngineReloadSystemFonts(engine_);
  }
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetRegistrarForPlugin(const std::string& plugin_name) {
  if (engine_ == nullptr) {
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  if (engine_ == nullptr) {
    return;
  }
  next_frame_callback_ = std::move(callback);
  FlutterDesktopEngineSetNextFrameCallback(
      engine_,
      [](void* user_data) {
        auto* self = static_cast<FlutterEngine*>(user_data);
        // Moved out first: the callback may set the next one.
        std::function<void()> current = std::move(self->next_frame_callback_);
        self->next_frame_callback_ = nullptr;
        if (current) {
          current();
        }
      },
      this);
}

std::optional<LRESULT> FlutterEngine::ProcessExternalWindowMessage(HWND hwnd, UINT message, WPARAM wparam,
                                                                   LPARAM lparam) {
  LRESULT result = 0;
  if (FlutterDesktopEngineProcessExternalWindowMessage(engine_, hwnd, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

FlutterDesktopEngineRef FlutterEngine::RelinquishEngine() {
  owns_engine_ = false;
  return engine_;
}

}  // namespace flutter
