#include "windows/media/runtime_loader.h"

#include <windows.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

#include "common/result.h"
#include "common/unicode.h"
#include "common/unicode_lower.h"
#include "platform/handles.h"
#include "platform/os_error.h"

namespace corvane::helper {

namespace {

constexpr const char* kRuntimeNotFound = "the bundled GStreamer runtime was not found beside the media helper";
constexpr const char* kRootInvalid = "the GStreamer runtime root is invalid";
constexpr const char* kPluginDirectoryMissing = "the GStreamer plugin directory is missing";
constexpr const char* kSearchPathFailed = "could not constrain the media DLL search path";
constexpr const char* kInitFailed = "GStreamer initialization failed";

constexpr const wchar_t* kCoreLibrary = L"gstreamer-1.0-0.dll";
constexpr const wchar_t* kGlibLibrary = L"glib-2.0-0.dll";
constexpr const wchar_t* kGobjectLibrary = L"gobject-2.0-0.dll";

// A version file larger than this is treated as unreadable (a real one holds a few bytes).
constexpr LONGLONG kVersionFileLimit = 1 << 20;
// GetModuleFileNameW paths never exceed the system's 32767-character limit.
constexpr std::size_t kLongestPath = 32768;

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_ascii_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Length of the root of an absolute path: "C:\", "\\?\C:\", "\\server\share\", "\\?\UNC\server\share\"
// or "\\?\Volume{…}\"; 0 for a path that is not absolute.
std::size_t root_length(std::wstring_view path) {
  const auto drive_root = [&](std::size_t at) -> std::size_t {
    return path.size() >= at + 3 && is_ascii_letter(path[at]) && path[at + 1] == L':' && is_separator(path[at + 2])
               ? at + 3
               : 0;
  };
  // "server\share\" starting at `at`.
  const auto share_root = [&](std::size_t at) -> std::size_t {
    const std::size_t server_end = path.find_first_of(L"\\/", at);
    if (server_end == std::wstring_view::npos || server_end == at) {
      return 0;
    }
    const std::size_t share_end = path.find_first_of(L"\\/", server_end + 1);
    if (share_end == server_end + 1) {
      return 0;
    }
    return share_end == std::wstring_view::npos ? path.size() : share_end + 1;
  };
  if (path.starts_with(L"\\\\?\\")) {
    if (path.substr(4).starts_with(L"UNC\\")) {
      return share_root(8);
    }
    if (const std::size_t drive = drive_root(4); drive != 0) {
      return drive;
    }
    const std::size_t volume_end = path.find(L'\\', 4);
    return volume_end == std::wstring_view::npos || volume_end == 4 ? 0 : volume_end + 1;
  }
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    return share_root(2);
  }
  return drive_root(0);
}

bool is_absolute(std::wstring_view path) { return root_length(path) != 0; }

// The parent of an absolute path, or nothing for a root or a relative path.
std::optional<std::wstring> parent_directory(std::wstring_view path) {
  const std::size_t root = root_length(path);
  if (root == 0) {
    return std::nullopt;
  }
  std::size_t end = path.size();
  while (end > root && is_separator(path[end - 1])) {
    --end;
  }
  if (end <= root) {
    return std::nullopt;
  }
  std::size_t parent_end = path.find_last_of(L"\\/", end - 1);
  if (parent_end == std::wstring_view::npos || parent_end < root) {
    return std::wstring(path.substr(0, root));
  }
  while (parent_end > root && is_separator(path[parent_end - 1])) {
    --parent_end;
  }
  return std::wstring(path.substr(0, parent_end));
}

std::wstring join(std::wstring_view directory, std::wstring_view name) {
  std::wstring path(directory);
  if (!path.empty() && !is_separator(path.back())) {
    path += L'\\';
  }
  path += name;
  return path;
}

std::string utf8(std::wstring_view text) { return utf16_to_utf8_lossy(text); }

// Opens a file or directory for reading its attributes, following links.
UniqueFileHandle open_for_attributes(const std::wstring& path) {
  return UniqueFileHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

enum class EntryKind : std::uint8_t { absent, regular_file, directory, other };

// What a path names, links followed, as told by the opened entry itself.
EntryKind entry_kind(const std::wstring& path) {
  const UniqueFileHandle entry = open_for_attributes(path);
  if (!entry) {
    return EntryKind::absent;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(entry.get(), &information)) {
    return EntryKind::other;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return EntryKind::directory;
  }
  return GetFileType(entry.get()) == FILE_TYPE_DISK ? EntryKind::regular_file : EntryKind::other;
}

// The canonical path of an existing entry, links resolved (\\?\C:\… form), or nothing.
std::optional<std::wstring> canonical_path(const std::wstring& path) {
  const UniqueFileHandle entry = open_for_attributes(path);
  if (!entry) {
    return std::nullopt;
  }
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(entry.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
      return std::nullopt;
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);  // the size needed, terminating null included
  }
  return std::nullopt;
}

// The running executable's path, however long.
std::optional<std::wstring> executable_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return std::nullopt;
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= kLongestPath) {
      return std::nullopt;
    }
    buffer.resize(buffer.size() * 2);  // truncated: try again with more room
  }
}

