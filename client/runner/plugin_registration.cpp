#include "runner/plugin_registration.h"

#include <flutter_plugin_registrar.h>

// The plug-in libraries' registration functions, linked at load time from their DLLs.
extern "C" {
__declspec(dllimport) void AudioplayersWindowsPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void ConnectivityPlusWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void FileSelectorWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void FlutterWebRTCPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void LiveKitPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void MediaKitLibsWindowsVideoPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void MediaKitVideoPluginCApiRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void PasteboardPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void RecordWindowsPluginCApiRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void SharePlusWindowsPluginCApiRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
__declspec(dllimport) void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrarRef registrar);
}

void RegisterPlugins(flutter::PluginRegistry* registry) {
  AudioplayersWindowsPluginRegisterWithRegistrar(registry->GetRegistrarForPlugin("AudioplayersWindowsPlugin"));
  ConnectivityPlusWindowsPluginRegisterWithRegistrar(registry->GetRegistrarForPlugin("ConnectivityPlusWindowsPlugin"));
  FileSelectorWindowsRegisterWithRegistrar(registry->GetRegistrarForPlugin("FileSelectorWindows"));
  FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
      registry->GetRegistrarForPlugin("FlutterSecureStorageWindowsPlugin"));
  FlutterWebRTCPluginRegisterWithRegistrar(registry->GetRegistrarForPlugin("FlutterWebRTCPlugin"));
  LiveKitPluginRegisterWithRegistrar(registry->GetRegistrarForPlugin("LiveKitPlugin"));
  MediaKitLibsWindowsVideoPluginCApiRegisterWithRegistrar(
      registry->GetRegistrarForPlugin("MediaKitLibsWindowsVideoPluginCApi"));
  MediaKitVideoPluginCApiRegisterWithRegistrar(registry->GetRegistrarForPlugin("MediaKitVideoPluginCApi"));
  PasteboardPluginRegisterWithRegistrar(registry->GetRegistrarForPlugin("PasteboardPlugin"));
  RecordWindowsPluginCApiRegisterWithRegistrar(registry->GetRegistrarForPlugin("RecordWindowsPluginCApi"));
  SharePlusWindowsPluginCApiRegisterWithRegistrar(registry->GetRegistrarForPlugin("SharePlusWindowsPluginCApi"));
  UrlLauncherWindowsRegisterWithRegistrar(registry->GetRegistrarForPlugin("UrlLauncherWindows"));
}
