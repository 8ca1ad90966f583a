// Entry of helperctl.exe, the reference client of the media helper's pipe: starts the helper, connects,
// authenticates, runs the commands of its command line and prints every received frame as a JSON line.

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "common/unicode.h"
#include "helperctl/commands.h"
#include "helperctl/json.h"
#include "helperctl/launch.h"
#include "main/launch_config.h"
#include "main/pipe_stream.h"
#include "platform/handles.h"
#include "platform/os_error.h"
#include "protocol/frames.h"

namespace {

using corvane::helper::PipeStream;
using corvane::helper::system_error_text;
using corvane::helper::UniqueFileHandle;
using corvane::helper::UniqueHandle;
namespace protocol = corvane::protocol;
namespace helperctl = corvane::helperctl;

// helperctl's own failures.
constexpr int kOwnErrorExitCode = 2;
// One step of waiting for the helper's pipe to appear.
constexpr DWORD kConnectStepMs = 50;
// Safety bounds for a helper that is alive but never opens its pipe, or never exits.
constexpr ULONGLONG kConnectLimitMs = 60000;
constexpr DWORD kExitLimitMs = 60000;
// The pause of `watch` when no whole frame is waiting.
constexpr DWORD kWatchPollMs = 10;

// ERROR_BAD_PIPE: what Wine's peek reports on a pipe whose server end disconnected.
constexpr DWORD kErrorBadPipe = 230;

void write_all(HANDLE stream, std::string_view bytes) {
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD console_mode = 0;
  if (GetConsoleMode(stream, &console_mode)) {
    // A console shows UTF-16 correctly whatever its code page.
    const std::wstring wide = corvane::utf8_to_utf16<wchar_t>(bytes);
    DWORD written = 0;
    WriteConsoleW(stream, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
      return;
    }
    bytes.remove_prefix(written);
  }
}

// One line on standard output; written at once (no buffering), so a reader of the pipe sees it now.
void print_line(std::string line) {
  line.push_back('\n');
  write_all(GetStdHandle(STD_OUTPUT_HANDLE), line);
}

void print_error(std::string_view message) {
  std::string line = "helperctl: ";
  line.append(message);
  line.push_back('\n');
  write_all(GetStdHandle(STD_ERROR_HANDLE), line);
}

bool random_bytes(std::span<std::uint8_t> buffer) {
  return BCRYPT_SUCCESS(
      BCryptGenRandom(nullptr, buffer.data(), static_cast<ULONG>(buffer.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

// The full path of corvane_media_helper.exe in helperctl.exe's directory.
std::wstring default_helper_path() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return L"corvane_media_helper.exe";
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  return path + L"corvane_media_helper.exe";
}

struct StartedHelper {
  UniqueHandle process;
};

// Starts the helper with helperctl's standard error as its own (through a handle list, the only handle
// it inherits), no standard input or output, and no console of its own.
corvane::Result<StartedHelper> start_helper(const std::wstring& path, const std::string& command_line_utf8) {
  std::wstring command_line = corvane::utf8_to_utf16<wchar_t>(command_line_utf8);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  DWORD flags = 0;
  BOOL inherit = FALSE;

  // An inheritable duplicate of helperctl's standard error, passed as the child's and inherited alone.
  UniqueHandle error_stream;
  std::vector<std::uint8_t> attribute_storage;
  HANDLE own_error = GetStdHandle(STD_ERROR_HANDLE);
  if (own_error != nullptr && own_error != INVALID_HANDLE_VALUE &&
      DuplicateHandle(GetCurrentProcess(), own_error, GetCurrentProcess(), error_stream.put(), 0, TRUE,
                      DUPLICATE_SAME_ACCESS)) {
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nullptr;
    startup.StartupInfo.hStdOutput = nullptr;
    startup.StartupInfo.hStdError = error_stream.get();
    inherit = TRUE;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attribute_storage.resize(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attribute_storage.data());
    if (size > 0 && InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
      if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &startup.StartupInfo.hStdError,
                                    sizeof(HANDLE), nullptr, nullptr)) {
        startup.lpAttributeList = attributes;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
      } else {
        DeleteProcThreadAttributeList(attributes);
      }
    }
  }

  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, inherit, flags, nullptr,
                                      nullptr, &startup.StartupInfo, &info);
  const DWORD create_error = GetLastError();
  if (startup.lpAttributeList != nullptr) {
    DeleteProcThreadAttributeList(startup.lpAttributeList);
  }
  if (!created) {
    return corvane::fail("cannot start " + corvane::utf16_to_utf8_lossy(std::wstring_view(path)) + ": " +
                         system_error_text(create_error));
  }
  CloseHandle(info.hThread);
  return StartedHelper{UniqueHandle(info.hProcess)};
}

bool has_exited(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

struct HelperGone {};
using ConnectOutcome = std::variant<UniqueFileHandle, HelperGone, std::string>;

// Opens the client end of the helper's pipe, waiting while it does not exist yet; gives up when the
// helper has exited.
ConnectOutcome connect(const std::wstring& pipe_name, HANDLE process) {
  const ULONGLONG deadline = GetTickCount64() + kConnectLimitMs;
  while (true) {
    UniqueFileHandle pipe(
        CreateFileW(pipe_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (pipe) {
      return ConnectOutcome(std::move(pipe));
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PIPE_BUSY) {
      return "cannot open the helper's pipe: " + system_error_text(code);
    }
    if (has_exited(process)) {
      return HelperGone{};
    }
    if (GetTickCount64() >= deadline) {
      return std::string("the helper did not open its pipe within ") + std::to_string(kConnectLimitMs / 1000) +
             " seconds";
    }
    // WaitNamedPipeW fails at once while the pipe does not exist: then wait on the process instead,
    // which also ends the step as soon as the helper exits.
    if (!WaitNamedPipeW(pipe_name.c_str(), kConnectStepMs) && GetLastError() == ERROR_FILE_NOT_FOUND) {
      WaitForSingleObject(process, kConnectStepMs);
    }
  }
}

bool connection_gone(std::uint32_t os_code) {
  return protocol::is_disconnect_code(os_code) || os_code == kErrorBadPipe;
}

// One connection: runs the actions and prints what arrives.
class ClientSession {
 public:
  explicit ClientSession(PipeStream& pipe) : pipe_(pipe) {}

  // Sends a request and prints frames up to and including its reply.
  void request(const protocol::HelperEnvelope& envelope) {
    if (!open()) {
      return;
    }
    const auto written = protocol::write_frame(pipe_, envelope);
    if (!written) {
      transport_failure("cannot write to the helper's pipe", written.error());
      return;
    }
    while (open()) {
      const auto frame = read_one();
      if (frame && frame->request_id == envelope.request_id) {
        return;
      }
    }
  }

  void watch(std::uint32_t milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (open()) {
      const auto state = protocol::poll_frame(pipe_);
      if (!state) {
        transport_failure("cannot read from the helper's pipe", state.error());
        return;
      }
      if (*state == protocol::PollState::ready) {
        read_one();
        continue;
      }
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) {
        return;
      }
      Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kWatchPollMs, deadline - now)));
    }
  }

