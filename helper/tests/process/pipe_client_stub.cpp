// Test program: a client of the same user that is not the helper's parent. It connects to
// "\\.\pipe\corvane-media-<argument>", says "connected" on standard output, and holds the pipe open
// until the helper closes it. Exit code 0 when it connected, 3 when it never could.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    return 2;
  }
  const std::wstring name = std::wstring(L"\\\\.\\pipe\\corvane-media-") + argv[1];
  for (int attempt = 0; attempt < 1200; ++attempt) {  // about 60 s at most
    HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "connected\n", 10, &written, nullptr);
      char buffer[64];
      DWORD got = 0;
      while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      }
      CloseHandle(pipe);
      return 0;
    }
    if (!WaitNamedPipeW(name.c_str(), 50)) {
      Sleep(20);
    }
  }
  return 3;
}
