#pragma once
// The helper's only output: lines on standard error, written as raw UTF-8 bytes.

#include <string_view>

namespace corvane::helper {

// Writes `line` and a line feed to standard error (no text-mode translation, nothing buffered).
void write_standard_error_line(std::string_view line);

// Writes `bytes` to standard error as they are, allocating nothing (the crash handler's way out).
void write_standard_error(std::string_view bytes) noexcept;

}  // namespace corvane::helper
