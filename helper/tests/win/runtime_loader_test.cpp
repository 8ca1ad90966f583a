// The media runtime loader against the stand-in runtime (standins/gstreamer). Each case lays out a
// fresh "installation" under %TEMP% (app\ with gstreamer\bin, gstreamer\lib\gstreamer-1.0, …). Loads
// that change the process (environment variables, the DLL directory, loaded libraries) run in a
// runtime_probe.exe copied into app\, started with a controlled environment; checks that end before
// any change call load_media_runtime_from in this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"
#include "common/unicode.h"
#include "scoped_variable.h"
#include "windows/media/runtime_loader.h"

namespace corvane::testing {
namespace {

using helper::load_media_runtime_from;

constexpr const char* kNotFound = "the bundled GStreamer runtime was not found beside the media helper";
constexpr const char* kPluginDirectoryMissing = "the GStreamer plugin directory is missing";
constexpr const char* kMissingFile = "required media runtime file is missing: ";
constexpr const char* kUnset = "<unset>";

// The table's entry points in their order, for checking what the probe's calls reached.
const std::vector<std::string> kTableOrder = {"gst_version_string",
                                              "gst_element_factory_find",
                                              "gst_parse_launch",
                                              "gst_element_set_state",
                                              "gst_element_get_state",
                                              "gst_element_get_bus",
                                              "gst_bin_get_by_name",
                                              "gst_bus_timed_pop_filtered",
                                              "gst_message_parse_error",
                                              "gst_object_unref",
                                              "gst_mini_object_unref",
                                              "gst_buffer_get_size",
                                              "gst_util_set_object_arg",
                                              "g_error_free",
                                              "g_free",
                                              "g_signal_connect_data"};

std::string utf8(std::wstring_view text) { return utf16_to_utf8_lossy(text); }
std::wstring wide(std::string_view text) { return utf8_to_utf16<wchar_t>(text); }

// Where the build put the stand-in runtime (CMake passes it relative to this executable).
std::wstring fake_runtime_directory(const std::wstring& variant = L"") {
  std::wstring relative = wide(CORVANE_STANDIN_GSTREAMER_DIR);
  for (auto& c : relative) {
    c = c == L'/' ? L'\\' : c;
  }
  return executable_directory() + relative + L"\\" + (variant.empty() ? L"" : variant + L"\\");
}

bool write_file(const std::wstring& path, std::string_view bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::string read_file(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string bytes;
  if (file == INVALID_HANDLE_VALUE) {
    return bytes;
  }
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    bytes.append(buffer, got);
  }
  CloseHandle(file);
  return bytes;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

bool is_directory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The path of an existing entry as the system resolves it (links followed), without \\?\.
std::string canonical(const std::wstring& path) {
  HANDLE entry = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (entry == INVALID_HANDLE_VALUE) {
    return "<cannot open " + utf8(path) + ">";
  }
  wchar_t buffer[2048];
  const DWORD length = GetFinalPathNameByHandleW(entry, buffer, 2048, FILE_NAME_NORMALIZED);
  CloseHandle(entry);
  std::wstring_view result(buffer, length < 2048 ? length : 0);
  if (result.starts_with(L"\\\\?\\")) {
    result.remove_prefix(4);
  }
  return utf8(result);
}

// Wine's bridge to Linux: wine_get_unix_file_name (kernel32) translates a path, __wine_unix_spawnvp
// (ntdll) runs a Linux program, waits for it and returns its exit status. Nothing outside Wine.
struct WineUnixBridge {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  using UnixSpawn = LONG(CDECL*)(char* const* argv, int wait);
  UnixFileName unix_file_name = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  UnixSpawn unix_spawn = reinterpret_cast<UnixSpawn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));

  bool available() const { return unix_file_name != nullptr && unix_spawn != nullptr; }

  // Runs `program` with the options and the Linux forms of `paths`; its exit status (-1: not run).
  LONG run(const char* program, const std::vector<std::string>& options, const std::vector<std::wstring>& paths) const {
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), options.begin(), options.end());
    for (const auto& path : paths) {
      char* unix_path = unix_file_name(path.c_str());
      if (unix_path == nullptr) {
        return -1;
      }
      arguments.emplace_back(unix_path);
      HeapFree(GetProcessHeap(), 0, unix_path);
    }
    std::vector<char*> argv;
    for (auto& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return unix_spawn(argv.data(), 1);
  }
};

// Makes `link` a symbolic link to the directory `target`. Wine 8.0's CreateSymbolicLinkW reports
// success and creates nothing, so under Wine the link is made on the Linux side with /bin/ln -s
// through Wine's bridge; elsewhere with CreateSymbolicLinkW.
bool make_directory_link(const std::wstring& target, const std::wstring& link, std::string& why) {
  const WineUnixBridge wine;
  if (wine.available()) {
    if (const LONG status = wine.run("/bin/ln", {"-s"}, {target, link}); status != 0) {
      why = "ln -s failed: " + std::to_string(status);
      return false;
    }
  } else if (!CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                  SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    why = "CreateSymbolicLinkW failed: " + std::to_string(GetLastError());
    return false;
  }
  const DWORD attributes = GetFileAttributesW(link.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    why = "the link does not show as a reparse point";
    return false;
  }
  return true;
}

