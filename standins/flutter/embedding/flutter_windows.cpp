// The exported C functions of the stand-in flutter_windows.dll.
#include <windows.h>

#include <shellscalingapi.h>

#include <cstdio>
#include <iostream>
#include <limits>
#include <memory>

#include "corvane_standin_plugins.h"
#include "engine.h"
#include "flutter_windows.h"

namespace {

constexpr UINT kDefaultDpi = 96;

}  // namespace

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(int width, int height,
                                                                   FlutterDesktopEngineRef engine) {
  if (engine == nullptr) {
    return nullptr;
  }
  // The controller owns the engine from here on, also when creation fails.
  auto controller = std::make_unique<FlutterDesktopViewController>();
  controller->engine = engine;
  if (flutter_standin::RegisterViewClass()) {
    // A child of the message-only parent until the host adopts it with SetParent.
    controller->view.window = CreateWindowExW(0, flutter_standin::kViewClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0,
                                              width > 0 ? width : 0, height > 0 ? height : 0, HWND_MESSAGE, nullptr,
                                              flutter_standin::ThisModule(), controller.get());
  }
  if (controller->view.window == nullptr) {
    std::fprintf(stderr, "flutter stand-in: the view window could not be created (os error %lu)\n", GetLastError());
    delete engine;
    return nullptr;
  }
  if (!engine->running() && !engine->Run(nullptr)) {
    // As Flutter does: the controller, with its view and engine, is gone, and the caller gets null.
    // No frame was requested yet, so nothing refers to the view.
    DestroyWindow(controller->view.window);
    delete engine;
    return nullptr;
  }
  engine->AttachView(controller->view.window);
  // The first frame, as the engine renders one when its view appears.
  engine->RequestFrame();
  return controller.release();
}

void FlutterDesktopViewControllerDestroy(FlutterDesktopViewControllerRef controller) {
  if (controller == nullptr) {
    return;
  }
  std::unique_ptr<FlutterDesktopViewController> owned(controller);
  owned->engine->AttachView(nullptr);
  SetWindowLongPtrW(owned->view.window, GWLP_USERDATA, 0);
  DestroyWindow(owned->view.window);
  delete owned->engine;
}

FlutterDesktopViewId FlutterDesktopViewControllerGetViewId(FlutterDesktopViewControllerRef /*view_controller*/) {
  // The one view of an engine is its first, and the first view's ID is 0.
  return 0;
}

FlutterDesktopEngineRef FlutterDesktopViewControllerGetEngine(FlutterDesktopViewControllerRef controller) {
  return controller->engine;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller) {
  return &controller->view;
}

void FlutterDesktopViewControllerForceRedraw(FlutterDesktopViewControllerRef controller) {
  controller->engine->RequestFrame();
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(FlutterDesktopViewControllerRef /*controller*/, HWND /*hwnd*/,
                                                          UINT /*message*/, WPARAM /*wparam*/, LPARAM /*lparam*/,
                                                          LRESULT* /*result*/) {
  // Nothing in the stand-in needs the host's window messages.
  return false;
}

FlutterDesktopEngineRef FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* engine_properties) {
  // Never null, as in Flutter: an engine that cannot start fails to run instead.
  return new FlutterDesktopEngine(*engine_properties);
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  delete engine;
  return true;
}

bool FlutterDesktopEngineRun(FlutterDesktopEngineRef engine, const char* entry_point) {
  return engine->Run(entry_point);
}

uint64_t FlutterDesktopEngineProcessMessages(FlutterDesktopEngineRef engine) {
  // The stand-in's only tasks are the bridge's frames; none is ever scheduled for later.
  engine->DrainInbox();
  return static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
}

bool FlutterDesktopEngineProcessExternalWindowMessage(FlutterDesktopEngineRef /*engine*/, HWND /*hwnd*/,
                                                      UINT /*message*/, WPARAM /*wparam*/, LPARAM /*lparam*/,
                                                      LRESULT* /*result*/) {
  // Nothing in the stand-in needs other windows' messages.
  return false;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) { engine->ReloadSystemFonts(); }

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                                                        const char* plugin_name) {
  return engine->Registrar(plugin_name);
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine->messenger();
}

void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine, VoidCallback callback, void* user_data) {
  engine->SetNextFrameCallback(callback, user_data);
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) { return view->window; }

UINT FlutterDesktopGetDpiForHWND(HWND hwnd) {
  const UINT dpi = hwnd != nullptr ? GetDpiForWindow(hwnd) : 0;
  return dpi != 0 ? dpi : FlutterDesktopGetDpiForMonitor(MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY));
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (monitor != nullptr && SUCCEEDED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y)) && dpi_x != 0) {
    return dpi_x;
  }
  const UINT system = GetDpiForSystem();
  return system != 0 ? system : kDefaultDpi;
}

void FlutterDesktopResyncOutputStreams() {
  // This DLL writes through the C runtime it shares with the host, so streams the host reopened are
  // already ours; what remains is to flush what was buffered before and keep C++ streams in step.
  std::fflush(stdout);
  std::fflush(stderr);
  std::ios::sync_with_stdio(true);
}

FlutterDesktopMessengerRef FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar) {
  return registrar->engine->messenger();
}

void FlutterDesktopPluginRegistrarSetDestructionHandler(FlutterDesktopPluginRegistrarRef registrar,
                                                        FlutterDesktopOnPluginRegistrarDestroyed callback) {
  registrar->destruction_handler = callback;
}

FlutterDesktopTextureRegistrarRef FlutterDesktopRegistrarGetTextureRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  return registrar->engine->texture_registrar();
}

int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(FlutterDesktopTextureRegistrarRef /*texture_registrar*/,
                                                              const FlutterDesktopTextureInfo* /*info*/) {
  std::fprintf(stderr, "flutter stand-in: external textures are not supported\n");
  return -1;
}

void FlutterDesktopTextureRegistrarUnregisterExternalTexture(FlutterDesktopTextureRegistrarRef /*texture_registrar*/,
                                                             int64_t /*texture_id*/, void (*callback)(void* user_data),
                                                             void* user_data) {
  // No texture is ever registered, so it is gone already.
  if (callback != nullptr) {
    callback(user_data);
  }
}

bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef /*texture_registrar*/, int64_t /*texture_id*/) {
  return false;
}

void CorvaneStandInPluginRegistered(FlutterDesktopPluginRegistrarRef registrar, const char* library_name) {
  if (registrar != nullptr) {
    registrar->engine->ReportPluginRegistered(registrar, library_name);
  }
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
                                 const size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message, message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger, const char* channel,
                                          const uint8_t* message, const size_t message_size,
                                          const FlutterDesktopBinaryReply reply, void* user_data) {
  FlutterDesktopEngine* engine = messenger->engine;
  return engine != nullptr && channel != nullptr && engine->Send(channel, message, message_size, reply, user_data);
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef messenger,
                                         const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
                                         size_t data_length) {
  FlutterDesktopEngine* engine = messenger->engine;
  if (engine != nullptr) {
    engine->SendResponse(handle, data, data_length);
  }
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  FlutterDesktopEngine* engine = messenger->engine;
  if (engine != nullptr && channel != nullptr) {
    engine->SetCallback(channel, callback, user_data);
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (--messenger->references == 0) {
    delete messenger;
  }
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) { return messenger->engine != nullptr; }

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  messenger->lock.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) { messenger->lock.unlock(); }
