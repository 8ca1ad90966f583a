#pragma once
// FLUTTER_EXPORT: marks the functions of flutter_windows.dll. Stand-in for Flutter's header of the
// same name (never shipped): the DLL is built with FLUTTER_DESKTOP_LIBRARY defined and exports them;
// everything else imports them.

#ifdef FLUTTER_DESKTOP_LIBRARY
#ifdef _WIN32
#define FLUTTER_EXPORT __declspec(dllexport)
#else
#define FLUTTER_EXPORT __attribute__((visibility("default")))
#endif
#else
#ifdef _WIN32
#define FLUTTER_EXPORT __declspec(dllimport)
#else
#define FLUTTER_EXPORT
#endif
#endif
