#include "crash_report.h"

#include <atomic>
#include <cstdio>
#include <regex>
#include <string_view>
#include <system_error>

namespace corvane::testing {
namespace {

std::string stamp_of(const SYSTEMTIME& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02uT%02u%02u%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute, time.wSecond);
  return text;
}

}  // namespace

std::optional<std::filesystem::path> CrashLine::dump_path() const {
  constexpr std::string_view kDump = "; crash dump: ";
  if (!rest.starts_with(kDump)) {
    return std::nullopt;
  }
  const std::string path = rest.substr(kDump.size());
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(path.data()), path.size()));
}

std::optional<CrashLine> parse_crash_line(const std::string& standard_error) {
  static const std::regex pattern(
      "corvane-media-helper: the helper crashed with exception 0x([0-9A-F]{8}) at 0x([0-9A-F]{16})(; [^\r\n]*)\n");
  std::smatch match;
  if (!std::regex_match(standard_error, match, pattern)) {
    return std::nullopt;
  }
  CrashLine line;
  line.code = static_cast<std::uint32_t>(std::stoul(match[1].str(), nullptr, 16));
  line.address = std::stoull(match[2].str(), nullptr, 16);
  line.rest = match[3].str();
  return line;
}

bool is_dump_name_of(const std::filesystem::path& name, DWORD pid, const SYSTEMTIME& before, const SYSTEMTIME& after) {
  static const std::regex pattern("corvane_media_helper-([0-9]{8}T[0-9]{6})Z-([0-9]+)\\.dmp");
  std::smatch match;
  const std::string text = name.string();
  if (!std::regex_match(text, match, pattern)) {
    return false;
  }
  const std::string stamp = match[1].str();
  return match[2].str() == std::to_string(pid) && stamp >= stamp_of(before) && stamp <= stamp_of(after);
}

LocalAppDataFolder::LocalAppDataFolder() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("corvane-local-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  std::filesystem::create_directories(path_);
  variable_.emplace(L"LOCALAPPDATA", path_.wstring());
}

LocalAppDataFolder::~LocalAppDataFolder() {
  variable_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace corvane::testing