// Removes a directory link itself. Wine 8.0's RemoveDirectoryW and DeleteFileW both fail on a Linux
// link to a directory, so /bin/rm removes it there.
void remove_directory_link(const std::wstring& link) {
  const WineUnixBridge wine;
  if (wine.available()) {
    wine.run("/bin/rm", {"-f"}, {link});
  } else {
    RemoveDirectoryW(link.c_str());
  }
}

// Removes a directory tree; links are removed, never followed.
void remove_tree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    remove_directory_link(path);
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW entry{};
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring_view name = entry.cFileName;
      if (name != L"." && name != L"..") {
        remove_tree(path + L"\\" + std::wstring(name));
      }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryW(path.c_str());
}

// What a probe run left: its "name=value" lines and the stand-in's record.
struct ProbeReport {
  bool finished = false;
  DWORD exit_code = 0;
  std::string output;
  std::map<std::string, std::string> values;
  std::vector<std::string> record;

  std::string value(const std::string& name) const {
    const auto found = values.find(name);
    return found == values.end() ? "<no line " + name + ">" : found->second;
  }
  // The values of the record's "env NAME=value" and "dll-directory value" lines.
  std::map<std::string, std::string> recorded_environment() const {
    std::map<std::string, std::string> environment;
    for (const auto& line : record) {
      if (line.starts_with("env ")) {
        const std::size_t equals = line.find('=');
        environment[line.substr(4, equals - 4)] = line.substr(equals + 1);
      } else if (line.starts_with("dll-directory ")) {
        environment["dll-directory"] = line.substr(14);
      }
    }
    return environment;
  }
  // The record's lines that start with `word`.
  std::vector<std::string> lines_starting(const std::string& word) const {
    std::vector<std::string> found;
    for (const auto& line : record) {
      if (line.starts_with(word)) {
        found.push_back(line);
      }
    }
    return found;
  }
};

// One laid-out installation under %TEMP%: case\app\runtime_probe.exe, case\app\gstreamer\bin\*.dll,
// case\app\gstreamer\lib\gstreamer-1.0; the script, the record and LOCALAPPDATA beside app\.
class RuntimeLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    ASSERT_GT(length, 0u);
    static int counter = 0;
    case_ = std::wstring(temp, length) + L"corvane-runtime-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    remove_tree(case_);
    app_ = case_ + L"\\app";
    runtime_ = app_ + L"\\gstreamer";
    bin_ = runtime_ + L"\\bin";
    plugins_ = runtime_ + L"\\lib\\gstreamer-1.0";
    local_data_ = case_ + L"\\local";
    ASSERT_TRUE(CreateDirectoryW(case_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(app_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(local_data_.c_str(), nullptr));
  }

  void TearDown() override { remove_tree(case_); }

  // Creates a directory and its missing parents.
  static void make_directories(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
      CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
    ASSERT_TRUE(is_directory(path)) << utf8(path);
  }

  // Copies stand-in libraries into a directory (the three by default).
  static void copy_libraries(const std::wstring& directory,
                             const std::vector<std::wstring>& names = {L"gstreamer-1.0-0.dll", L"glib-2.0-0.dll",
                                                                       L"gobject-2.0-0.dll"},
                             const std::wstring& variant = L"") {
    for (const auto& name : names) {
      const std::wstring source = fake_runtime_directory(name == L"gstreamer-1.0-0.dll" ? variant : L"") + name;
      ASSERT_TRUE(CopyFileW(source.c_str(), (directory + L"\\" + name).c_str(), FALSE))
          << utf8(source) << " (build the stand-in runtime)";
    }
  }

  // A complete installation: the three libraries and the plug-in directory.
  void lay_out_runtime() {
    make_directories(bin_);
    copy_libraries(bin_);
    make_directories(plugins_);
  }

  void add_scanner() {
    make_directories(runtime_ + L"\\libexec\\gstreamer-1.0");
    ASSERT_TRUE(write_file(scanner_path(), "not a program"));
  }
  std::wstring scanner_path() const { return runtime_ + L"\\libexec\\gstreamer-1.0\\gst-plugin-scanner.exe"; }

  void write_script(std::string_view text) { ASSERT_TRUE(write_file(case_ + L"\\script.txt", text)); }

  // Runs the probe copied into app\ with the stand-in's script and record beside app\, GStreamer's
  // variables cleared (Wine passes the Linux environment on) or preset, and LOCALAPPDATA as given.
  ProbeReport run_probe(const std::optional<std::wstring>& local_data, const std::vector<std::wstring>& arguments = {},
                        const std::optional<std::wstring>& preset_scanner = std::nullopt) {
    ProbeReport report;
    const std::wstring probe = app_ + L"\\runtime_probe.exe";
    if (GetFileAttributesW(probe.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !CopyFileW((executable_directory() + L"runtime_probe.exe").c_str(), probe.c_str(), FALSE)) {
      ADD_FAILURE() << "cannot copy runtime_probe.exe";
      return report;
    }
    const std::wstring record_path = case_ + L"\\record.txt";
    DeleteFileW(record_path.c_str());
    ScopedVariable script(L"CORVANE_STANDIN_GST_SCRIPT", case_ + L"\\script.txt");
    ScopedVariable record(L"CORVANE_STANDIN_GST_RECORD", record_path);
    ScopedVariable local(L"LOCALAPPDATA", local_data);
    ScopedVariable plugin_path(L"GST_PLUGIN_PATH_1_0", std::nullopt);
    ScopedVariable system_path(L"GST_PLUGIN_SYSTEM_PATH_1_0", std::nullopt);
    ScopedVariable scanner(L"GST_PLUGIN_SCANNER_1_0", preset_scanner);
    ScopedVariable registry(L"GST_REGISTRY_1_0", std::nullopt);
    ChildProcess child(probe, arguments);
    if (!child.started()) {
      ADD_FAILURE() << child.start_error();
      return report;
    }
    const ChildOutcome outcome = child.wait();
    report.finished = outcome.finished;
    report.exit_code = outcome.exit_code;
    report.output = outcome.standard_output;
    for (const auto& line : lines_of(outcome.standard_output)) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) {
        report.values[line.substr(0, equals)] = line.substr(equals + 1);
      }
    }
    report.record = lines_of(read_file(record_path));
    EXPECT_TRUE(report.finished) << "the probe did not end";
    EXPECT_EQ(report.exit_code, 0u) << outcome.standard_error;
    return report;
  }

  ProbeReport run_probe() { return run_probe(local_data_); }

  std::string registry_directory() const { return utf8(local_data_) + "\\Corvane\\gstreamer"; }

  std::wstring case_;
  std::wstring app_;
  std::wstring runtime_;
  std::wstring bin_;
  std::wstring plugins_;
  std::wstring local_data_;
};

