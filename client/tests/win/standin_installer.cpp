// Test program standing in for the bus driver's installer (no real installer exists here). Placed
// where the host looks for the bundled installer, it is what the host starts.
// From its environment:
//   CORVANE_STANDIN_INSTALLER_RECORD  a file it appends "<process id> <command line>\n" to (UTF-8);
//   CORVANE_STANDIN_INSTALLER_STARTED a named event it signals once recorded;
//   CORVANE_STANDIN_INSTALLER_RELEASE a named event it waits on (at most 60 s) before exiting;
//   CORVANE_STANDIN_INSTALLER_EXIT    its exit code, in decimal (default 0).
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/handles.h"

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t value[32768];
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  return length == 0 || length >= 32768 ? std::wstring() : std::wstring(value, length);
}

std::string Utf8(const std::wstring& text) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring record = Variable(L"CORVANE_STANDIN_INSTALLER_RECORD");
  if (!record.empty()) {
    if (FILE* file = _wfopen(record.c_str(), L"ab")) {
      const std::string line = std::to_string(GetCurrentProcessId()) + " " + Utf8(GetCommandLineW()) + "\n";
      std::fwrite(line.data(), 1, line.size(), file);
      std::fclose(file);
    }
  }
  const std::wstring started = Variable(L"CORVANE_STANDIN_INSTALLER_STARTED");
  if (!started.empty()) {
    if (const corvane::client::UniqueEvent event(OpenEventW(EVENT_MODIFY_STATE, FALSE, started.c_str())); event) {
      SetEvent(event.Get());
    }
  }
  const std::wstring release = Variable(L"CORVANE_STANDIN_INSTALLER_RELEASE");
  if (!release.empty()) {
    if (const corvane::client::UniqueEvent event(OpenEventW(SYNCHRONIZE, FALSE, release.c_str())); event) {
      WaitForSingleObject(event.Get(), 60000);
    }
  }
  return static_cast<int>(std::wcstoul(Variable(L"CORVANE_STANDIN_INSTALLER_EXIT").c_str(), nullptr, 10));
}
