#pragma once
// The stand-in flutter_windows.dll's one export that Flutter does not have (tests only, never
// shipped): the stand-in plug-in DLLs call it from their registration function, so that a test sees
// which library registered with which registrar, in call order (the bridge's "plugin" frame).

#include "flutter_export.h"
#include "flutter_plugin_registrar.h"

#ifdef __cplusplus
extern "C" {
#endif

// Reports that library_name's registration function ran with registrar.
FLUTTER_EXPORT void CorvaneStandInPluginRegistered(FlutterDesktopPluginRegistrarRef registrar,
                                                   const char* library_name);

#ifdef __cplusplus
}  // extern "C"
#endif
