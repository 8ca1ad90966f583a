#pragma once
// Test helper: what the crash handler's tests read back from a minidump file.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace corvane::testing {

struct MinidumpModule {
  std::uint64_t base = 0;
  std::uint32_t size = 0;
  std::wstring name;
};

// The header, the stream directory and the streams the tests look at.
struct MinidumpFile {
  std::uint32_t signature = 0;
  std::uint16_t version = 0;  // the low word of the header's version
  std::vector<std::uint32_t> stream_types;
  // The exception stream.
  std::uint32_t exception_thread_id = 0;
  std::uint32_t exception_code = 0;
  std::uint64_t exception_address = 0;
  // The thread list and the module list.
  std::vector<std::uint32_t> thread_ids;
  std::vector<MinidumpModule> modules;

  bool has_stream(std::uint32_t type) const;
  // The module whose image holds `address`, or null.
  const MinidumpModule* module_holding(std::uint64_t address) const;
};

// Reads `path`; the error when it is no minidump, lacks one of the three streams, or a stream or
// string runs past the end of the file.
Expected<MinidumpFile, std::string> read_minidump(const std::wstring& path);

}  // namespace corvane::testing
