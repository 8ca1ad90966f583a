#include "support.h"

#include <windows.h>

#include <string>

namespace corvane::fake_gst {

std::string utf8(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::optional<std::string> environment(const wchar_t* name) {
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
      return std::nullopt;
    }
    return std::string();
  }
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length < size ? length : 0);
  return utf8(value);
}

void record(std::string_view line) {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetEnvironmentVariableW(L"CORVANE_STANDIN_GST_RECORD", path, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) {
    return;
  }
  // Opened for appending only, so lines of the three libraries interleave in call order.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  std::string text(line);
  text += '\n';
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

void* heap_allocate(std::size_t size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }

char* heap_string(std::string_view text) {
  auto* copy = static_cast<char*>(heap_allocate(text.size() + 1));
  text.copy(copy, text.size());
  return copy;
}

void heap_free(void* memory) {
  if (memory != nullptr) {
    HeapFree(GetProcessHeap(), 0, memory);
  }
}

}  // namespace corvane::fake_gst
