#include "main/pipe_stream.h"

#include <chrono>
#include <limits>

#include "platform/blocking_call_guard.h"
#include "platform/os_error.h"

namespace corvane::helper {

namespace {

// How long a closing server waits for its client to read what is still in the pipe.
constexpr std::chrono::milliseconds kFlushLimit{2000};

// The thread's last error as a transport failure.
Failure<protocol::TransportError> system_failure() {
  const DWORD code = GetLastError();
  return fail(protocol::TransportError{code, system_error_text(code)});
}

DWORD clamp_size(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

}  // namespace

Expected<protocol::Peeked, protocol::TransportError> PipeStream::peek(std::span<std::uint8_t> buffer) {
  DWORD got = 0;
  DWORD total = 0;
  if (!PeekNamedPipe(pipe_.get(), buffer.data(), clamp_size(buffer.size()), &got, &total, nullptr)) {
    return system_failure();
  }
  return protocol::Peeked{got, total};
}

Expected<std::size_t, protocol::TransportError> PipeStream::read(std::span<std::uint8_t> buffer) {
  DWORD count = 0;
  if (!ReadFile(pipe_.get(), buffer.data(), clamp_size(buffer.size()), &count, nullptr)) {
    return system_failure();
  }
  return std::size_t{count};
}

Expected<std::size_t, protocol::TransportError> PipeStream::write(std::span<const std::uint8_t> bytes) {
  DWORD count = 0;
  if (!WriteFile(pipe_.get(), bytes.data(), clamp_size(bytes.size()), &count, nullptr)) {
    return system_failure();
  }
  return std::size_t{count};
}

void PipeStream::disconnect_and_close() noexcept {
  if (pipe_) {
    {
      // Disconnecting discards what the client has not read yet: a last reply (an authentication
      // failure, say) must reach the client first. The flush returns at once when the client has
      // gone, and waits while it is there but does not read; that wait is bounded.
      const BlockingCallGuard guard(nullptr, kFlushLimit);
      FlushFileBuffers(pipe_.get());
    }
    DisconnectNamedPipe(pipe_.get());
    pipe_.reset();
  }
}

}  // namespace corvane::helper