// ---- where the runtime is looked for (in-process: nothing changes before these checks fail) ----

class RuntimeLocation : public RuntimeLayout {};

TEST_F(RuntimeLocation, WithoutGstreamerBinTheRuntimeIsNotFound) {
  make_directories(plugins_);
  EXPECT_EQ(load_media_runtime_from(app_).runtime_error, kNotFound);
}

TEST_F(RuntimeLocation, ABinDirectoryWithoutTheCoreLibraryIsNotTheRuntime) {
  lay_out_runtime();
  ASSERT_TRUE(DeleteFileW((bin_ + L"\\gstreamer-1.0-0.dll").c_str()));
  EXPECT_EQ(load_media_runtime_from(app_).runtime_error, kNotFound);
}

TEST_F(RuntimeLocation, ACoreLibraryThatIsADirectoryIsNotTheRuntime) {
  make_directories(bin_ + L"\\gstreamer-1.0-0.dll");
  copy_libraries(bin_, {L"glib-2.0-0.dll", L"gobject-2.0-0.dll"});
  make_directories(plugins_);
  EXPECT_EQ(load_media_runtime_from(app_).runtime_error, kNotFound);
}

TEST_F(RuntimeLocation, LibrariesBesideTheExecutableButNotInGstreamerBinAreNotUsed) {
  copy_libraries(app_);
  make_directories(runtime_ + L"\\lib\\gstreamer-1.0");
  EXPECT_EQ(load_media_runtime_from(app_).runtime_error, kNotFound);
}

TEST_F(RuntimeLocation, ARelativeOrEmptyExecutableDirectoryIsRefused) {
  lay_out_runtime();
  EXPECT_EQ(load_media_runtime_from(L"").runtime_error, kNotFound);
  EXPECT_EQ(load_media_runtime_from(L"app").runtime_error, kNotFound);
}

TEST_F(RuntimeLocation, AMissingPluginDirectoryFailsBeforeAnythingIsConfigured) {
  make_directories(bin_);
  copy_libraries(bin_);
  make_directories(runtime_ + L"\\lib");
  wchar_t before[MAX_PATH] = L"";
  const DWORD before_length = GetDllDirectoryW(MAX_PATH, before);
  const auto runtime = load_media_runtime_from(app_ + L"\\");  // a trailing backslash is fine
  EXPECT_FALSE(runtime.available());
  EXPECT_EQ(runtime.runtime_error, kPluginDirectoryMissing);
  wchar_t after[MAX_PATH] = L"";
  EXPECT_EQ(GetDllDirectoryW(MAX_PATH, after), before_length);
  EXPECT_EQ(std::wstring(after), std::wstring(before));
  EXPECT_EQ(GetModuleHandleW(L"gstreamer-1.0-0.dll"), nullptr);
}

TEST_F(RuntimeLocation, APluginPathThatIsAFileIsMissing) {
  make_directories(bin_);
  copy_libraries(bin_);
  make_directories(runtime_ + L"\\lib");
  ASSERT_TRUE(write_file(plugins_, "a file"));
  EXPECT_EQ(load_media_runtime_from(app_).runtime_error, kPluginDirectoryMissing);
}

// ---- the same failures in a fresh process: nothing is configured ----

