#include "main/pipe_stream.h"

#include <chrono>
#include <limits>

#include "platform/blocking_call_guard.h"
#include "platform/os_error.h"

namespace corvane::helper {

namespace {

// How long a closing server waits for its client to read what is still in the pipe.
constexpr std::chrono::milliseconds kFlushLimit{2000};

bool system_failure(protocol::TransportError& error) {
  const DWORD code = GetLastError();
  error = protocol::TransportError{code, system_error_text(code)};
  return false;
}

DWORD clamp_size(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, std::numeric_limits<DWORD>::max()));
}

}  // namespace

bool PipeStream::peek(std::span<std::uint8_t> buffer, std::size_t& copied, std::size_t& available,
                      protocol::TransportError& error) {
  DWORD got = 0;
  DWORD total = 0;
  if (!PeekNamedPipe(pipe_.get(), buffer.data(), clamp_size(buffer.size()), &got, &total, nullptr)) {
    return system_failure(error);
  }
  copied = got;
  available = total;
  return true;
}

bool PipeStream::read(std::span<std::uint8_t> buffer, std::size_t& got, protocol::TransportError& error) {
  DWORD count = 0;
  if (!ReadFile(pipe_.get(), buffer.data(), clamp_size(buffer.size()), &count, nullptr)) {
    return system_failure(error);
  }
  got = count;
  return true;
}

bool PipeStream::write(std::span<const std::uint8_t> bytes, std::size_t& written, protocol::TransportError& error) {
  DWORD count = 0;
  if (!WriteFile(pipe_.get(), bytes.data(), clamp_size(bytes.size()), &count, nullptr)) {
    return system_failure(error);
  }
  written = count;
  return true;
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