// An environment variable's value; nothing when it is unset or empty.
std::optional<std::wstring> environment_variable(const wchar_t* name) {
  std::wstring value;
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  for (int attempt = 0; attempt < 3 && size > 0; ++attempt) {
    value.resize(size);
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    if (length < size) {
      value.resize(length);
      return value.empty() ? std::nullopt : std::optional<std::wstring>(std::move(value));
    }
    size = length;  // it grew in between
  }
  return std::nullopt;
}

// A small file's bytes; why not when it cannot be read or is too large.
Result<std::string> read_small_file(const std::wstring& path) {
  const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) {
    return fail("read " + utf8(path) + ": " + last_error_text());
  }
  if (size.QuadPart < 0 || size.QuadPart > kVersionFileLimit) {
    return fail("read " + utf8(path) + ": the file is too large");
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr)) {
      return fail("read " + utf8(path) + ": " + last_error_text());
    }
    if (got == 0) {
      break;
    }
    done += got;
  }
  bytes.resize(done);
  return bytes;
}

// Creates a directory and every missing parent, one level at a time.
bool create_directories(const std::wstring& path) {
  std::size_t position = root_length(path);
  while (position < path.size()) {
    std::size_t level_end = path.find_first_of(L"\\/", position);
    if (level_end == std::wstring::npos) {
      level_end = path.size();
    }
    if (level_end > position) {
      const std::wstring level = path.substr(0, level_end);
      if (!CreateDirectoryW(level.c_str(), nullptr) && entry_kind(level) != EntryKind::directory) {
        return false;
      }
    }
    position = level_end + 1;
  }
  return true;
}

// Best effort: GST_REGISTRY_1_0 in %LOCALAPPDATA%\Corvane\gstreamer, one file per runtime version.
void configure_registry_cache(const std::wstring& runtime_root) {
  const std::optional<std::wstring> local_data = environment_variable(L"LOCALAPPDATA");
  if (!local_data) {
    return;
  }
  // Without the file (or with an unreadable one) the cache has the name of a runtime of no version.
  const Result<std::string> version_file = read_small_file(join(runtime_root, L"CORVANE_GSTREAMER_VERSION"));
  const std::string version = version_file ? *version_file : std::string();
  const std::wstring directory = join(join(*local_data, L"Corvane"), L"gstreamer");
  if (!create_directories(directory)) {
    return;
  }
  const std::string name = registry_file_name(version);
  SetEnvironmentVariableW(L"GST_REGISTRY_1_0", join(directory, utf8_to_utf16<wchar_t>(name)).c_str());
}

// Sets one of GStreamer's path variables.
Status configure_path_variable(const char* name, const std::wstring& value) {
  if (SetEnvironmentVariableW(utf8_to_utf16<wchar_t>(name).c_str(), value.c_str())) {
    return Done{};
  }
  return fail(std::string("could not configure the ") + name + " media path");
}

// The three libraries of a loaded runtime, released core first, then GLib, then GObject.
class LoadedLibraries final : public RuntimeLibraries {
 public:
  ~LoadedLibraries() override {
    core.reset();
    glib.reset();
    gobject.reset();
  }

  UniqueModule core;
  UniqueModule glib;
  UniqueModule gobject;
};

// Loads `name` from the library directory by full path.
Result<UniqueModule> load_library(const std::wstring& library_directory, const wchar_t* name) {
  // Paths reach LoadLibraryExW, and messages, in display form (no \\?\ prefix): the form people
  // read, and the one LOAD_WITH_ALTERED_SEARCH_PATH takes the dependencies' directory from. (So a
  // runtime deeper than MAX_PATH does not load; GLib could not use such paths either.)
  const std::wstring path = display_path(join(library_directory, name));
  if (!is_absolute(path) || entry_kind(path) != EntryKind::regular_file) {
    return fail("required media runtime file is missing: " + utf8(path));
  }
  UniqueModule module(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module) {
    return fail("could not load media runtime file: " + utf8(path));
  }
  return module;
}

MediaRuntime failed(std::string message) {
  MediaRuntime runtime;
  runtime.runtime_error = std::move(message);
  return runtime;
}

}  // namespace

std::string registry_file_name(std::string_view version_file) {
  std::string version;
  if (utf8_valid(version_file)) {
    for (const char c : trim_unicode_white_space(version_file)) {
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.') {
        version += c;
      }
    }
  }
  return version.empty() ? "registry.bin" : "registry-" + version + ".bin";
}

