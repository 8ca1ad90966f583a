#include "platform/os_error.h"

#include <string_view>

#include "common/unicode.h"

namespace corvane::helper {

std::string system_error_text(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string message;
  if (length > 0 && buffer != nullptr) {
    std::wstring_view text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
      text.remove_suffix(1);
    }
    message = utf16_to_utf8_lossy(text);
  } else {
    message = "unknown error";
  }
  if (buffer != nullptr) {
    LocalFree(buffer);
  }
  return message + " (os error " + std::to_string(code) + ")";
}

std::string last_error_text() { return system_error_text(GetLastError()); }

}  // namespace corvane::helper
