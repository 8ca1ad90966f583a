#pragma once
// Loads the GStreamer runtime bundled beside the helper (<exe dir>\gstreamer\bin) and only that one:
// checks its layout, confines the DLL search path and GStreamer's plug-in paths to it, points the
// registry cache at the user's local application data, loads the core, GLib and GObject libraries
// by full path, resolves the entry points and initialises GStreamer.

#include <string>
#include <string_view>

#include "windows/media/runtime_symbols.h"

namespace corvane::helper {

// The runtime beside the running executable. Never fails as a call: a failure is the returned
// runtime's runtime_error. Effects of the steps before a failure (the DLL directory, environment
// variables, the registry directory) are kept.
MediaRuntime load_media_runtime();

// The same for an executable living in `executable_directory` (an absolute path; a trailing
// backslash is allowed).
MediaRuntime load_media_runtime_from(const std::wstring& executable_directory);

// The registry cache file name for the bytes of a CORVANE_GSTREAMER_VERSION file:
// "registry-<version>.bin" where <version> is the text with Unicode white space trimmed at both ends
// and every character other than A-Z a-z 0-9 '-' '.' removed, or "registry.bin" when nothing is
// left or the bytes are not UTF-8.
std::string registry_file_name(std::string_view version_file);

// A path as people read it: without the \\?\ prefix (\\?\C:\x becomes C:\x, \\?\UNC\s\x becomes
// \\s\x); other paths are returned unchanged.
std::wstring display_path(std::wstring_view path);

}  // namespace corvane::helper