TEST_F(RuntimeLocation, AMissingCoreLibrarySetsNoVariableAndNoDllDirectory) {
  lay_out_runtime();
  ASSERT_TRUE(DeleteFileW((bin_ + L"\\gstreamer-1.0-0.dll").c_str()));
  add_scanner();
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("error"), kNotFound);
  for (const char* name :
       {"GST_PLUGIN_PATH_1_0", "GST_PLUGIN_SYSTEM_PATH_1_0", "GST_PLUGIN_SCANNER_1_0", "GST_REGISTRY_1_0"}) {
    EXPECT_EQ(report.value(name), kUnset) << name;
  }
  EXPECT_EQ(report.value("dll-directory"), "<none>");
  EXPECT_FALSE(is_directory(local_data_ + L"\\Corvane"));
}

TEST_F(RuntimeLocation, AMissingPluginDirectoryLeavesTheDllDirectoryUnchanged) {
  lay_out_runtime();
  remove_tree(plugins_);
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("error"), kPluginDirectoryMissing);
  EXPECT_EQ(report.value("dll-directory"), "<none>");
  EXPECT_EQ(report.value("GST_PLUGIN_PATH_1_0"), kUnset);
  EXPECT_EQ(report.value("core"), "absent");
}

TEST_F(RuntimeLocation, ALinkedBinDirectoryPutsTheRootAtTheTargetsParent) {
  // app\gstreamer\bin -> case\elsewhere\runtime\bin; the runtime root is case\elsewhere\runtime.
  const std::wstring elsewhere = case_ + L"\\elsewhere\\runtime";
  make_directories(elsewhere + L"\\bin");
  copy_libraries(elsewhere + L"\\bin");
  make_directories(elsewhere + L"\\lib\\gstreamer-1.0");
  make_directories(runtime_);
  make_directories(plugins_);  // a decoy: the root is not app\gstreamer
  std::string why;
  if (!make_directory_link(elsewhere + L"\\bin", bin_, why)) {
    GTEST_SKIP() << "cannot make a directory link here: " << why;
  }
  const ProbeReport report = run_probe();
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(report.value("dll-directory"), canonical(elsewhere + L"\\bin"));
  EXPECT_EQ(report.value("GST_PLUGIN_PATH_1_0"), canonical(elsewhere + L"\\lib\\gstreamer-1.0"));
  EXPECT_NE(report.value("GST_PLUGIN_PATH_1_0"), canonical(plugins_));
  const auto recorded = report.recorded_environment();
  EXPECT_EQ(recorded.at("GST_PLUGIN_PATH_1_0"), report.value("GST_PLUGIN_PATH_1_0"));
  EXPECT_EQ(recorded.at("dll-directory"), report.value("dll-directory"));
}

TEST_F(RuntimeLocation, ALinkedBinDirectoryWhoseTargetHasNoPluginDirectoryFails) {
  const std::wstring elsewhere = case_ + L"\\elsewhere\\runtime";
  make_directories(elsewhere + L"\\bin");
  copy_libraries(elsewhere + L"\\bin");
  make_directories(runtime_);
  make_directories(plugins_);  // beside the link, not beside its target
  std::string why;
  if (!make_directory_link(elsewhere + L"\\bin", bin_, why)) {
    GTEST_SKIP() << "cannot make a directory link here: " << why;
  }
  EXPECT_EQ(load_media_runtime_from(app_).runtime_error, kPluginDirectoryMissing);
}

// ---- what a load configures ----

class RuntimeConfiguration : public RuntimeLayout {};

TEST_F(RuntimeConfiguration, ACompleteRuntimeLoadsWithEverythingPointingIntoIt) {
  lay_out_runtime();
  const ProbeReport report = run_probe();
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  const std::string plugins = canonical(plugins_);
  EXPECT_EQ(report.value("dll-directory"), canonical(bin_));
  EXPECT_EQ(report.value("GST_PLUGIN_PATH_1_0"), plugins);
  EXPECT_EQ(report.value("GST_PLUGIN_SYSTEM_PATH_1_0"), plugins);
  EXPECT_EQ(report.value("GST_PLUGIN_SCANNER_1_0"), kUnset);
  EXPECT_EQ(report.value("GST_REGISTRY_1_0"), registry_directory() + "\\registry.bin");
  EXPECT_TRUE(is_directory(local_data_ + L"\\Corvane\\gstreamer"));
  EXPECT_EQ(report.value("core"), "loaded");
  EXPECT_EQ(report.value("glib"), "loaded");
  EXPECT_EQ(report.value("gobject"), "loaded");
  // What GStreamer saw when it was initialised is what the loader had set.
  const auto recorded = report.recorded_environment();
  ASSERT_EQ(report.lines_starting("gst_init_check"), std::vector<std::string>{"gst_init_check -> ok"});
  for (const char* name : {"GST_PLUGIN_PATH_1_0", "GST_PLUGIN_SYSTEM_PATH_1_0", "GST_PLUGIN_SCANNER_1_0",
                           "GST_REGISTRY_1_0", "dll-directory"}) {
    ASSERT_EQ(recorded.count(name), 1u) << name;
    EXPECT_EQ(recorded.at(name), report.value(name)) << name;
  }
}

TEST_F(RuntimeConfiguration, APresentScannerIsNamed) {
  lay_out_runtime();
  add_scanner();
  const ProbeReport report = run_probe();
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(report.value("GST_PLUGIN_SCANNER_1_0"), canonical(scanner_path()));
  EXPECT_EQ(report.recorded_environment().at("GST_PLUGIN_SCANNER_1_0"), canonical(scanner_path()));
}

