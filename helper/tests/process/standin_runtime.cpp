#include "standin_runtime.h"

#include <windows.h>

#include <fstream>

#include "test_windows.h"

namespace corvane::testing {

namespace fs = std::filesystem;

void HelperWithStandInRuntime::SetUp() {
  root_ = fs::temp_directory_path() / ("corvane-runtime-" + random_tag());
  // executable_directory() ends with a separator: its parent_path() is the directory itself.
  const fs::path build = fs::path(executable_directory()).parent_path().parent_path();
  const fs::path bin = root_ / "gstreamer" / "bin";
  fs::create_directories(bin);
  fs::create_directories(root_ / "gstreamer" / "lib" / "gstreamer-1.0");
  for (const char* library : {"gstreamer-1.0-0.dll", "glib-2.0-0.dll", "gobject-2.0-0.dll"}) {
    fs::copy_file(build / "standins" / "gstreamer" / library, bin / library);
  }
  fs::copy_file(build / "bin" / "corvane_media_helper.exe", root_ / "corvane_media_helper.exe");
  script_ = root_ / "script.txt";
  record_ = root_ / "record.txt";
  SetEnvironmentVariableW(L"CORVANE_STANDIN_GST_SCRIPT", script_.wstring().c_str());
  SetEnvironmentVariableW(L"CORVANE_STANDIN_GST_RECORD", record_.wstring().c_str());
}

void HelperWithStandInRuntime::TearDown() {
  SetEnvironmentVariableW(L"CORVANE_STANDIN_GST_SCRIPT", nullptr);
  SetEnvironmentVariableW(L"CORVANE_STANDIN_GST_RECORD", nullptr);
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void HelperWithStandInRuntime::write_script(std::initializer_list<const char*> lines) {
  write_script(std::vector<std::string>(lines.begin(), lines.end()));
}

void HelperWithStandInRuntime::write_script(const std::vector<std::string>& lines) {
  std::ofstream out(script_, std::ios::binary);
  for (const std::string& line : lines) {
    out << line << "\n";
  }
}

std::vector<std::string> HelperWithStandInRuntime::recorded_calls() const {
  std::ifstream in(record_, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace corvane::testing
