#pragma once
// The frame stream over a connected named-pipe handle (either end).

#include <windows.h>

#include "platform/handles.h"
#include "protocol/frames.h"

namespace corvane::helper {

// Peek, read and write on a byte-mode pipe; owns the handle.
class PipeStream final : public protocol::FrameStream {
 public:
  explicit PipeStream(UniqueFileHandle pipe) : pipe_(std::move(pipe)) {}

  Expected<protocol::Peeked, protocol::TransportError> peek(std::span<std::uint8_t> buffer) override;
  Expected<std::size_t, protocol::TransportError> read(std::span<std::uint8_t> buffer) override;
  Expected<std::size_t, protocol::TransportError> write(std::span<const std::uint8_t> bytes) override;

  HANDLE handle() const noexcept { return pipe_.get(); }
  // Server end: waits (at most 2 s) until the client has read what was written, disconnects it,
  // closes the handle.
  void disconnect_and_close() noexcept;
  // Closes the handle (client end).
  void close() noexcept { pipe_.reset(); }

 private:
  UniqueFileHandle pipe_;
};

}  // namespace corvane::helper
