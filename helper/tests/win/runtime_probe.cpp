// Test program for the media runtime loader: loads the runtime beside itself (load_media_runtime) in
// a process of its own, then reports on standard output, one "name=value" line each:
//   result=loaded | error=<runtime_error>
//   GST_PLUGIN_PATH_1_0=… GST_PLUGIN_SYSTEM_PATH_1_0=… GST_PLUGIN_SCANNER_1_0=… GST_REGISTRY_1_0=…
//     (each "<unset>" when unset)
//   dll-directory=<GetDllDirectoryW, or <none>>
//   core=, glib=, gobject= loaded|absent (GetModuleHandleW after the load)
//   load-microseconds=<how long load_media_runtime took>
// With --exercise and a loaded runtime it then calls every entry point of the table once, in table
// order (the stand-in runtime records the calls), and reports what came back. Last, it releases the
// runtime and reports released-core=, released-glib=, released-gobject=.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "common/unicode.h"
#include "windows/media/runtime_loader.h"

namespace {

using corvane::helper::GError;
using corvane::helper::RuntimeSymbols;

const RuntimeSymbols* g_symbols = nullptr;
int g_handoffs = 0;
std::size_t g_handoff_bytes = 0;

void write_line(const std::string& name, const std::string& value) {
  const std::string line = name + "=" + value + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string variable(const wchar_t* name) {
  wchar_t value[32768];
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    return "<unset>";
  }
  return corvane::utf16_to_utf8_lossy(std::wstring_view(value, length < 32768 ? length : 0));
}

void report_environment() {
  for (const wchar_t* name :
       {L"GST_PLUGIN_PATH_1_0", L"GST_PLUGIN_SYSTEM_PATH_1_0", L"GST_PLUGIN_SCANNER_1_0", L"GST_REGISTRY_1_0"}) {
    write_line(corvane::utf16_to_utf8_lossy(std::wstring_view(name)), variable(name));
  }
  wchar_t directory[32768];
  const DWORD length = GetDllDirectoryW(32768, directory);
  write_line("dll-directory",
             length == 0 ? "<none>" : corvane::utf16_to_utf8_lossy(std::wstring_view(directory, length)));
}

void report_modules(const std::string& prefix) {
  write_line(prefix + "core", GetModuleHandleW(L"gstreamer-1.0-0.dll") != nullptr ? "loaded" : "absent");
  write_line(prefix + "glib", GetModuleHandleW(L"glib-2.0-0.dll") != nullptr ? "loaded" : "absent");
  write_line(prefix + "gobject", GetModuleHandleW(L"gobject-2.0-0.dll") != nullptr ? "loaded" : "absent");
}

void on_handoff(corvane::helper::GstElement* /*identity*/, corvane::helper::GstBuffer* buffer, void* /*data*/) {
  ++g_handoffs;
  g_handoff_bytes += g_symbols->gst_buffer_get_size(buffer);
}

// Every entry point once, in table order; the stand-in records each call.
void exercise(const RuntimeSymbols& gst) {
  g_symbols = &gst;
  char* version = gst.gst_version_string();
  write_line("version", version != nullptr ? version : "<null>");
  auto* factory = gst.gst_element_factory_find("x264enc");
  write_line("factory", factory != nullptr ? "found" : "none");
  GError* parse_error = nullptr;
  auto* pipeline = gst.gst_parse_launch("videotestsrc name=source ! identity name=tap ! fakesink", &parse_error);
  write_line("pipeline", pipeline != nullptr && parse_error == nullptr ? "ok" : "failed");
  write_line("set-state", std::to_string(gst.gst_element_set_state(pipeline, corvane::helper::kGstStatePlaying)));
  int current = 0;
  int pending = -1;
  const int got = gst.gst_element_get_state(pipeline, &current, &pending, 0);
  write_line("get-state", std::to_string(got) + " " + std::to_string(current) + " " + std::to_string(pending));
  auto* bus = gst.gst_element_get_bus(pipeline);
  auto* tap = gst.gst_bin_get_by_name(pipeline, "tap");
  write_line("tap", tap != nullptr ? "found" : "none");
  auto* message =
      gst.gst_bus_timed_pop_filtered(bus, 0, corvane::helper::kGstMessageEos | corvane::helper::kGstMessageError);
  std::uint32_t type = 0;
  if (message != nullptr) {
    std::memcpy(&type, reinterpret_cast<const unsigned char*>(message) + corvane::helper::kGstMessageTypeOffset,
                sizeof type);
  }
  write_line("message-type", std::to_string(type));
  GError* error = nullptr;
  char* debug = nullptr;
  gst.gst_message_parse_error(message, &error, &debug);
  write_line("error-message", error != nullptr && error->message != nullptr ? error->message : "<none>");
  write_line("error-debug", debug != nullptr ? debug : "<none>");
  gst.gst_object_unref(bus);
  gst.gst_mini_object_unref(message);
  write_line("null-buffer-size", std::to_string(gst.gst_buffer_get_size(nullptr)));
  gst.gst_util_set_object_arg(tap, "silent", "false");
  gst.g_error_free(error);
  gst.g_free(debug);
  const unsigned long handler =
      gst.g_signal_connect_data(tap, "handoff", reinterpret_cast<void (*)()>(&on_handoff), nullptr, nullptr, 0);
  write_line("handler", std::to_string(handler));
  // Not in table order any more: the handoffs, and putting everything back.
  gst.gst_element_set_state(pipeline, corvane::helper::kGstStatePlaying);
  write_line("handoffs", std::to_string(g_handoffs) + " " + std::to_string(g_handoff_bytes));
  gst.g_free(version);
  gst.gst_object_unref(tap);
  gst.gst_object_unref(factory);
  gst.gst_element_set_state(pipeline, corvane::helper::kGstStateNull);
  gst.gst_object_unref(pipeline);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool exercise_symbols = argc > 1 && std::wstring_view(argv[1]) == L"--exercise";
  LARGE_INTEGER frequency{};
  LARGE_INTEGER start{};
  LARGE_INTEGER end{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  corvane::helper::MediaRuntime runtime = corvane::helper::load_media_runtime();
  QueryPerformanceCounter(&end);

  write_line(runtime.available() ? "result" : "error", runtime.available() ? "loaded" : runtime.runtime_error);
  report_environment();
  report_modules("");
  write_line("load-microseconds", std::to_string((end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart));
  if (exercise_symbols && runtime.available()) {
    exercise(*runtime.symbols);
  }
  runtime = {};
  report_modules("released-");
  return 0;
}
