#include "platform/standard_error.h"

#include <windows.h>

#include <string>

namespace corvane::helper {

void write_standard_error_line(std::string_view text) {
  std::string line(text);
  line.push_back('\n');
  HANDLE error_stream = GetStdHandle(STD_ERROR_HANDLE);
  if (error_stream == nullptr || error_stream == INVALID_HANDLE_VALUE) {
    return;  // no standard error attached: the line is diagnostic only
  }
  const char* data = line.data();
  auto left = static_cast<DWORD>(line.size());
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
