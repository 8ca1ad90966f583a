// Test program for the helper's crash handler: installs it as the helper does, then crashes on
// purpose (the helper itself has no way to). One argument:
//   none    returns 0
//   main    writes "thread <id>" to standard output, then writes through a null pointer
//   thread  the same on a second thread, which raises the exception 0xE0000042 while the main
//           thread waits for it
// A crash ends the process through the handler; an exit code of 2 means it came back.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/crash_handler.h"

namespace {

constexpr DWORD kRaisedCode = 0xE0000042;

void write_thread_id() {
  const std::string line = "thread " + std::to_string(GetCurrentThreadId()) + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// The address comes from a volatile so that the compiler emits a real store, not a trap instruction.
volatile std::uintptr_t g_null_address = 0;

void write_through_null() {
  write_thread_id();
  *reinterpret_cast<volatile int*>(g_null_address) = 1;
}

DWORD WINAPI raise_on_this_thread(void* /*unused*/) {
  write_thread_id();
  RaiseException(kRaisedCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  corvane::helper::install_crash_handler();
  const std::wstring_view mode = argc == 2 ? argv[1] : L"";
  if (mode == L"none") {
    return 0;
  }
  if (mode == L"main") {
    write_through_null();
  } else if (mode == L"thread") {
    HANDLE thread = CreateThread(nullptr, 0, raise_on_this_thread, nullptr, 0, nullptr);
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
    }
  }
  return 2;
}