std::wstring display_path(std::wstring_view path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) {
    return L"\\\\" + std::wstring(path.substr(8));
  }
  if (path.starts_with(L"\\\\?\\") && root_length(path.substr(4)) != 0) {
    return std::wstring(path.substr(4));
  }
  return std::wstring(path);
}

MediaRuntime load_media_runtime() {
  const std::optional<std::wstring> executable = executable_path();
  const std::optional<std::wstring> directory = executable ? parent_directory(*executable) : std::nullopt;
  if (!directory) {
    return failed(kRuntimeNotFound);
  }
  return load_media_runtime_from(*directory);
}

MediaRuntime load_media_runtime_from(const std::wstring& executable_directory) {
  if (!is_absolute(executable_directory)) {
    return failed(kRuntimeNotFound);
  }

  // Only the runtime beside the executable, wherever its links lead; no other place is tried.
  const std::optional<std::wstring> canonical_library_directory =
      canonical_path(join(join(executable_directory, L"gstreamer"), L"bin"));
  if (!canonical_library_directory || !is_absolute(*canonical_library_directory) ||
      entry_kind(join(*canonical_library_directory, kCoreLibrary)) != EntryKind::regular_file) {
    return failed(kRuntimeNotFound);
  }
  const std::optional<std::wstring> canonical_root = parent_directory(*canonical_library_directory);
  if (!canonical_root) {
    return failed(kRootInvalid);
  }
  const std::wstring plugin_directory = join(join(*canonical_root, L"lib"), L"gstreamer-1.0");
  if (entry_kind(plugin_directory) != EntryKind::directory) {
    return failed(kPluginDirectoryMissing);
  }

  // What GStreamer and the system are given is in display form (no \\?\ prefix): GLib handles
  // ordinary Windows paths.
  const std::wstring library_directory = display_path(*canonical_library_directory);
  if (!SetDllDirectoryW(library_directory.c_str())) {
    return failed(kSearchPathFailed);
  }
  const std::wstring plugin_path = display_path(plugin_directory);
  for (const char* variable : {"GST_PLUGIN_PATH_1_0", "GST_PLUGIN_SYSTEM_PATH_1_0"}) {
    if (const Status configured = configure_path_variable(variable, plugin_path); !configured) {
      return failed(configured.error());
    }
  }
  const std::wstring scanner =
      join(join(join(*canonical_root, L"libexec"), L"gstreamer-1.0"), L"gst-plugin-scanner.exe");
  if (entry_kind(scanner) == EntryKind::regular_file) {
    if (const Status configured = configure_path_variable("GST_PLUGIN_SCANNER_1_0", display_path(scanner));
        !configured) {
      return failed(configured.error());
    }
  }
  configure_registry_cache(*canonical_root);

  auto libraries = std::make_unique<LoadedLibraries>();
  for (auto [name, module] : {std::pair{kCoreLibrary, &libraries->core}, std::pair{kGlibLibrary, &libraries->glib},
                              std::pair{kGobjectLibrary, &libraries->gobject}}) {
    Result<UniqueModule> loaded = load_library(library_directory, name);
    if (!loaded) {
      return failed(loaded.error());  // `libraries` frees what this attempt loaded
    }
    *module = std::move(loaded).value();
  }

  const auto initialize =
      reinterpret_cast<GstInitCheck>(reinterpret_cast<void*>(GetProcAddress(libraries->core.get(), "gst_init_check")));
  if (initialize == nullptr) {
    return failed("media runtime symbol is missing: gst_init_check");
  }
  RuntimeSymbols symbols{};
  for (const RuntimeSymbolEntry& entry : runtime_symbol_entries()) {
    const HMODULE library = entry.library == RuntimeLibrary::core   ? libraries->core.get()
                            : entry.library == RuntimeLibrary::glib ? libraries->glib.get()
                                                                    : libraries->gobject.get();
    void* const address = reinterpret_cast<void*>(GetProcAddress(library, entry.name));
    if (address == nullptr) {
      return failed(std::string("media runtime symbol is missing: ") + entry.name);
    }
    store_runtime_symbol(symbols, entry, address);
  }

  GError* init_error = nullptr;
  const bool initialized = initialize(nullptr, nullptr, &init_error) != 0;
  std::string init_message = kInitFailed;
  if (init_error != nullptr) {
    if (init_error->message != nullptr && init_error->message[0] != '\0') {
      init_message = repair_utf8(init_error->message);
    }
    symbols.g_error_free(init_error);
  }
  if (!initialized) {
    return failed(std::move(init_message));
  }

  MediaRuntime runtime;
  runtime.symbols = symbols;
  runtime.libraries = std::move(libraries);
  return runtime;
}

}  // namespace corvane::helper