  void write_raw(const std::vector<std::uint8_t>& bytes) {
    std::span<const std::uint8_t> left(bytes);
    while (open() && !left.empty()) {
      const auto written = pipe_.write(left);
      if (!written) {
        transport_failure("cannot write to the helper's pipe", written.error());
        return;
      }
      if (*written == 0) {
        transport_failure("cannot write to the helper's pipe",
                          protocol::TransportError{0, "failed to write whole buffer"});
        return;
      }
      left = left.subspan(*written);
    }
  }

  void read() {
    if (open()) {
      read_one();
    }
  }

  // Prints the frames that are already waiting, without blocking.
  void drain() {
    while (open()) {
      const auto state = protocol::poll_frame(pipe_);
      if (!state) {
        transport_failure("cannot read from the helper's pipe", state.error());
        return;
      }
      if (*state != protocol::PollState::ready) {
        return;
      }
      read_one();
    }
  }

  bool open() const { return !ended_ && !failed_; }
  // True when the connection failed in a way that is not the helper going away.
  bool failed() const { return failed_; }

 private:
  // Reads and prints one frame; nothing when the connection ended or failed.
  std::optional<protocol::HelperEnvelope> read_one() {
    auto frame = protocol::read_frame(pipe_, protocol::Sender::helper);
    if (!frame) {
      transport_failure("cannot read a frame from the helper", frame.error());
      return std::nullopt;
    }
    if (std::holds_alternative<protocol::Disconnected>(*frame)) {
      ended_ = true;
      return std::nullopt;
    }
    auto& envelope = std::get<protocol::HelperEnvelope>(*frame);
    print_line(helperctl::envelope_json_line(envelope));
    return std::move(envelope);
  }

