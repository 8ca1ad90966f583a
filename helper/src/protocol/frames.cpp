#include "protocol/frames.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace corvane::protocol {

namespace {

TransportError invalid_length() { return TransportError{0, "protobuf frame length is invalid"}; }

std::uint32_t little_endian_length(const std::array<std::uint8_t, kFrameHeader>& header) {
  return static_cast<std::uint32_t>(header[0]) | (static_cast<std::uint32_t>(header[1]) << 8) |
         (static_cast<std::uint32_t>(header[2]) << 16) | (static_cast<std::uint32_t>(header[3]) << 24);
}

bool length_valid(std::uint32_t length) { return length >= 1 && length <= kMaxFrameBody; }

// End of stream while reading: a read of 0 bytes, or the codes of a closed pipe.
bool is_end_of_stream(const TransportError& error) {
  return error.os_code == kErrorBrokenPipe || error.os_code == kErrorNoData;
}

enum class FillOutcome : std::uint8_t { filled, ended, failed };

// Reads exactly buffer.size() bytes, looping over partial reads; no failure is retried.
FillOutcome fill(FrameStream& stream, std::span<std::uint8_t> buffer, TransportError& error) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const Expected<std::size_t, TransportError> got = stream.read(buffer.subspan(done));
    if (!got) {
      error = got.error();
      return is_end_of_stream(error) ? FillOutcome::ended : FillOutcome::failed;
    }
    if (*got == 0) {
      return FillOutcome::ended;
    }
    done += *got;
  }
  return FillOutcome::filled;
}

// Writes all of `bytes`, looping over partial writes.
bool write_all(FrameStream& stream, std::span<const std::uint8_t> bytes, TransportError& error) {
  while (!bytes.empty()) {
    const Expected<std::size_t, TransportError> written = stream.write(bytes);
    if (!written) {
      error = written.error();
      return false;
    }
    if (*written == 0) {
      error = TransportError{0, "failed to write whole buffer"};
      return false;
    }
    bytes = bytes.subspan(*written);
  }
  return true;
}

}  // namespace

bool is_disconnect_code(std::uint32_t os_code) {
  return os_code == kErrorBrokenPipe || os_code == kErrorNoData || os_code == kErrorPipeNotConnected;
}

Expected<PollState, TransportError> poll_frame(FrameStream& stream) {
  std::array<std::uint8_t, kFrameHeader> header{};
  const Expected<Peeked, TransportError> peeked = stream.peek(header);
  if (!peeked) {
    return fail(peeked.error());
  }
  if (peeked->copied < kFrameHeader || peeked->available < kFrameHeader) {
    return PollState::not_ready;
  }
  const std::uint32_t length = little_endian_length(header);
  if (!length_valid(length)) {
    return fail(invalid_length());
  }
  return peeked->available >= length + kFrameHeader ? PollState::ready : PollState::not_ready;
}

Expected<std::variant<HelperEnvelope, Disconnected>, TransportError> read_frame(FrameStream& stream, Sender sender) {
  std::array<std::uint8_t, kFrameHeader> header{};
  TransportError error;
  switch (fill(stream, header, error)) {
    case FillOutcome::ended:
      return std::variant<HelperEnvelope, Disconnected>(Disconnected{});
    case FillOutcome::failed:
      return fail(std::move(error));
    case FillOutcome::filled:
      break;
  }
  const std::uint32_t length = little_endian_length(header);
  if (!length_valid(length)) {
    return fail(invalid_length());
  }
  std::vector<std::uint8_t> body(length);
  switch (fill(stream, body, error)) {
    case FillOutcome::ended:
      return fail(TransportError{0, "failed to fill whole buffer"});
    case FillOutcome::failed:
      return fail(std::move(error));
    case FillOutcome::filled:
      break;
  }
  auto envelope = decode_envelope(body, sender);
  if (!envelope) {
    return fail(TransportError{0, std::string(proto_error_message(envelope.error()))});
  }
  return std::variant<HelperEnvelope, Disconnected>(std::move(envelope).value());
}