TEST_F(RuntimeConfiguration, WithoutAScannerTheVariableIsLeftAsItWas) {
  lay_out_runtime();
  const ProbeReport report = run_probe(local_data_, {}, L"C:\\somewhere\\gst-plugin-scanner.exe");
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(report.value("GST_PLUGIN_SCANNER_1_0"), "C:\\somewhere\\gst-plugin-scanner.exe");
}

TEST_F(RuntimeConfiguration, AScannerPathThatIsADirectoryIsNotAScanner) {
  lay_out_runtime();
  make_directories(scanner_path());
  const ProbeReport report = run_probe();
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(report.value("GST_PLUGIN_SCANNER_1_0"), kUnset);
}

// ---- the registry cache ----

class RuntimeRegistryCache : public RuntimeLayout {
 protected:
  // The registry file name the probe reports for a version file with these bytes (none: no file).
  std::string registry_for(const std::optional<std::string>& version_file) {
    lay_out_runtime();
    if (version_file) {
      EXPECT_TRUE(write_file(runtime_ + L"\\CORVANE_GSTREAMER_VERSION", *version_file));
    }
    const ProbeReport report = run_probe();
    EXPECT_EQ(report.value("result"), "loaded") << report.output;
    const std::string registry = report.value("GST_REGISTRY_1_0");
    const std::string directory = registry_directory() + "\\";
    EXPECT_TRUE(registry.starts_with(directory)) << registry;
    EXPECT_EQ(report.recorded_environment()["GST_REGISTRY_1_0"], registry);
    return registry.substr(directory.size());
  }
};

TEST_F(RuntimeRegistryCache, AVersionWithALineFeedNamesTheFile) {
  EXPECT_EQ(registry_for("1.26.2\n"), "registry-1.26.2.bin");
}

TEST_F(RuntimeRegistryCache, CharactersOutsideTheAllowedSetAreDropped) {
  EXPECT_EQ(registry_for("1.26 (custom)/x"), "registry-1.26customx.bin");
}

TEST_F(RuntimeRegistryCache, AnEmptyVersionFileGivesThePlainName) { EXPECT_EQ(registry_for(""), "registry.bin"); }

TEST_F(RuntimeRegistryCache, AMissingVersionFileGivesThePlainName) {
  EXPECT_EQ(registry_for(std::nullopt), "registry.bin");
}

TEST_F(RuntimeRegistryCache, AVersionFileThatIsNotUtf8GivesThePlainName) {
  EXPECT_EQ(registry_for("1.26.2\xff\n"), "registry.bin");
}

TEST_F(RuntimeRegistryCache, UnicodeWhiteSpaceIsTrimmed) {
  // U+3000 and U+00A0 at the ends are trimmed; the U+2003 inside is dropped as not allowed.
  EXPECT_EQ(registry_for("\xe3\x80\x80 1.26\xe2\x80\x83.2\xc2\xa0"), "registry-1.26.2.bin");
}

TEST_F(RuntimeRegistryCache, AnUnreadableVersionFileGivesThePlainName) {
  make_directories(runtime_ + L"\\CORVANE_GSTREAMER_VERSION");  // a directory cannot be read as a file
  EXPECT_EQ(registry_for(std::nullopt), "registry.bin");
}

TEST_F(RuntimeRegistryCache, EveryMissingLevelOfTheDirectoryIsCreated) {
  lay_out_runtime();
  const std::wstring deep = case_ + L"\\not\\yet\\there";
  const ProbeReport report = run_probe(deep);
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_TRUE(is_directory(deep + L"\\Corvane\\gstreamer"));
  EXPECT_EQ(report.value("GST_REGISTRY_1_0"), utf8(deep) + "\\Corvane\\gstreamer\\registry.bin");
}

TEST_F(RuntimeRegistryCache, WithoutLocalAppDataThereIsNoRegistryVariableAndTheLoadSucceeds) {
  lay_out_runtime();
  const ProbeReport report = run_probe(std::nullopt);
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(report.value("GST_REGISTRY_1_0"), kUnset);
  EXPECT_EQ(report.recorded_environment()["GST_REGISTRY_1_0"], kUnset);
}

TEST_F(RuntimeRegistryCache, AnEmptyLocalAppDataCountsAsUnset) {
  // Taken literally it would put the cache under the current directory.
  lay_out_runtime();
  const ProbeReport report = run_probe(L"");
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(report.value("GST_REGISTRY_1_0"), kUnset);
}

TEST_F(RuntimeRegistryCache, ADirectoryThatCannotBeCreatedIsSkippedAndTheLoadSucceeds) {
  lay_out_runtime();
  ASSERT_TRUE(write_file(case_ + L"\\blocker", "a file where a directory would go"));
  const ProbeReport report = run_probe(case_ + L"\\blocker\\below");
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(report.value("GST_REGISTRY_1_0"), kUnset);
}

