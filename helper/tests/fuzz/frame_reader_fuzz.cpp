// libFuzzer target: the frame reader (poll_frame, read_frame) over a scripted in-memory stream.
// The first three bytes of an input say how the stream behaves, the rest is what it carries:
//   byte 0  bit 7: the frames are read as the client's (set) or the helper's; bits 0-6: the most
//           bytes one read hands out (0: no limit)
//   byte 1  the content arrives in pieces of this many bytes, one piece whenever a poll is not
//           ready or a read waits (0: all of it is there from the start)
//   byte 2  one failing call (0: none); bit 7: a peek (set) or a read; bits 5-6: its system code
//           (109, 232, 233, 5); bits 0-4: which call of its kind, counted from 0
// Polls and reads alternate until the stream ends or a call fails. Each outcome is checked against
// what the content says: a ready poll is followed by exactly one whole frame, the reader takes no
// more than one frame per call, and what it decodes matches the envelope decoder on the body.
// The command loop's receiver, fed the same content in the same pieces (and then the client gone),
// must take off the same envelopes in the same order and end as read_frame ends on the whole content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "protocol/frames.h"
#include "protocol/messages.h"
#include "scripted_stream.h"

namespace {

using corvane::protocol::decode_envelope;
using corvane::protocol::Disconnected;
using corvane::protocol::encode_envelope;
using corvane::protocol::FrameReceiver;
using corvane::protocol::HelperEnvelope;
using corvane::protocol::kFrameHeader;
using corvane::protocol::kMaxFrameBody;
using corvane::protocol::PollState;
using corvane::protocol::Sender;
using corvane::protocol::TransportError;
using corvane::testing::ScriptedStream;

struct Failing {
  std::uint32_t os_code;
  const char* message;
};

constexpr Failing kFailures[] = {
    {109, "The pipe has been ended. (os error 109)"},
    {232, "The pipe is being closed. (os error 232)"},
    {233, "No process is on the other end of the pipe. (os error 233)"},
    {5, "Access is denied. (os error 5)"},
};

void check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "frame reader: %s\n", what);
    std::abort();
  }
}

bool same_error(const TransportError& error, std::uint32_t os_code, const std::string& message) {
  return error.os_code == os_code && error.message == message;
}

bool ends_stream(std::uint32_t os_code) { return os_code == 109 || os_code == 232; }

// The frame header the content holds at `offset`, if all 4 bytes of it are there.
struct Header {
  bool complete = false;
  std::size_t length = 0;
};

Header header_at(std::span<const std::uint8_t> content, std::size_t offset) {
  if (content.size() - offset < kFrameHeader) {
    return {};
  }
  const std::size_t length =
      static_cast<std::size_t>(content[offset]) | (static_cast<std::size_t>(content[offset + 1]) << 8) |
      (static_cast<std::size_t>(content[offset + 2]) << 16) | (static_cast<std::size_t>(content[offset + 3]) << 24);
  return {true, length};
}

bool length_valid(std::size_t length) { return length >= 1 && length <= kMaxFrameBody; }

const std::string kInvalidLength = "protobuf frame length is invalid";
const std::string kFillFailed = "failed to fill whole buffer";

// The envelopes (encoded again, so that NaN compares) and how the stream ended.
struct Taken {
  std::vector<std::vector<std::uint8_t>> envelopes;
  std::string end;
};

Taken read_all(std::span<const std::uint8_t> content, Sender sender) {
  ScriptedStream stream;
  stream.append(content);
  Taken taken;
  for (;;) {
    auto result = read_frame(stream, sender);
    if (!result) {
      taken.end = result.error().message;
      return taken;
    }
    if (std::holds_alternative<Disconnected>(*result)) {
      taken.end = "disconnected";
      return taken;
    }
    taken.envelopes.push_back(encode_envelope(std::get<HelperEnvelope>(*result)));
  }
}

Taken receive_all(std::span<const std::uint8_t> content, std::size_t piece, Sender sender) {
  ScriptedStream stream;
  FrameReceiver receiver;
  std::size_t offset = 0;
  Taken taken;
  for (;;) {
    auto result = receiver.receive(stream, sender);
    if (!result) {
      taken.end = result.error().error.message;
      return taken;
    }
    if (std::holds_alternative<Disconnected>(*result)) {
      taken.end = "disconnected";
      return taken;
    }
    if (const auto* envelope = std::get_if<HelperEnvelope>(&*result)) {
      taken.envelopes.push_back(encode_envelope(*envelope));
      continue;
    }
    if (offset == content.size()) {
      stream.fail_peek(stream.peeks() + 1, 109, "The pipe has been ended. (os error 109)");
      continue;
    }
    const std::size_t size = piece == 0 ? content.size() : std::min(piece, content.size() - offset);
    stream.append(content.subspan(offset, size));
    offset += size;
  }
}

