#pragma once
// The helper's side of the pipe: parent verification, the restricted pipe, accepting only the parent.

#include <cstdint>
#include <string>

#include "common/result.h"
#include "platform/handles.h"

namespace corvane::helper {

// Pipe buffer sizes: one largest frame (1048576 body bytes) with its 4-byte header.
inline constexpr DWORD kPipeBufferSize = 1048580;
// Duplex, refused when a pipe of that name already exists, writes not buffered by the system.
inline constexpr DWORD kPipeOpenMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_WRITE_THROUGH;
static_assert(kPipeOpenMode == 0x80080003);
// Bytes in both directions, blocking calls, clients on other machines refused.
inline constexpr DWORD kPipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
static_assert(kPipeMode == 0x00000008);

// The verified parent: its process ID, and a handle to it so that the helper sees when it ends.
struct VerifiedParent {
  std::uint32_t pid = 0;
  UniqueHandle process;
};

// Confirms from a process snapshot that `parent_pid` started this process, then takes a handle to it
// (open_parent_process).
Result<VerifiedParent> verify_parent(std::uint32_t parent_pid);

// A handle to the running process `pid`, taken only when that process is older than this one: a
// parent is never younger than its child, so a younger process holds a reused ID ("declared parent
// process does not own the helper"). A process that has already ended is "parent process not found".
Result<UniqueHandle> open_parent_process(std::uint32_t pid);

// The SDDL text that lets only `user_sid` (and nobody by inheritance) use the pipe.
std::wstring restricted_pipe_sddl(const std::wstring& user_sid);

// Creates the one instance of "\\.\pipe\corvane-media-<pipe_id>" that only this user can open.
Result<UniqueFileHandle> create_restricted_pipe(const std::string& pipe_id);

// Waits for the one client and keeps it only if its process is the verified parent; otherwise the
// pipe is disconnected and closed. A parent that ends before anyone connected ends the wait ("accept
// named-pipe client: parent process ended").
Result<UniqueFileHandle> accept_parent_client(UniqueFileHandle pipe, const VerifiedParent& parent);

}  // namespace corvane::helper
