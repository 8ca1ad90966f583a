// Sources of the fixture app's url_launcher_windows plug-in beside the stand-in's plugin.cpp
// (make_fixture.cmake copies them there), written as code built only with Flutter's settings can be:
// they compile with C++17 and UNICODE/_UNICODE, and fail when our own settings (corvane_settings:
// C++20, WIN32_LEAN_AND_MEAN, NOMINMAX) reach a plug-in. flutter_settings_only.c uses min and max.

#include <windows.h>

// Opens a document with the program it belongs to. ShellExecuteW comes from shellapi.h, which
// <windows.h> includes only without WIN32_LEAN_AND_MEAN. Exported so that it is linked; not called.
extern "C" __declspec(dllexport) bool CorvaneFixtureOpen(const wchar_t* document) {
  const HINSTANCE result = ShellExecuteW(nullptr, L"open", document, nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

// The plug-in's name in UTF-8: a u8 literal is an array of char in C++17, of char8_t (which no char
// pointer takes) in C++20.
extern "C" __declspec(dllexport) const char* CorvaneFixturePluginName() { return u8"url_launcher_windows"; }
