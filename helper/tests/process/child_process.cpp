#include "child_process.h"

namespace corvane::testing {

namespace {

// Reads a pipe to its end, then closes it.
void drain(HANDLE pipe, std::string* text) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text->append(buffer, got);
  }
  CloseHandle(pipe);
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

ChildProcess::ChildProcess(const std::wstring& program, const std::vector<std::wstring>& arguments) {
  // Wine starts its desktop process when a process first needs it. Started from a child whose
  // standard handles are pipes, that start never completes (the child then hangs in its first
  // window call), so the test process makes sure the desktop exists first.
  GetDesktopWindow();
  // A name is a file beside the test; an absolute path (drive or UNC) is taken as it is.
  const bool absolute = (program.size() > 2 && program[1] == L':') || program.starts_with(L"\\\\");
  const std::wstring path = absolute ? program : executable_directory() + program;
  std::wstring command_line = quote_argument(path);
  for (const auto& argument : arguments) {
    command_line += L' ';
    command_line += quote_argument(argument);
  }

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) {
    start_error_ = "CreatePipe failed";
    return;
  }
  if (!CreatePipe(&err_read, &err_write, &inherit, 0)) {
    CloseHandle(out_read);
    CloseHandle(out_write);
    start_error_ = "CreatePipe failed";
    return;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION info{};
  const BOOL created =
      CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  const DWORD create_error = GetLastError();
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (!created) {
    CloseHandle(out_read);
    CloseHandle(err_read);
    start_error_ = "CreateProcessW failed: " + std::to_string(create_error);
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  // Both streams are drained while the child runs, so a chatty child cannot block on a full pipe.
  output_reader_ = std::thread(drain, out_read, output_.get());
  error_reader_ = std::thread(drain, err_read, error_.get());
}

ChildProcess::~ChildProcess() {
  if (process_ != nullptr) {
    wait(0);
  }
}

bool ChildProcess::exited() const { return process_ == nullptr || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

ChildOutcome ChildProcess::wait(DWORD time_limit_ms) {
  ChildOutcome outcome;
  if (process_ == nullptr) {
    outcome.standard_error = start_error_;
    return outcome;
  }
  outcome.finished = WaitForSingleObject(process_, time_limit_ms) == WAIT_OBJECT_0;
  if (!outcome.finished) {
    TerminateProcess(process_, 255);
    WaitForSingleObject(process_, INFINITE);
  }
  if (output_reader_.joinable()) {
    output_reader_.join();
  }
  if (error_reader_.joinable()) {
    error_reader_.join();
  }
  GetExitCodeProcess(process_, &outcome.exit_code);
  CloseHandle(process_);
  process_ = nullptr;
  outcome.standard_output = *output_;
  outcome.standard_error = *error_;
  return outcome;
}

ChildOutcome run_child(const std::wstring& program, const std::vector<std::wstring>& arguments, DWORD time_limit_ms) {
  ChildProcess child(program, arguments);
  return child.wait(time_limit_ms);
}

}  // namespace corvane::testing