  void transport_failure(std::string_view what, const protocol::TransportError& error) {
    if (error.os_code != 0 && connection_gone(error.os_code)) {
      ended_ = true;
      return;
    }
    print_error(std::string(what) + ": " + error.message);
    failed_ = true;
  }

  PipeStream& pipe_;
  bool ended_ = false;
  bool failed_ = false;
};

// Waits (bounded) for the helper to exit and yields its exit code, or reports why it is not known.
std::optional<DWORD> helper_exit_code(HANDLE process) {
  if (WaitForSingleObject(process, kExitLimitMs) != WAIT_OBJECT_0) {
    print_error("the helper did not exit within " + std::to_string(kExitLimitMs / 1000) +
                " seconds after the connection ended; it was terminated");
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kExitLimitMs);
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) {
    print_error("cannot read the helper's exit code: " + corvane::helper::last_error_text());
    return std::nullopt;
  }
  return code;
}

int run(const helperctl::Invocation& invocation) {
  std::array<std::uint8_t, 16> uuid_bytes{};
  corvane::helper::LaunchConfig config;
  if (!random_bytes(uuid_bytes) || !random_bytes(config.nonce)) {
    print_error("cannot generate random bytes: BCryptGenRandom failed");
    return kOwnErrorExitCode;
  }
  config.pipe_id = helperctl::uuid_v4_text(uuid_bytes);
  config.parent_pid = GetCurrentProcessId();

  const std::wstring helper_path =
      invocation.helper_path.empty() ? default_helper_path() : corvane::utf8_to_utf16<wchar_t>(invocation.helper_path);
  const std::string command_line =
      helperctl::helper_command_line(corvane::utf16_to_utf8_lossy(std::wstring_view(helper_path)), config.pipe_id,
                                     corvane::lower_hex(config.nonce), config.parent_pid);
  auto started = start_helper(helper_path, command_line);
  if (!started) {
    print_error(started.error());
    return kOwnErrorExitCode;
  }
  const HANDLE process = started->process.get();

  auto connected = connect(corvane::utf8_to_utf16<wchar_t>(corvane::helper::pipe_name(config.pipe_id)), process);
  if (auto* message = std::get_if<std::string>(&connected)) {
    print_error(*message);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kExitLimitMs);
    return kOwnErrorExitCode;
  }
  bool failed = false;
  if (auto* pipe_handle = std::get_if<UniqueFileHandle>(&connected)) {
    PipeStream pipe(std::move(*pipe_handle));
    ClientSession session(pipe);
    session.request(helperctl::authenticate_request(config.nonce, config.parent_pid));
    for (const auto& action : invocation.actions) {
      if (!session.open()) {
        break;
      }
      std::visit(
          [&session](const auto& step) {
            using Step = std::decay_t<decltype(step)>;
            if constexpr (std::is_same_v<Step, helperctl::SendRequest>) {
              session.request(step.envelope);
            } else if constexpr (std::is_same_v<Step, helperctl::WatchEvents>) {
              session.watch(step.milliseconds);
            } else if constexpr (std::is_same_v<Step, helperctl::WriteRaw>) {
              session.write_raw(step.bytes);
            } else {
              session.read();
            }
          },
          action);
    }
    session.drain();
    failed = session.failed();
    pipe.close();
  }
  const auto code = helper_exit_code(process);
  if (!code || failed) {
    return kOwnErrorExitCode;
  }
  return static_cast<int>(*code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    auto word = corvane::utf16_to_utf8_strict(std::wstring_view(argv[i]));
    if (!word) {
      print_error("argument " + std::to_string(i) + " is not valid Unicode");
      return kOwnErrorExitCode;
    }
    words.push_back(std::move(*word));
  }
  const auto invocation = helperctl::parse_invocation(words);
  if (!invocation) {
    print_error(invocation.error());
    return kOwnErrorExitCode;
  }
  if (invocation->show_usage) {
    write_all(GetStdHandle(STD_OUTPUT_HANDLE), helperctl::usage_text());
    return 0;
  }
  return run(*invocation);
}
