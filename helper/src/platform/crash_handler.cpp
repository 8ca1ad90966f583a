#include "platform/crash_handler.h"

#include <windows.h>
// dbghelp.h needs windows.h first.
#include <dbghelp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/fixed_text.h"
#include "platform/handles.h"
#include "platform/os_error.h"
#include "platform/standard_error.h"

namespace corvane::helper {
namespace {

constexpr std::size_t kPathCapacity = 1024;                   // wide characters
constexpr std::size_t kLineCapacity = 3 * 2 * kPathCapacity;  // UTF-8 bytes: two paths and the words

constexpr std::wstring_view kParentFolder = L"\\Corvane";
constexpr std::wstring_view kCrashFolder = L"\\crashes";
constexpr std::wstring_view kDumpPrefix = L"corvane_media_helper-";
constexpr std::wstring_view kDumpSuffix = L".dmp";

using WriteDump = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// What installation prepared, what the first crash hands to the writer, and the writer's buffers.
// Static and never released: it serves until the process ends, and a crash needs no allocation.
struct CrashState {
  FixedWideText<kPathCapacity> folder;  // %LOCALAPPDATA%\Corvane\crashes
  std::size_t parent_length = 0;        // the length of %LOCALAPPDATA%\Corvane within `folder`
  WriteDump write_dump = nullptr;
  HANDLE crash_requested = nullptr;  // the event the writer waits on
  HANDLE writer = nullptr;           // null when no dump can be written
  DWORD writer_id = 0;
  // Why no dump can be written, when installation found out, and the system's error code (or 0).
  std::string_view setup_failure;
  DWORD setup_error = 0;

  // The first crash, handed to the writer.
  volatile LONG crashing = 0;
  EXCEPTION_POINTERS* exception = nullptr;
  DWORD thread_id = 0;

  // The writer's buffers.
  FixedWideText<kPathCapacity> dump_name;
  FixedWideText<kPathCapacity> scratch;
  FixedWideText<kPathCapacity> oldest;
  FixedText<kLineCapacity> line;
  std::array<char, 3 * kPathCapacity> utf8{};
  std::array<wchar_t, 512> message{};
};

CrashState g_crash;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables): the filter's only context

void append_wide(std::wstring_view text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), g_crash.utf8.data(),
                                         static_cast<int>(g_crash.utf8.size()), nullptr, nullptr);
  g_crash.line.append(std::string_view(g_crash.utf8.data(), length > 0 ? static_cast<std::size_t>(length) : 0));
}

// "<system message> (os error N)", as the helper's other errors say it.
void append_system_error(DWORD code) {
  const std::wstring_view text = system_message(code, g_crash.message);
  if (text.empty()) {
    g_crash.line.append("unknown error");
  } else {
    append_wide(text);
  }
  g_crash.line.append(" (os error ");
  g_crash.line.append_decimal(code);
  g_crash.line.append(")");
}

void begin_line(const EXCEPTION_RECORD& record) {
  g_crash.line.clear();
  g_crash.line.append("corvane-media-helper: the helper crashed with exception ");
  g_crash.line.append_hex(record.ExceptionCode, 8);
  g_crash.line.append(" at ");
  g_crash.line.append_hex(reinterpret_cast<std::uintptr_t>(record.ExceptionAddress), 16);
}

void append_setup_failure() {
  g_crash.line.append("; no crash dump was written: ");
  g_crash.line.append(g_crash.setup_failure);
  if (g_crash.setup_error != 0) {
    g_crash.line.append(": ");
    append_system_error(g_crash.setup_error);
  }
}

// Writes the line (one line, whatever the paths and messages hold) and ends the process with code 1,
// without running anything of the broken process on the way out.
[[noreturn]] void end_process() {
  g_crash.line.replace('\r', ' ');
  g_crash.line.replace('\n', ' ');
  g_crash.line.end_line();
  write_standard_error(g_crash.line.view());
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);  // reached only if the process could not end itself
}

// `folder` + "\" + `name` into the scratch path.
const wchar_t* path_in_folder(std::wstring_view name) {
  g_crash.scratch.clear();
  g_crash.scratch.append(g_crash.folder.view());
  g_crash.scratch.append(L"\\");
  g_crash.scratch.append(name);
  return g_crash.scratch.c_str();
}

