#include "utils.h"

#include <windows.h>
#include <fcntl.h>
#include <flutter_windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>

void CreateAndAttachConsole() {
  if (AttachConsole(ATTACH_PARENT_PROCESS) || !IsDebuggerPresent()) {
    return;
  }
  if (AllocConsole()) {
    FILE* unused = nullptr;
    if (freopen_s(&unused, "CONOUT$", "w", stdout) != 0) {
      _dup2(_fileno(stdout), 1);
    }
    if (freopen_s(&unused, "CONOUT$", "w", stderr) != 0) {
      _dup2(_fileno(stdout), 2);
    }
    std::ios::sync_with_stdio(true);
    FlutterDesktopResyncOutputStreams();
  }
}

std::vector<std::string> GetCommandLineArguments() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) {
    return {};
  }
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(Utf8FromUtf16(argv[i]));
  }
  LocalFree(argv);
  return arguments;
}

std::string Utf8FromUtf16(const wchar_t* utf16) {
  if (utf16 == nullptr) {
    return {};
  }
  const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return {};  // empty, or not valid UTF-16
  }
  std::string utf8(static_cast<std::size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16, -1, utf8.data(), length, nullptr, nullptr) == 0) {
    return {};
  }
  utf8.resize(static_cast<std::size_t>(length) - 1);  // without the terminating NUL
  return utf8;
}

std::wstring Utf16FromUtf8(const std::string& utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) {
    return {};
  }
  std::wstring utf16(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), utf16.data(), length);
  return utf16;
}