Expected<Done, TransportError> write_frame(FrameStream& stream, const HelperEnvelope& envelope) {
  const std::vector<std::uint8_t> body = encode_envelope(envelope);
  if (body.empty() || body.size() > kMaxFrameBody) {
    return fail(invalid_length());
  }
  const auto size = static_cast<std::uint32_t>(body.size());
  const std::array<std::uint8_t, kFrameHeader> header = {
      static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size >> 16),
      static_cast<std::uint8_t>(size >> 24)};
  TransportError error;
  if (!write_all(stream, header, error) || !write_all(stream, body, error)) {
    return fail(std::move(error));
  }
  return Done{};
}

Expected<Incoming, ReceiveError> FrameReceiver::receive(FrameStream& stream, Sender sender) {
  std::array<std::uint8_t, kFrameHeader> peeked{};
  const Expected<Peeked, TransportError> seen = stream.peek(peeked);
  if (!seen) {
    if (is_disconnect_code(seen.error().os_code)) {
      return left_inside_frame();
    }
    return fail(ReceiveError{ReceiveStep::poll, seen.error()});
  }
  const std::size_t copied = seen->copied;
  const std::size_t available = seen->available;
  const std::size_t have = pending_.size();
  if (have + available < kFrameHeader) {
    if (auto end = take(stream, available)) {
      return std::move(*end);
    }
    return Incoming(NotReady{});
  }
  // The header: what was taken already, completed from the front of what waits.
  const std::size_t from_pending = std::min(have, kFrameHeader);
  if (copied < kFrameHeader - from_pending) {
    return Incoming(NotReady{});
  }
  std::array<std::uint8_t, kFrameHeader> header{};
  std::copy_n(pending_.begin(), from_pending, header.begin());
  std::copy_n(peeked.begin(), kFrameHeader - from_pending, header.begin() + static_cast<std::ptrdiff_t>(from_pending));
  const std::uint32_t length = little_endian_length(header);
  if (!length_valid(length)) {
    return fail(ReceiveError{ReceiveStep::poll, invalid_length()});
  }
  const std::size_t frame_size = kFrameHeader + length;
  pending_.reserve(frame_size);
  // Never more than this frame: what waits beyond it belongs to the next one.
  if (auto end = take(stream, std::min(available, frame_size - have))) {
    return std::move(*end);
  }
  if (pending_.size() < frame_size) {
    return Incoming(NotReady{});
  }
  const std::vector<std::uint8_t> frame = std::exchange(pending_, {});
  auto envelope = decode_envelope(std::span(frame).subspan(kFrameHeader), sender);
  if (!envelope) {
    return fail(ReceiveError{ReceiveStep::read, TransportError{0, std::string(proto_error_message(envelope.error()))}});
  }
  return Incoming(std::move(envelope).value());
}

std::optional<Expected<Incoming, ReceiveError>> FrameReceiver::take(FrameStream& stream, std::size_t count) {
  const std::size_t target = pending_.size() + count;
  while (pending_.size() < target) {
    const std::size_t before = pending_.size();
    pending_.resize(target);
    const Expected<std::size_t, TransportError> got = stream.read(std::span(pending_).subspan(before));
    pending_.resize(before + (got ? *got : 0));
    if (!got && !is_end_of_stream(got.error())) {
      return fail(ReceiveError{ReceiveStep::read, got.error()});
    }
    if (!got || *got == 0) {
      return left_inside_frame();
    }
  }
  return std::nullopt;
}

Expected<Incoming, ReceiveError> FrameReceiver::left_inside_frame() {
  const bool inside_body = pending_.size() >= kFrameHeader;
  pending_ = {};
  if (inside_body) {
    return fail(ReceiveError{ReceiveStep::read, TransportError{0, "failed to fill whole buffer"}, true});
  }
  return Incoming(Disconnected{});
}

}  // namespace corvane::protocol
