#pragma once
// Test helper: the line a crash of the helper (or of the crash handler's test program) leaves on
// standard error, taken apart, and a LOCALAPPDATA of the test's own for the dumps.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "scoped_variable.h"

namespace corvane::testing {

// "corvane-media-helper: the helper crashed with exception 0x<code> at 0x<address><rest>\n", the
// whole of standard error.
struct CrashLine {
  std::uint32_t code = 0;
  std::uint64_t address = 0;
  std::string rest;  // from the "; " after the address to the end of the line
  // The path in "; crash dump: <path>", or nothing when the line says there is no dump.
  std::optional<std::filesystem::path> dump_path() const;
};

// The crash line that is the whole of `standard_error`, or nothing when it is not exactly one.
std::optional<CrashLine> parse_crash_line(const std::string& standard_error);

// "<prefix><YYYYMMDD>T<HHMMSS>Z-<pid>.dmp" holds `pid` and a UTC time within [before, after] (the
// crash's own time is between the two).
bool is_dump_name_of(const std::filesystem::path& name, DWORD pid, const SYSTEMTIME& before, const SYSTEMTIME& after);

// A fresh folder under %TEMP% that is LOCALAPPDATA for this process and the children it starts, for
// the lifetime of this object; removed with what it holds at the end.
class LocalAppDataFolder {
 public:
  LocalAppDataFolder();
  LocalAppDataFolder(const LocalAppDataFolder&) = delete;
  LocalAppDataFolder& operator=(const LocalAppDataFolder&) = delete;
  ~LocalAppDataFolder();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path crash_folder() const { return path_ / "Corvane" / "crashes"; }

 private:
  std::filesystem::path path_;
  std::optional<ScopedVariable> variable_;
};

}  // namespace corvane::testing
