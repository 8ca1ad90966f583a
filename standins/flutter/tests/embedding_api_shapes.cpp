// Flutter's own shapes for the C API of flutter_windows.dll, written out independently of the
// stand-in's headers: this file fails to compile when a declaration drifts from Flutter's, and the
// test executable fails to link when the DLL lacks a function that Flutter's C++ wrapper sources
// call (the host never calls some of them, but the real wrapper must link over this DLL).
#include <flutter_windows.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

static_assert(sizeof(FlutterDesktopEngineProperties) == 56);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argc) == 32);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argv) == 40);
static_assert(offsetof(FlutterDesktopEngineProperties, gpu_preference) == 48);
static_assert(offsetof(FlutterDesktopEngineProperties, ui_thread_policy) == 52);
static_assert(NoPreference == 0 && LowPowerPreference == 1 && HighPerformancePreference == 2);
static_assert(Default == 0 && RunOnPlatformThread == 1 && RunOnSeparateThread == 2);

static_assert(std::is_same_v<FlutterDesktopViewControllerRef, struct FlutterDesktopViewController*>);
static_assert(std::is_same_v<FlutterDesktopMessageResponseHandle, struct _FlutterPlatformMessageResponseHandle>);
static_assert(std::is_same_v<FlutterDesktopTextureRegistrarRef, struct FlutterDesktopTextureRegistrar*>);
static_assert(std::is_same_v<FlutterDesktopViewId, int64_t>);
static_assert(std::is_same_v<FlutterDesktopWindowProcCallback, bool (*)(HWND, UINT, WPARAM, LPARAM, void*, LRESULT*)>);

}  // namespace

namespace embedding_test {

// Every function of the DLL that Flutter's wrapper sources (engine, view controller, view, messenger,
// plug-in and texture registrars) call, with Flutter's signature.
struct WrapperImports {
  FlutterDesktopEngineRef (*engine_create)(const FlutterDesktopEngineProperties*);
  bool (*engine_destroy)(FlutterDesktopEngineRef);
  bool (*engine_run)(FlutterDesktopEngineRef, const char*);
  uint64_t (*engine_process_messages)(FlutterDesktopEngineRef);
  void (*engine_reload_system_fonts)(FlutterDesktopEngineRef);
  FlutterDesktopPluginRegistrarRef (*engine_get_plugin_registrar)(FlutterDesktopEngineRef, const char*);
  FlutterDesktopMessengerRef (*engine_get_messenger)(FlutterDesktopEngineRef);
  void (*engine_set_next_frame_callback)(FlutterDesktopEngineRef, VoidCallback, void*);
  bool (*engine_process_external_window_message)(FlutterDesktopEngineRef, HWND, UINT, WPARAM, LPARAM, LRESULT*);
  FlutterDesktopViewControllerRef (*view_controller_create)(int, int, FlutterDesktopEngineRef);
  void (*view_controller_destroy)(FlutterDesktopViewControllerRef);
  FlutterDesktopViewId (*view_controller_get_view_id)(FlutterDesktopViewControllerRef);
  FlutterDesktopEngineRef (*view_controller_get_engine)(FlutterDesktopViewControllerRef);
  FlutterDesktopViewRef (*view_controller_get_view)(FlutterDesktopViewControllerRef);
  void (*view_controller_force_redraw)(FlutterDesktopViewControllerRef);
  bool (*view_controller_handle_top_level_window_proc)(FlutterDesktopViewControllerRef, HWND, UINT, WPARAM, LPARAM,
                                                       LRESULT*);
  HWND (*view_get_hwnd)(FlutterDesktopViewRef);
  bool (*messenger_send)(FlutterDesktopMessengerRef, const char*, const uint8_t*, const size_t);
  bool (*messenger_send_with_reply)(FlutterDesktopMessengerRef, const char*, const uint8_t*, const size_t,
                                    const FlutterDesktopBinaryReply, void*);
  void (*messenger_send_response)(FlutterDesktopMessengerRef, const FlutterDesktopMessageResponseHandle*,
                                  const uint8_t*, size_t);
  void (*messenger_set_callback)(FlutterDesktopMessengerRef, const char*, FlutterDesktopMessageCallback, void*);
  FlutterDesktopMessengerRef (*messenger_add_ref)(FlutterDesktopMessengerRef);
  void (*messenger_release)(FlutterDesktopMessengerRef);
  bool (*messenger_is_available)(FlutterDesktopMessengerRef);
  FlutterDesktopMessengerRef (*messenger_lock)(FlutterDesktopMessengerRef);
  void (*messenger_unlock)(FlutterDesktopMessengerRef);
  FlutterDesktopMessengerRef (*registrar_get_messenger)(FlutterDesktopPluginRegistrarRef);
  void (*registrar_set_destruction_handler)(FlutterDesktopPluginRegistrarRef, FlutterDesktopOnPluginRegistrarDestroyed);
  FlutterDesktopTextureRegistrarRef (*registrar_get_texture_registrar)(FlutterDesktopPluginRegistrarRef);
  int64_t (*texture_register)(FlutterDesktopTextureRegistrarRef, const FlutterDesktopTextureInfo*);
  void (*texture_unregister)(FlutterDesktopTextureRegistrarRef, int64_t, void (*)(void*), void*);
  bool (*texture_mark_frame_available)(FlutterDesktopTextureRegistrarRef, int64_t);
};

// Not static, so that the references (and with them the imports) are kept.
extern const WrapperImports kFlutterWrapperImports;
const WrapperImports kFlutterWrapperImports = {
    &FlutterDesktopEngineCreate,
    &FlutterDesktopEngineDestroy,
    &FlutterDesktopEngineRun,
    &FlutterDesktopEngineProcessMessages,
    &FlutterDesktopEngineReloadSystemFonts,
    &FlutterDesktopEngineGetPluginRegistrar,
    &FlutterDesktopEngineGetMessenger,
    &FlutterDesktopEngineSetNextFrameCallback,
    &FlutterDesktopEngineProcessExternalWindowMessage,
    &FlutterDesktopViewControllerCreate,
    &FlutterDesktopViewControllerDestroy,
    &FlutterDesktopViewControllerGetViewId,
    &FlutterDesktopViewControllerGetEngine,
    &FlutterDesktopViewControllerGetView,
    &FlutterDesktopViewControllerForceRedraw,
    &FlutterDesktopViewControllerHandleTopLevelWindowProc,
    &FlutterDesktopViewGetHWND,
    &FlutterDesktopMessengerSend,
    &FlutterDesktopMessengerSendWithReply,
    &FlutterDesktopMessengerSendResponse,
    &FlutterDesktopMessengerSetCallback,
    &FlutterDesktopMessengerAddRef,
    &FlutterDesktopMessengerRelease,
    &FlutterDesktopMessengerIsAvailable,
    &FlutterDesktopMessengerLock,
    &FlutterDesktopMessengerUnlock,
    &FlutterDesktopPluginRegistrarGetMessenger,
    &FlutterDesktopPluginRegistrarSetDestructionHandler,
    &FlutterDesktopRegistrarGetTextureRegistrar,
    &FlutterDesktopTextureRegistrarRegisterExternalTexture,
    &FlutterDesktopTextureRegistrarUnregisterExternalTexture,
    &FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable,
};

}  // namespace embedding_test
