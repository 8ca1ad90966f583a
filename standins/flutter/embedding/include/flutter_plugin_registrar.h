#pragma once
// Plug-in registrars of the Flutter Windows embedding. Stand-in for Flutter's header of the same
// name (never shipped); the names and signatures are Flutter's, apart from the one marked below.

#include <stdint.h>

#include "flutter_export.h"
#include "flutter_messenger.h"

#ifdef __cplusplus
extern "C" {
#endif

// The registrar handed to a plug-in's registration function.
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;

// Called when a registrar is destroyed (with its engine).
typedef void (*FlutterDesktopOnPluginRegistrarDestroyed)(FlutterDesktopPluginRegistrarRef);

// The messenger through which the plug-in talks to the application.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef registrar);

// Sets the function called when the registrar is destroyed.
FLUTTER_EXPORT void FlutterDesktopPluginRegistrarSetDestructionHandler(
    FlutterDesktopPluginRegistrarRef registrar, FlutterDesktopOnPluginRegistrarDestroyed callback);

// STAND-IN ONLY, not part of Flutter: the stand-in plug-in DLLs call this from their registration
// function, so that a test can see which library registered with which registrar, in call order.
FLUTTER_EXPORT void CorvaneStandInPluginRegistered(FlutterDesktopPluginRegistrarRef registrar,
                                                   const char* library_name);

#ifdef __cplusplus
}  // extern "C"
#endif
