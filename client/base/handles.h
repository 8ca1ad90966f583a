#pragma once
// The host's owner of a kernel handle (Windows).

#include <windows.h>

#include <memory>

namespace corvane::client {

// Closes a kernel handle and leaves GetLastError as it was, so that a failure can still be read
// after the handles of the failed step are gone.
struct KernelHandleCloser {
  void operator()(HANDLE handle) const noexcept {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
  }
};

// A kernel handle closed when it goes out of scope; null is "no handle".
using ScopedHandle = std::unique_ptr<void, KernelHandleCloser>;

// A CreateFileW result as a ScopedHandle: INVALID_HANDLE_VALUE becomes null.
inline ScopedHandle FileHandle(HANDLE file) { return ScopedHandle(file == INVALID_HANDLE_VALUE ? nullptr : file); }

}  // namespace corvane::client
