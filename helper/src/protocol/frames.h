#pragma once
// Length-prefixed frames on the helper pipe: a 4-byte little-endian body length (1..1048576), then
// one encoded HelperEnvelope. The byte stream underneath is a seam: the pipe in the helper, memory in tests.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "protocol/messages.h"

namespace corvane::protocol {

// Largest frame body; the pipe's buffers hold one such frame with its header.
inline constexpr std::size_t kMaxFrameBody = 1048576;
inline constexpr std::size_t kFrameHeader = 4;

// System codes that a stream reports when the other end has gone.
inline constexpr std::uint32_t kErrorBrokenPipe = 109;
inline constexpr std::uint32_t kErrorNoData = 232;
inline constexpr std::uint32_t kErrorPipeNotConnected = 233;

// A failure of the transport: the system code (0 when the failure is not the system's) and its text.
struct TransportError {
  std::uint32_t os_code = 0;
  std::string message;
};

// What a peek saw: the bytes it copied, and how many are waiting in all.
struct Peeked {
  std::size_t copied = 0;
  std::size_t available = 0;
};

// The connected byte stream under the frames. Each call reports a system failure as a TransportError
// whose message is the system text + " (os error N)".
class FrameStream {
 public:
  FrameStream() = default;
  FrameStream(const FrameStream&) = delete;
  FrameStream& operator=(const FrameStream&) = delete;
  virtual ~FrameStream() = default;

  // Copies up to buffer.size() waiting bytes without consuming them; never blocks.
  virtual Expected<Peeked, TransportError> peek(std::span<std::uint8_t> buffer) = 0;
  // Reads at least one byte unless the stream ended (0 bytes); blocks until then. The bytes read.
  virtual Expected<std::size_t, TransportError> read(std::span<std::uint8_t> buffer) = 0;
  // Writes some of `bytes`; blocks until then. How many were written.
  virtual Expected<std::size_t, TransportError> write(std::span<const std::uint8_t> bytes) = 0;
};

// What the non-blocking poll saw.
enum class PollState : std::uint8_t { not_ready, ready };

// The client closed its end before a new frame began.
struct Disconnected {};

// Reports whether one whole frame is waiting, without consuming anything.
Expected<PollState, TransportError> poll_frame(FrameStream& stream);

// Reads and decodes one frame from `sender`; blocks until the whole frame has arrived.
Expected<std::variant<HelperEnvelope, Disconnected>, TransportError> read_frame(FrameStream& stream, Sender sender);

// Encodes and writes one frame; blocks until all of it was written.
Expected<Done, TransportError> write_frame(FrameStream& stream, const HelperEnvelope& envelope);

// True when a system code means the other end has gone (broken pipe, no data, not connected).
bool is_disconnect_code(std::uint32_t os_code);

// Nothing complete has arrived yet.
struct NotReady {};

// What one look at the stream found: nothing complete yet, one whole frame, or the client gone.
using Incoming = std::variant<NotReady, HelperEnvelope, Disconnected>;

// Where taking frames off the stream failed: at the look (the poll) or while reading a frame.
enum class ReceiveStep : std::uint8_t { poll, read };

struct ReceiveError {
  ReceiveStep step;
  TransportError error;
  bool client_left = false;  // the stream ended inside a frame's body ("failed to fill whole buffer")
};

// Frames for a loop that must never block on its client. Each call looks at the stream once and
// returns at once; the bytes of a frame that is still arriving are taken off the stream as they come
// and kept here. A client that leaves inside a frame is therefore seen: its last bytes would
// otherwise stay in the stream, and every look would find them there and report "not ready" for ever.
// Whole frames, and frames that arrive in pieces and do complete, are read exactly as poll_frame and
// read_frame would; an invalid length is reported as soon as the header is complete, by the poll.
class FrameReceiver {
 public:
  // Disconnected when the client left between frames or inside a header; a read error "failed to
  // fill whole buffer" when it left inside a body.
  Expected<Incoming, ReceiveError> receive(FrameStream& stream, Sender sender);

 private:
  // Reads `count` bytes that are known to wait onto the end of pending_; what ends the receive when
  // that fails (left_inside_frame when the stream ended, else the read error).
  std::optional<Expected<Incoming, ReceiveError>> take(FrameStream& stream, std::size_t count);
  // The stream ended: a disconnect between frames or inside a header, a read failure inside a body.
  Expected<Incoming, ReceiveError> left_inside_frame();

  std::vector<std::uint8_t> pending_;  // the frame that is arriving, header first
};

}  // namespace corvane::protocol
