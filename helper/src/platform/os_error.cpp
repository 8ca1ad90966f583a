#include "platform/os_error.h"

#include <array>
#include <string_view>

#include "common/unicode.h"

namespace corvane::helper {

std::wstring_view system_message(DWORD code, std::span<wchar_t> buffer) noexcept {
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      buffer.data(), static_cast<DWORD>(buffer.size()), nullptr);
  std::wstring_view text(buffer.data(), length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string system_error_text(DWORD code) {
  std::array<wchar_t, 2048> buffer{};  // far more than any system message needs
  const std::wstring_view text = system_message(code, buffer);
  const std::string message = text.empty() ? std::string("unknown error") : utf16_to_utf8_lossy(text);
  return message + " (os error " + std::to_string(code) + ")";
}

std::string last_error_text() { return system_error_text(GetLastError()); }

}  // namespace corvane::helper