// The pattern that finds every dump in the folder, in the scratch path.
const wchar_t* dump_search_pattern() {
  path_in_folder(kDumpPrefix);
  g_crash.scratch.append(L"*");
  g_crash.scratch.append(kDumpSuffix);
  return g_crash.scratch.c_str();
}

// Whether a dump written at `time` named `name` is older than the oldest found so far.
bool is_older(const FILETIME& time, std::wstring_view name, const FILETIME& oldest_time) {
  const LONG order = CompareFileTime(&time, &oldest_time);
  return order < 0 || (order == 0 && name < g_crash.oldest.view());
}

// Deletes the oldest dumps, never the one just written, until the folder keeps kKeptCrashDumps.
void keep_newest_dumps() {
  for (;;) {
    UniqueFindHandle search;
    WIN32_FIND_DATAW found{};
    search.reset(FindFirstFileExW(dump_search_pattern(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) {
      return;
    }
    int count = 0;
    bool have_oldest = false;
    FILETIME oldest_time{};
    do {
      const std::wstring_view name(found.cFileName);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        continue;
      }
      ++count;
      if (name != g_crash.dump_name.view() && (!have_oldest || is_older(found.ftLastWriteTime, name, oldest_time))) {
        g_crash.oldest.clear();
        g_crash.oldest.append(name);
        oldest_time = found.ftLastWriteTime;
        have_oldest = true;
      }
    } while (FindNextFileW(search.get(), &found));
    if (count <= kKeptCrashDumps || !have_oldest || !DeleteFileW(path_in_folder(g_crash.oldest.view()))) {
      return;
    }
  }
}

// Creates %LOCALAPPDATA%\Corvane and its crashes folder where they are missing; the error otherwise.
DWORD make_crash_folder() {
  for (const std::size_t length : {g_crash.parent_length, g_crash.folder.size()}) {
    g_crash.scratch.clear();
    g_crash.scratch.append(g_crash.folder.view().substr(0, length));
    if (!CreateDirectoryW(g_crash.scratch.c_str(), nullptr)) {
      const DWORD error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS) {
        return error;
      }
    }
  }
  return ERROR_SUCCESS;
}