TEST(RuntimeRegistryFileName, FollowsTheVersionText) {
  EXPECT_EQ(helper::registry_file_name("1.26.2\n"), "registry-1.26.2.bin");
  EXPECT_EQ(helper::registry_file_name("\t 1.26.2-rc1 \r\n"), "registry-1.26.2-rc1.bin");
  EXPECT_EQ(helper::registry_file_name("1.26 (custom)/x"), "registry-1.26customx.bin");
  EXPECT_EQ(helper::registry_file_name("  \n"), "registry.bin");
  EXPECT_EQ(helper::registry_file_name("()/\\"), "registry.bin");
  EXPECT_EQ(helper::registry_file_name("\xc3\xa9t\xc3\xa9"), "registry-t.bin");
  EXPECT_EQ(helper::registry_file_name(std::string_view("1.2\0x", 5)), "registry-1.2x.bin");
  EXPECT_EQ(helper::registry_file_name("1.2\xc0\xaf"), "registry.bin");  // an overlong form is not UTF-8
}

TEST(RuntimeDisplayPath, StripsOnlyTheLongPathPrefix) {
  EXPECT_EQ(helper::display_path(L"\\\\?\\C:\\a\\b"), L"C:\\a\\b");
  EXPECT_EQ(helper::display_path(L"\\\\?\\UNC\\server\\share\\x"), L"\\\\server\\share\\x");
  EXPECT_EQ(helper::display_path(L"C:\\a"), L"C:\\a");
  EXPECT_EQ(helper::display_path(L"\\\\?\\Volume{1234}\\x"), L"\\\\?\\Volume{1234}\\x");
}

// ---- loading the three libraries ----

class RuntimeLibraryLoading : public RuntimeLayout {};

TEST_F(RuntimeLibraryLoading, AMissingGlibIsNamedAndTheLoadedCoreIsFreedAgain) {
  lay_out_runtime();
  ASSERT_TRUE(DeleteFileW((bin_ + L"\\glib-2.0-0.dll").c_str()));
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("error"), kMissingFile + canonical(bin_) + "\\glib-2.0-0.dll");
  EXPECT_EQ(report.value("core"), "absent");
  EXPECT_EQ(report.lines_starting("unload"), std::vector<std::string>{"unload gstreamer-1.0-0.dll"});
  EXPECT_TRUE(report.lines_starting("gst_init_check").empty());
  // The steps before the failure keep their effects.
  EXPECT_EQ(report.value("dll-directory"), canonical(bin_));
  EXPECT_EQ(report.value("GST_PLUGIN_PATH_1_0"), canonical(plugins_));
  EXPECT_EQ(report.value("GST_REGISTRY_1_0"), registry_directory() + "\\registry.bin");
}

TEST_F(RuntimeLibraryLoading, AMissingGobjectFreesCoreAndGlib) {
  lay_out_runtime();
  ASSERT_TRUE(DeleteFileW((bin_ + L"\\gobject-2.0-0.dll").c_str()));
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("error"), kMissingFile + canonical(bin_) + "\\gobject-2.0-0.dll");
  EXPECT_EQ(report.value("core"), "absent");
  EXPECT_EQ(report.value("glib"), "absent");
  EXPECT_EQ(report.lines_starting("unload").size(), 2u);
}

TEST_F(RuntimeLibraryLoading, ACoreThatDoesNotLoadIsReportedByPath) {
  lay_out_runtime();
  ASSERT_TRUE(write_file(bin_ + L"\\gstreamer-1.0-0.dll", "not a library"));
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("error"), "could not load media runtime file: " + canonical(bin_) + "\\gstreamer-1.0-0.dll");
  EXPECT_EQ(report.value("core"), "absent");
}

TEST_F(RuntimeLibraryLoading, ACoreImportingGlibFindsItInTheLibraryDirectory) {
  make_directories(bin_);
  copy_libraries(bin_, {L"gstreamer-1.0-0.dll", L"glib-2.0-0.dll", L"gobject-2.0-0.dll"}, L"importing-glib");
  make_directories(plugins_);
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("result"), "loaded") << report.output;
}

TEST_F(RuntimeLibraryLoading, ACoreWhoseImportIsMissingDoesNotLoad) {
  make_directories(bin_);
  copy_libraries(bin_, {L"gstreamer-1.0-0.dll", L"gobject-2.0-0.dll"}, L"importing-glib");
  make_directories(plugins_);
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("error"), "could not load media runtime file: " + canonical(bin_) + "\\gstreamer-1.0-0.dll");
}

TEST_F(RuntimeLibraryLoading, ReleasingTheRuntimeFreesCoreThenGlibThenGobject) {
  lay_out_runtime();
  const ProbeReport report = run_probe();
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_EQ(
      report.lines_starting("unload"),
      (std::vector<std::string>{"unload gstreamer-1.0-0.dll", "unload glib-2.0-0.dll", "unload gobject-2.0-0.dll"}));
  EXPECT_EQ(report.value("released-core"), "absent");
  EXPECT_EQ(report.value("released-glib"), "absent");
  EXPECT_EQ(report.value("released-gobject"), "absent");
}

// ---- entry points ----

class RuntimeEntryPoints : public RuntimeLayout {};