void check_receiver(std::span<const std::uint8_t> content, std::size_t piece, Sender sender) {
  const Taken expected = read_all(content, sender);
  const Taken received = receive_all(content, piece, sender);
  check(received.envelopes == expected.envelopes, "the receiver took other frames than the reader");
  check(received.end == expected.end, "the receiver ended otherwise than the reader");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) {
    return 0;
  }
  const Sender sender = (data[0] & 0x80) != 0 ? Sender::client : Sender::helper;
  const std::size_t read_limit = data[0] & 0x7F;
  const std::size_t piece = data[1];
  const std::uint8_t failure = data[2];
  const std::span<const std::uint8_t> content(data + 3, size - 3);
  check_receiver(content, piece, sender);

  ScriptedStream stream;
  if (read_limit != 0) {
    stream.read_in_chunks(read_limit);
  }
  if (piece == 0) {
    stream.append(content);
  } else {
    for (std::size_t offset = 0; offset < content.size(); offset += piece) {
      const auto part = content.subspan(offset, std::min(piece, content.size() - offset));
      stream.arrive_later(std::vector<std::uint8_t>(part.begin(), part.end()));
    }
  }
  const Failing& failing = kFailures[(failure >> 5) & 3];
  const std::string failing_message = failing.message;
  const bool peek_fails = (failure & 0x80) != 0;
  const std::size_t failing_call = static_cast<std::size_t>(failure & 0x1F) + 1;
  if (failure != 0) {
    if (peek_fails) {
      stream.fail_peek(failing_call, failing.os_code, failing_message);
    } else {
      stream.fail_read(failing_call, failing.os_code, failing_message);
    }
  }

  // Every round either makes a piece arrive or reads at least a header, so this ends.
  for (;;) {
    const std::size_t start = stream.consumed();
    const Header header = header_at(content, start);

    const std::size_t failures_before_poll = stream.failures_reported();
    const auto polled = poll_frame(stream);
    check(stream.consumed() == start, "the poll consumed bytes");
    const std::size_t waiting = stream.waiting();
    const bool whole_frame = waiting >= kFrameHeader && header.complete && length_valid(header.length) &&
                             waiting >= kFrameHeader + header.length;
    bool ready = false;
    if (!polled) {
      if (stream.failures_reported() != failures_before_poll) {
        check(same_error(polled.error(), failing.os_code, failing_message), "a peek failure was changed");
        return 0;
      }
      check(waiting >= kFrameHeader && header.complete && !length_valid(header.length),
            "the poll failed without a failing peek or an invalid length");
      check(same_error(polled.error(), 0, kInvalidLength), "an invalid length has the wrong error");
    } else if (*polled == PollState::not_ready) {
      check(!whole_frame, "the poll is not ready with a whole frame waiting");
      check(waiting < kFrameHeader || length_valid(header.length), "the poll is not ready with an invalid length");
      if (stream.deliver_next()) {
        continue;
      }
    } else {
      check(whole_frame, "the poll is ready without a whole frame");
      ready = true;
    }

    const std::size_t failures_before_read = stream.failures_reported();
    const std::size_t reads_before = stream.reads();
    const auto result = read_frame(stream, sender);
    const std::size_t used = stream.consumed() - start;
    check(stream.empty_reads() == 0, "a read was offered an empty buffer");
    check(stream.consumed() <= content.size(), "the reader consumed more than the stream carried");

    if (stream.failures_reported() != failures_before_read) {
      check(stream.reads() == failing_call && failing_call > reads_before, "a failed read was retried");
      if (result) {
        check(std::holds_alternative<Disconnected>(*result), "an envelope despite a failed read");
        check(ends_stream(failing.os_code) && used < kFrameHeader, "a failure was taken for a disconnect");
      } else if (ends_stream(failing.os_code)) {
        check(used >= kFrameHeader && same_error(result.error(), 0, kFillFailed),
              "a closed pipe in the body is not a short frame");
      } else {
        check(same_error(result.error(), failing.os_code, failing_message), "a read failure was changed");
      }
      return 0;
    }

    if (result && std::holds_alternative<Disconnected>(*result)) {
      check(!ready, "a ready frame was read as a disconnect");
      check(used < kFrameHeader && start + used == content.size(), "a disconnect before the end of the stream");
      return 0;
    }
    check(header.complete, "a result other than a disconnect without a whole header");
    if (!length_valid(header.length)) {
      check(!result && same_error(result.error(), 0, kInvalidLength), "an invalid length was not refused");
      check(used == kFrameHeader, "the reader went past an invalid header");
      return 0;
    }
    if (!result && result.error().message == kFillFailed) {
      check(!ready, "a ready frame failed to fill its buffer");
      check(result.error().os_code == 0 && start + used == content.size() && used < kFrameHeader + header.length,
            "a short frame before the end of the stream");
      return 0;
    }
    check(used == kFrameHeader + header.length, "the reader did not take exactly one frame");

    const auto expected = decode_envelope(content.subspan(start + kFrameHeader, header.length), sender);
    if (!expected) {
      check(!result &&
                same_error(result.error(), 0, std::string(corvane::protocol::proto_error_message(expected.error()))),
            "a decode failure was reported differently");
      return 0;
    }
    check(result.ok() && std::holds_alternative<HelperEnvelope>(*result), "a decodable frame was not read");
    // Compared as bytes: decoded doubles may be NaN, which never equals itself.
    check(encode_envelope(std::get<HelperEnvelope>(*result)) == encode_envelope(*expected),
          "the reader decoded something else than the decoder");
  }
}