// Writes the dump of the first crash and tells, in the line, where it is or why there is none.
void write_dump() {
  if (const DWORD error = make_crash_folder(); error != ERROR_SUCCESS) {
    g_crash.line.append("; no crash dump was written: the crash folder ");
    append_wide(g_crash.folder.view());
    g_crash.line.append(" could not be created: ");
    append_system_error(error);
    return;
  }
  SYSTEMTIME now{};
  GetSystemTime(&now);
  g_crash.dump_name.clear();
  g_crash.dump_name.append(kDumpPrefix);
  g_crash.dump_name.append_decimal(now.wYear, 4);
  g_crash.dump_name.append_decimal(now.wMonth, 2);
  g_crash.dump_name.append_decimal(now.wDay, 2);
  g_crash.dump_name.append_ascii("T");
  g_crash.dump_name.append_decimal(now.wHour, 2);
  g_crash.dump_name.append_decimal(now.wMinute, 2);
  g_crash.dump_name.append_decimal(now.wSecond, 2);
  g_crash.dump_name.append_ascii("Z-");
  g_crash.dump_name.append_decimal(GetCurrentProcessId());
  g_crash.dump_name.append(kDumpSuffix);

  const wchar_t* path = path_in_folder(g_crash.dump_name.view());
  UniqueFileHandle file(
      CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD error = file ? ERROR_SUCCESS : GetLastError();
  if (file) {
    MINIDUMP_EXCEPTION_INFORMATION exception{g_crash.thread_id, g_crash.exception, FALSE};
    if (!g_crash.write_dump(GetCurrentProcess(), GetCurrentProcessId(), file.get(), MiniDumpNormal, &exception, nullptr,
                            nullptr)) {
      error = GetLastError();
      file.reset();
      DeleteFileW(path);
      if (error == ERROR_SUCCESS) {
        error = ERROR_WRITE_FAULT;  // the writer failed without saying why
      }
    }
  }
  if (error != ERROR_SUCCESS) {
    g_crash.line.append("; no crash dump was written: ");
    append_wide(g_crash.scratch.view());
    g_crash.line.append(" could not be written: ");
    append_system_error(error);
    return;
  }
  file.reset();
  keep_newest_dumps();
  g_crash.line.append("; crash dump: ");
  append_wide(path_in_folder(g_crash.dump_name.view()));
}

DWORD WINAPI run_writer(void* /*unused*/) {
  WaitForSingleObject(g_crash.crash_requested, INFINITE);
  begin_line(*g_crash.exception->ExceptionRecord);
  write_dump();
  end_process();
}

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* exception) {
  if (g_crash.writer != nullptr && GetCurrentThreadId() == g_crash.writer_id) {
    // The writer crashed (inside the system's dump writer, say): the first crash is told without a dump.
    begin_line(*(g_crash.exception != nullptr ? g_crash.exception : exception)->ExceptionRecord);
    g_crash.line.append("; no crash dump was written: the dump writer crashed with exception ");
    g_crash.line.append_hex(exception->ExceptionRecord->ExceptionCode, 8);
    end_process();
  }
  if (InterlockedCompareExchange(&g_crash.crashing, 1, 0) != 0) {
    for (;;) {
      Sleep(INFINITE);  // another thread's crash is being told, and the process ends with it
    }
  }
  g_crash.exception = exception;
  g_crash.thread_id = GetCurrentThreadId();
  if (g_crash.writer == nullptr) {
    begin_line(*exception->ExceptionRecord);
    append_setup_failure();
    end_process();
  }
  SetEvent(g_crash.crash_requested);
  WaitForSingleObject(g_crash.writer, INFINITE);
  end_process();  // not reached: the writer ends the process
}

// The crash folder from LOCALAPPDATA; false (and the reason) when there is none.
bool prepare_folder() {
  std::array<wchar_t, kPathCapacity> local_data{};
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local_data.data(), kPathCapacity);
  if (length == 0) {
    g_crash.setup_failure = "LOCALAPPDATA is not set";
    return false;
  }
  std::wstring_view base(local_data.data(), length < kPathCapacity ? length : 0);
  while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) {
    base.remove_suffix(1);
  }
  g_crash.folder.append(base);
  g_crash.folder.append(kParentFolder);
  g_crash.parent_length = g_crash.folder.size();
  g_crash.folder.append(kCrashFolder);
  if (length >= kPathCapacity || g_crash.folder.truncated() ||
      g_crash.folder.size() + 1 + kDumpPrefix.size() + 32 + kDumpSuffix.size() > kPathCapacity) {
    g_crash.setup_failure = "the path in LOCALAPPDATA is too long";
    return false;
  }
  return true;
}

bool load_dump_writer() {
  const HMODULE dbghelp = LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (dbghelp == nullptr) {
    g_crash.setup_failure = "dbghelp.dll could not be loaded";
    g_crash.setup_error = GetLastError();
    return false;
  }
  g_crash.write_dump =
      reinterpret_cast<WriteDump>(reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
  if (g_crash.write_dump == nullptr) {
    g_crash.setup_failure = "dbghelp.dll has no MiniDumpWriteDump";
    g_crash.setup_error = GetLastError();
    return false;
  }
  return true;  // dbghelp.dll stays loaded: a crashed process must not load libraries
}

void start_writer() {
  g_crash.crash_requested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_crash.crash_requested != nullptr) {
    g_crash.writer = CreateThread(nullptr, 0, run_writer, nullptr, 0, &g_crash.writer_id);
  }
  if (g_crash.writer == nullptr) {
    g_crash.setup_failure = "the dump writer could not start";
    g_crash.setup_error = GetLastError();
  }
}

}  // namespace

void install_crash_handler() noexcept {
  if (prepare_folder() && load_dump_writer()) {
    start_writer();
  }
  SetUnhandledExceptionFilter(on_unhandled_exception);
}

}  // namespace corvane::helper