TEST_F(RuntimeEntryPoints, AMissingEntryPointIsNamedAndNothingStaysLoaded) {
  make_directories(bin_);
  copy_libraries(bin_, {L"gstreamer-1.0-0.dll", L"glib-2.0-0.dll", L"gobject-2.0-0.dll"},
                 L"without-gst_bin_get_by_name");
  make_directories(plugins_);
  const ProbeReport report = run_probe();
  EXPECT_EQ(report.value("error"), "media runtime symbol is missing: gst_bin_get_by_name");
  EXPECT_EQ(report.value("core"), "absent");
  EXPECT_EQ(report.value("glib"), "absent");
  EXPECT_EQ(report.value("gobject"), "absent");
  EXPECT_TRUE(report.lines_starting("gst_init_check").empty()) << "initialised despite a missing entry point";
}

TEST_F(RuntimeEntryPoints, EverySlotCallsItsOwnEntryPoint) {
  lay_out_runtime();
  write_script(
      "# the probe's pipeline gets an error on its bus; x264enc exists; identity 'tap' hands off 3 buffers\n"
      "version GStreamer 1.26.2 (stand-in)\n"
      "factory x264enc\n"
      "bus videotestsrc -> error Resource not found. | gstfilesrc.c(1): /GstPipeline:pipeline0/GstFileSrc:src\n"
      "set-state videotestsrc -> async\n"
      "handoff tap 3 100\n");
  const ProbeReport report = run_probe(local_data_, {L"--exercise"});
  ASSERT_EQ(report.value("result"), "loaded") << report.output;
  EXPECT_TRUE(report.lines_starting("script-error").empty());
  // The calls after initialisation, in order, reached the entry points of the table's order.
  std::vector<std::string> called;
  bool initialised = false;
  for (const auto& line : report.record) {
    if (line.starts_with("gst_init_check")) {
      initialised = true;
    } else if (initialised && !line.starts_with("env ") && !line.starts_with("dll-directory ") &&
               called.size() < kTableOrder.size()) {
      called.push_back(line.substr(0, line.find(' ')));
    }
  }
  EXPECT_EQ(called, kTableOrder);
  // What the stand-in returned came through.
  EXPECT_EQ(report.value("version"), "GStreamer 1.26.2 (stand-in)");
  EXPECT_EQ(report.value("factory"), "found");
  EXPECT_EQ(report.value("pipeline"), "ok");
  EXPECT_EQ(report.value("set-state"), "2");
  EXPECT_EQ(report.value("get-state"), "1 4 0");
  EXPECT_EQ(report.value("tap"), "found");
  EXPECT_EQ(report.value("message-type"), "2");
  EXPECT_EQ(report.value("error-message"), "Resource not found.");
  EXPECT_EQ(report.value("error-debug"), "gstfilesrc.c(1): /GstPipeline:pipeline0/GstFileSrc:src");
  EXPECT_EQ(report.value("handler"), "1");
  EXPECT_EQ(report.value("handoffs"), "3 300");
  EXPECT_EQ(report.lines_starting("g_error_free"), std::vector<std::string>{"g_error_free Resource not found."});
}

// ---- initialisation ----

class RuntimeInitialisation : public RuntimeLayout {
 protected:
  ProbeReport run_with_script(std::string_view script) {
    lay_out_runtime();
    write_script(script);
    return run_probe();
  }
};

TEST_F(RuntimeInitialisation, AFailureWithATextReportsItAndFreesEverything) {
  const ProbeReport report = run_with_script("init fail the plugin registry is corrupt\n");
  EXPECT_EQ(report.value("error"), "the plugin registry is corrupt");
  EXPECT_EQ(report.lines_starting("g_error_free"),
            std::vector<std::string>{"g_error_free the plugin registry is corrupt"});
  EXPECT_EQ(
      report.lines_starting("unload"),
      (std::vector<std::string>{"unload gstreamer-1.0-0.dll", "unload glib-2.0-0.dll", "unload gobject-2.0-0.dll"}));
  EXPECT_EQ(report.value("core"), "absent");
  EXPECT_EQ(report.value("glib"), "absent");
  EXPECT_EQ(report.value("gobject"), "absent");
}

TEST_F(RuntimeInitialisation, InvalidUtf8InTheTextIsReplaced) {
  const ProbeReport report = run_with_script("init fail bad \xff byte\n");
  EXPECT_EQ(report.value("error"), "bad \xef\xbf\xbd byte");
}

TEST_F(RuntimeInitialisation, AnErrorWithoutTextGivesTheGeneralMessage) {
  const ProbeReport report = run_with_script("init fail-no-text\n");
  EXPECT_EQ(report.value("error"), "GStreamer initialization failed");
  EXPECT_EQ(report.lines_starting("g_error_free"), std::vector<std::string>{"g_error_free <no text>"});
  EXPECT_EQ(report.value("core"), "absent");
}

TEST_F(RuntimeInitialisation, AFailureWithoutAnErrorGivesTheGeneralMessage) {
  const ProbeReport report = run_with_script("init fail-no-error\n");
  EXPECT_EQ(report.value("error"), "GStreamer initialization failed");
  EXPECT_TRUE(report.lines_starting("g_error_free").empty());
  EXPECT_EQ(report.value("core"), "absent");
}

// ---- the stand-in runtime itself (what later tests script), loaded directly in this process ----

