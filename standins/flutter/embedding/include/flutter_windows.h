#pragma once
// The C API of the Flutter Windows embedding (flutter_windows.dll): engine, view controller, view
// and DPI helpers. Stand-in for Flutter's header of the same name (never shipped); the names and
// signatures are Flutter's.

#include <windows.h>

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "flutter_export.h"
#include "flutter_messenger.h"
#include "flutter_plugin_registrar.h"

#ifdef __cplusplus
extern "C" {
#endif

// A function taking only its user data.
typedef void (*VoidCallback)(void* /* user_data */);

// A view controller: a view showing an engine's content; owns the engine.
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;

// The view of a view controller (a child window).
typedef struct FlutterDesktopView* FlutterDesktopViewRef;

// An engine running one Flutter application.
typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;

// Identifies a view of an engine (the first view is 0).
typedef int64_t FlutterDesktopViewId;

// Which graphics adapter the engine should render with.
typedef enum {
  NoPreference,
  LowPowerPreference,
  HighPerformancePreference,
} FlutterDesktopGpuPreference;

// Which thread runs the application's Dart code.
typedef enum {
  Default,
  RunOnPlatformThread,
  RunOnSeparateThread,
} FlutterDesktopUIThreadPolicy;

// What an engine runs; the strings are copied by FlutterDesktopEngineCreate.
typedef struct {
  // The application's flutter_assets directory.
  const wchar_t* assets_path;
  // The ICU data file.
  const wchar_t* icu_data_path;
  // The ahead-of-time compiled application library.
  const wchar_t* aot_library_path;
  // The Dart entry point; null for main.
  const char* dart_entrypoint;
  // The arguments passed to the Dart entry point (UTF-8).
  int dart_entrypoint_argc;
  const char** dart_entrypoint_argv;
  // The graphics adapter to prefer.
  FlutterDesktopGpuPreference gpu_preference;
  // The thread for Dart code.
  FlutterDesktopUIThreadPolicy ui_thread_policy;
} FlutterDesktopEngineProperties;

// Creates a view controller of the given size for the engine, running the engine if it is not
// running yet; takes ownership of the engine. Null (the engine destroyed) when the engine cannot run.
FLUTTER_EXPORT FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                                  FlutterDesktopEngineRef engine);

// Destroys the view controller, its view and its engine.
FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller);

// The ID of a view controller's view.
FLUTTER_EXPORT FlutterDesktopViewId
FlutterDesktopViewControllerGetViewId(FlutterDesktopViewControllerRef view_controller);

// The engine of a view controller.
FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopViewControllerGetEngine(FlutterDesktopViewControllerRef controller);

// The view of a view controller.
FLUTTER_EXPORT FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);

// Schedules a frame.
FLUTTER_EXPORT void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller);

// Offers a top-level window message to the engine; true (with *result set) when it handled it.
FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef controller,
                                                                         HWND hwnd, UINT message, WPARAM wparam,
                                                                         LPARAM lparam, LRESULT* result);

// Creates (does not run) an engine for the properties.
FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties);

// Destroys an engine that no view controller owns.
FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);

// Starts the engine at entry_point (null: the properties' entry point, else main); false when it
// was already running.
FLUTTER_EXPORT bool FlutterDesktopEngineRun(FlutterDesktopEngineRef engine, const char* entry_point);

// Runs the engine's due tasks; the nanoseconds until its next scheduled task.
FLUTTER_EXPORT uint64_t FlutterDesktopEngineProcessMessages(FlutterDesktopEngineRef engine);

// Re-reads the system fonts (after WM_FONTCHANGE).
FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);

// The registrar for a plug-in name.
FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                                       const char* plugin_name);

// The engine's messenger.
FLUTTER_EXPORT FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);

// Calls callback once, on the platform thread, after the next frame is rendered.
FLUTTER_EXPORT void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine, VoidCallback callback,
                                                             void* user_data);

// Offers a message of a window that is not the engine's to the engine; true (with *result set)
// when it handled it.
FLUTTER_EXPORT bool FlutterDesktopEngineProcessExternalWindowMessage(FlutterDesktopEngineRef engine, HWND hwnd,
                                                                     UINT message, WPARAM wparam, LPARAM lparam,
                                                                     LRESULT* result);

// A plug-in's hook into the top-level window's messages; true (with *result set) when it handled one.
typedef bool (*FlutterDesktopWindowProcCallback)(HWND /* top-level window */, UINT /* message */, WPARAM, LPARAM,
                                                 void* /* user data */, LRESULT* result);

// The window of a view.
FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// The DPI of a window.
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForHWND(HWND hwnd);

// The DPI of a monitor.
FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);

// Re-binds the embedding's output streams after the host created a console.
FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams();

#ifdef __cplusplus
}  // extern "C"
#endif
