#pragma once
// External textures of the Flutter Windows embedding. Stand-in for Flutter's header of the same name
// (never shipped); the names and signatures are Flutter's. The stand-in renders no textures, so the
// texture description is declared but not defined, and registration always fails.

#include <stdbool.h>
#include <stdint.h>

#include "flutter_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// An engine's texture registrar.
typedef struct FlutterDesktopTextureRegistrar* FlutterDesktopTextureRegistrarRef;

// What a texture is and how the engine gets its content (not defined in the stand-in).
typedef struct FlutterDesktopTextureInfo FlutterDesktopTextureInfo;

// Registers a texture; its ID, or -1 on failure.
FLUTTER_EXPORT int64_t FlutterDesktopTextureRegistrarRegisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, const FlutterDesktopTextureInfo* info);

// Unregisters a texture; callback (may be null) is called with user_data once it is gone.
FLUTTER_EXPORT void FlutterDesktopTextureRegistrarUnregisterExternalTexture(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id, void (*callback)(void* user_data),
    void* user_data);

// Tells the engine that a texture has a new frame; false when there is no such texture.
FLUTTER_EXPORT bool FlutterDesktopTextureRegistrarMarkExternalTextureFrameAvailable(
    FlutterDesktopTextureRegistrarRef texture_registrar, int64_t texture_id);

#ifdef __cplusplus
}  // extern "C"
#endif
