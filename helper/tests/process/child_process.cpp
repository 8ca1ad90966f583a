#include "child_process.h"

#include <thread>

namespace corvane::testing {

namespace {

// Owns a handle for the length of a test step.
struct ScopedHandle {
  HANDLE handle = nullptr;
  ScopedHandle() = default;
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { reset(); }
  void reset() {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
    }
    handle = nullptr;
  }
};

std::string read_all(HANDLE pipe) {
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  return text;
}

}  // namespace

std::wstring executable_directory() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring quote_argument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') {
      ++backslashes;
      ++i;
    }
    if (i == argument.size()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (argument[i] == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted.push_back(argument[i]);
  }
  quoted.push_back(L'"');
  return quoted;
}

ChildOutcome run_child(const std::wstring& program, const std::vector<std::wstring>& arguments, DWORD time_limit_ms) {
  const std::wstring path = executable_directory() + program;
  std::wstring command_line = quote_argument(path);
  for (const auto& argument : arguments) {
    command_line += L' ';
    command_line += quote_argument(argument);
  }

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ScopedHandle out_read, out_write, err_read, err_write;
  ChildOutcome outcome;
  if (!CreatePipe(&out_read.handle, &out_write.handle, &inherit, 0) ||
      !CreatePipe(&err_read.handle, &err_write.handle, &inherit, 0)) {
    return outcome;
  }
  SetHandleInformation(out_read.handle, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read.handle, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_write.handle;
  startup.hStdError = err_write.handle;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    outcome.standard_error = "CreateProcessW failed: " + std::to_string(GetLastError());
    return outcome;
  }
  ScopedHandle process, thread;
  process.handle = info.hProcess;
  thread.handle = info.hThread;
  out_write.reset();
  err_write.reset();

  // Both streams are drained while the child runs, so a chatty child cannot block on a full pipe.
  std::thread error_reader([&] { outcome.standard_error = read_all(err_read.handle); });
  std::thread output_reader([&] { outcome.standard_output = read_all(out_read.handle); });
  outcome.finished = WaitForSingleObject(process.handle, time_limit_ms) == WAIT_OBJECT_0;
  if (!outcome.finished) {
    TerminateProcess(process.handle, 255);
    WaitForSingleObject(process.handle, INFINITE);
  }
  error_reader.join();
  output_reader.join();
  GetExitCodeProcess(process.handle, &outcome.exit_code);
  return outcome;
}

}  // namespace corvane::testing
