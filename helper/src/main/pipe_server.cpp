#include "main/pipe_server.h"

// clang-format off
#include <windows.h>
#include <sddl.h>
#include <tlhelp32.h>
// clang-format on

#include <cstring>
#include <vector>

#include "common/unicode.h"
#include "main/launch_config.h"
#include "platform/blocking_call_guard.h"
#include "platform/os_error.h"

namespace corvane::helper {

namespace {

constexpr const char* kParentNotFound = "inspect parent process: parent process not found";
constexpr const char* kNotTheParent = "declared parent process does not own the helper";

// When `process` was created, in FILETIME units; the system's error when its times cannot be read.
Result<std::uint64_t> creation_time(HANDLE process) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (GetProcessTimes(process, &created, &exited, &kernel, &user) == 0) {
    return fail(last_error_text());
  }
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

bool has_ended(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

}  // namespace

Result<UniqueHandle> open_parent_process(std::uint32_t pid) {
  UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) {
    if (GetLastError() == ERROR_INVALID_PARAMETER) {  // no process has this ID
      return fail(kParentNotFound);
    }
    return fail("inspect parent process: " + last_error_text());
  }
  const Result<std::uint64_t> parent_created = creation_time(process.get());
  if (!parent_created) {
    return fail("inspect parent process: " + parent_created.error());
  }
  const Result<std::uint64_t> own_created = creation_time(GetCurrentProcess());
  if (!own_created) {
    return fail("inspect parent process: " + own_created.error());
  }
  if (has_ended(process.get())) {
    return fail(kParentNotFound);
  }
  if (*parent_created > *own_created) {
    return fail(kNotTheParent);
  }
  return process;
}

Result<VerifiedParent> verify_parent(std::uint32_t parent_pid) {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    return fail("inspect parent process: " + last_error_text());
  }
  const DWORD own_pid = GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  bool found = false;
  DWORD actual_parent = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == own_pid) {
      found = true;
      actual_parent = entry.th32ParentProcessID;
      break;
    }
  }
  snapshot.reset();
  if (!found) {
    return fail(kParentNotFound);
  }
  if (actual_parent != parent_pid) {
    return fail(kNotTheParent);
  }
  // Taken after the snapshot: should the parent have ended and its ID gone to a newer process in
  // between, that process is younger than this one and refused.
  auto process = open_parent_process(actual_parent);
  if (!process) {
    return fail(process.error());
  }
  return VerifiedParent{static_cast<std::uint32_t>(actual_parent), std::move(process).value()};
}

std::wstring restricted_pipe_sddl(const std::wstring& user_sid) {
  return L"O:" + user_sid + L"D:P(A;;GA;;;" + user_sid + L")";
}

namespace {

// The string form of this process token's user SID.
Result<std::wstring> current_user_sid() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return fail(last_error_text());
  }
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size < 16) {
    return fail(last_error_text());
  }
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return fail(last_error_text());
  }
  TOKEN_USER user{};
  std::memcpy(&user, buffer.data(), sizeof user);
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(user.User.Sid, &text)) {
    return fail(last_error_text());
  }
  const UniqueLocalMemory owned(text);
  return std::wstring(text);
}

}  // namespace

Result<UniqueFileHandle> create_restricted_pipe(const std::string& pipe_id) {
  constexpr const char* kContext = "create restricted named pipe: ";
  auto sid = current_user_sid();
  if (!sid) {
    return fail(kContext + sid.error());
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(restricted_pipe_sddl(*sid).c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return fail(kContext + last_error_text());
  }
  const UniqueLocalMemory owned_descriptor(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
  const std::wstring name = utf8_to_utf16<wchar_t>(pipe_name(pipe_id));
  UniqueFileHandle pipe(
      CreateNamedPipeW(name.c_str(), kPipeOpenMode, kPipeMode, 1, kPipeBufferSize, kPipeBufferSize, 0, &attributes));
  if (!pipe) {
    return fail(kContext + last_error_text());
  }
  return pipe;
}

Result<UniqueFileHandle> accept_parent_client(UniqueFileHandle pipe, const VerifiedParent& parent) {
  BOOL connected = FALSE;
  DWORD connect_error = ERROR_SUCCESS;
  {
    // The wait has no time limit of its own; a parent that ends ends it (the pipe is synchronous).
    const BlockingCallGuard guard(parent.process.get(), std::nullopt);
    connected = ConnectNamedPipe(pipe.get(), nullptr);
    connect_error = connected ? ERROR_SUCCESS : GetLastError();
  }
  // Also connected: a client that came before the wait (535), or came, wrote and closed its end
  // before it (232; what it wrote is still there to read), so the outcome does not depend on how
  // soon this thread reached the wait.
  if (!connected && connect_error != ERROR_PIPE_CONNECTED && connect_error != ERROR_NO_DATA) {
    if (has_ended(parent.process.get())) {
      return fail("accept named-pipe client: parent process ended");
    }
    return fail("accept named-pipe client: " + system_error_text(connect_error));
  }
  const std::uint32_t parent_pid = parent.pid;
  ULONG client_pid = 0;
  if (!GetNamedPipeClientProcessId(pipe.get(), &client_pid)) {
    const std::string error = "inspect named-pipe client: " + last_error_text();
    DisconnectNamedPipe(pipe.get());
    return fail(error);
  }
  if (client_pid != parent_pid) {
    DisconnectNamedPipe(pipe.get());
    return fail("named-pipe client is not the helper parent");
  }
  return pipe;
}

}  // namespace corvane::helper
