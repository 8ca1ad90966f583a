#include "runner/utils.h"

#include <windows.h>
#include <fcntl.h>
#include <flutter_windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <string_view>

#include "base/handles.h"
#include "base/unicode.h"

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
  const corvane::client::UniqueLocalMemory owner(argv);
  if (argv == nullptr) {
    return {};
  }
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(corvane::client::Utf8FromUtf16(std::wstring_view(argv[i])));
  }
  return arguments;
}
