#include "platform/standard_error.h"

#include <windows.h>

#include <string>

namespace corvane::helper {

void write_standard_error_line(std::string_view text) {
  std::string line(text);
  line.push_back('\n');
  write_standard_error(line);
}

void write_standard_error(std::string_view bytes) noexcept {
  HANDLE error_stream = GetStdHandle(STD_ERROR_HANDLE);
  if (error_stream == nullptr || error_stream == INVALID_HANDLE_VALUE) {
    return;  // no standard error attached: the line is diagnostic only
  }
  const char* data = bytes.data();
  auto left = static_cast<DWORD>(bytes.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(error_stream, data, left, &written, nullptr) || written == 0) {
      return;
    }
    data += written;
    left -= written;
  }
}

}  // namespace corvane::helper
