#pragma once
// The helper's only output: lines on standard error, written as raw UTF-8 bytes.

#include <string_view>

namespace corvane::helper {

// Writes `line` and a line feed to standard error (no text-mode translation, nothing buffered).
void write_standard_error_line(std::string_view line);

}  // namespace corvane::helper