class StandInRuntime : public RuntimeLayout {
 protected:
  void TearDown() override {
    for (HMODULE library : {core_, glib_}) {
      if (library != nullptr) {
        FreeLibrary(library);
      }
    }
    RuntimeLayout::TearDown();
  }

  template <class Function>
  Function entry(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  }

  HMODULE core_ = nullptr;
  HMODULE glib_ = nullptr;
};

TEST_F(StandInRuntime, FollowsItsScriptAndRecordsTheCalls) {
  write_script(
      "parse broken -> error no element \"nosuchelement\"\n"
      "parse partial -> partial no property \"x\" in element \"y\"\n"
      "bus first -> none\n"
      "bus first -> eos\n"
      "bus first -> error boom | details\n"
      "set-state first -> failure\n"
      "not a directive\n");
  const std::wstring record_path = case_ + L"\\record.txt";
  const ScopedVariable script(L"CORVANE_STANDIN_GST_SCRIPT", case_ + L"\\script.txt");
  const ScopedVariable record(L"CORVANE_STANDIN_GST_RECORD", record_path);
  ASSERT_EQ(GetModuleHandleW(L"gstreamer-1.0-0.dll"), nullptr);
  core_ = LoadLibraryW((fake_runtime_directory() + L"gstreamer-1.0-0.dll").c_str());
  glib_ = LoadLibraryW((fake_runtime_directory() + L"glib-2.0-0.dll").c_str());
  ASSERT_NE(core_, nullptr);
  ASSERT_NE(glib_, nullptr);
  const auto init = entry<helper::GstInitCheck>(core_, "gst_init_check");
  const auto parse = entry<decltype(helper::RuntimeSymbols::gst_parse_launch)>(core_, "gst_parse_launch");
  const auto set_state = entry<decltype(helper::RuntimeSymbols::gst_element_set_state)>(core_, "gst_element_set_state");
  const auto get_bus = entry<decltype(helper::RuntimeSymbols::gst_element_get_bus)>(core_, "gst_element_get_bus");
  const auto pop =
      entry<decltype(helper::RuntimeSymbols::gst_bus_timed_pop_filtered)>(core_, "gst_bus_timed_pop_filtered");
  const auto error_free = entry<decltype(helper::RuntimeSymbols::g_error_free)>(glib_, "g_error_free");
  ASSERT_TRUE(init && parse && set_state && get_bus && pop && error_free);

  helper::GError* error = nullptr;
  ASSERT_EQ(init(nullptr, nullptr, &error), 1);
  EXPECT_EQ(parse("broken ! fakesink", &error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error->message, "no element \"nosuchelement\"");
  error_free(error);
  error = nullptr;
  EXPECT_NE(parse("partial ! fakesink", &error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_STREQ(error->message, "no property \"x\" in element \"y\"");
  error_free(error);
  error = nullptr;
  auto* pipeline = parse("first name=a ! fakesink", &error);
  ASSERT_NE(pipeline, nullptr);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(set_state(pipeline, helper::kGstStatePlaying), helper::kGstStateChangeFailure);
  EXPECT_EQ(set_state(pipeline, helper::kGstStateNull), 1);
  auto* bus = get_bus(pipeline);
  // "none" is one empty pop; the EOS is dropped by an ERROR-only filter; then the queue is empty.
  EXPECT_EQ(pop(bus, 0, helper::kGstMessageEos | helper::kGstMessageError), nullptr);
  auto* message = pop(bus, 0, helper::kGstMessageError);
  ASSERT_NE(message, nullptr);
  std::uint32_t type = 0;
  std::memcpy(&type, reinterpret_cast<const unsigned char*>(message) + helper::kGstMessageTypeOffset, sizeof type);
  EXPECT_EQ(type, helper::kGstMessageError);
  EXPECT_EQ(pop(bus, 5, helper::kGstMessageEos | helper::kGstMessageError), nullptr);

  const std::vector<std::string> expected = {"script-error line 7: not a directive",
                                             "gst_init_check -> ok",
                                             "gst_parse_launch broken ! fakesink -> error",
                                             "g_error_free no element \"nosuchelement\"",
                                             "gst_parse_launch partial ! fakesink -> partial pipeline1",
                                             "g_error_free no property \"x\" in element \"y\"",
                                             "gst_parse_launch first name=a ! fakesink -> pipeline2",
                                             "gst_element_set_state pipeline2 PLAYING -> failure",
                                             "gst_element_set_state pipeline2 NULL -> success",
                                             "gst_element_get_bus pipeline2 -> bus:pipeline2",
                                             "gst_bus_timed_pop_filtered bus:pipeline2 timeout=0 types=3 -> none",
                                             "gst_bus_timed_pop_filtered bus:pipeline2 timeout=0 types=2 -> error boom",
                                             "gst_bus_timed_pop_filtered bus:pipeline2 timeout=5 types=3 -> none"};
  std::vector<std::string> recorded;
  for (const auto& line : lines_of(read_file(record_path))) {
    if (!line.starts_with("env ") && !line.starts_with("dll-directory ")) {
      recorded.push_back(line);
    }
  }
  EXPECT_EQ(recorded, expected);
}

}  // namespace
}  // namespace corvane::testing
