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
#include "main/os_error.h"

namespace corvane::helper {

Result<std::uint32_t> verify_parent(std::uint32_t parent_pid) {
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
    return fail("inspect parent process: parent process not found");
  }
  if (actual_parent != parent_pid) {
    return fail("declared parent process does not own the helper");
  }
  return static_cast<std::uint32_t>(actual_parent);
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

Result<UniqueFileHandle> accept_parent_client(UniqueFileHandle pipe, std::uint32_t parent_pid) {
  if (!ConnectNamedPipe(pipe.get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    return fail("accept named-pipe client: " + last_error_text());
  }
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
