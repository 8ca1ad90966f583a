# The twelve Flutter plug-ins the host registers, as "<plug-in>:<registration function>". The plug-in's
# library (and its CMake target in a Flutter app's build) is "<plug-in>_plugin".
set(CORVANE_FLUTTER_PLUGINS
  "audioplayers_windows:AudioplayersWindowsPluginRegisterWithRegistrar"
  "connectivity_plus:ConnectivityPlusWindowsPluginRegisterWithRegistrar"
  "file_selector_windows:FileSelectorWindowsRegisterWithRegistrar"
  "flutter_secure_storage_windows:FlutterSecureStorageWindowsPluginRegisterWithRegistrar"
  "flutter_webrtc:FlutterWebRTCPluginRegisterWithRegistrar"
  "livekit_client:LiveKitPluginRegisterWithRegistrar"
  "media_kit_libs_windows_video:MediaKitLibsWindowsVideoPluginCApiRegisterWithRegistrar"
  "media_kit_video:MediaKitVideoPluginCApiRegisterWithRegistrar"
  "pasteboard:PasteboardPluginRegisterWithRegistrar"
  "record_windows:RecordWindowsPluginCApiRegisterWithRegistrar"
  "share_plus:SharePlusWindowsPluginCApiRegisterWithRegistrar"
  "url_launcher_windows:UrlLauncherWindowsRegisterWithRegistrar")
