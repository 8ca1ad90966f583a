// Frame transport: poll, read and write over a scripted stream.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "hex.h"
#include "protocol/frames.h"
#include "scripted_stream.h"

namespace corvane::protocol {
namespace {

using corvane::testing::hex;
using corvane::testing::ScriptedStream;
using corvane::testing::to_hex;

// The HelperStatus "idle" reply to request "r1", as a whole frame.
constexpr std::string_view kIdleFrame = "11 00 00 00 08 01 12 02 72 31 AA 01 08 08 01 12 04 69 64 6C 65";
// The HelperStatus "ended" event, as a whole frame.
constexpr std::string_view kEndedFrame = "0E 00 00 00 08 01 AA 01 09 08 01 12 05 65 6E 64 65 64";
// The client's ListCaptureSources command for request "r3", as a whole frame.
constexpr std::string_view kListFrame = "08 00 00 00 08 01 12 02 72 33 6A 00";

constexpr std::string_view kBrokenPipeText = "The pipe has been ended. (os error 109)";
constexpr std::string_view kNoDataText = "The pipe is being closed. (os error 232)";
constexpr std::string_view kNotConnectedText = "No process is on the other end of the pipe. (os error 233)";
constexpr std::string_view kAccessDeniedText = "Access is denied. (os error 5)";

using ReadResult = Expected<std::variant<HelperEnvelope, Disconnected>, TransportError>;

std::string describe(const TransportError& error) {
  return "error " + std::to_string(error.os_code) + ": " + error.message;
}

std::string outcome(const Expected<PollState, TransportError>& result) {
  if (!result) {
    return describe(result.error());
  }
  return *result == PollState::ready ? "ready" : "not ready";
}

std::string outcome(const ReadResult& result) {
  if (!result) {
    return describe(result.error());
  }
  return std::holds_alternative<Disconnected>(*result) ? "disconnected" : "envelope";
}

std::string outcome(const Expected<Done, TransportError>& result) { return result ? "done" : describe(result.error()); }

HelperEnvelope envelope_of(const ReadResult& result) {
  if (!result || !std::holds_alternative<HelperEnvelope>(*result)) {
    ADD_FAILURE() << "expected an envelope, got " << outcome(result);
    return {};
  }
  return std::get<HelperEnvelope>(*result);
}

HelperEnvelope idle_reply() { return status_reply("r1", status_word::idle); }

// A StartBroadcast whose source ID is `length` bytes long.
HelperEnvelope broadcast_with_source_id(std::size_t length) {
  StartBroadcast start;
  start.capture_source_id.assign(length, 'm');
  return reply("big", start);
}

// A StartBroadcast whose encoded envelope is exactly `body_size` bytes (for sizes near the limit).
HelperEnvelope broadcast_of_body_size(std::size_t body_size) {
  // The encoding's overhead does not change for string lengths of the same varint width.
  const std::size_t overhead = encode_envelope(broadcast_with_source_id(body_size)).size() - body_size;
  return broadcast_with_source_id(body_size - overhead);
}

std::string expected_error(std::uint32_t code, std::string_view text) {
  return "error " + std::to_string(code) + ": " + std::string(text);
}

const std::string kInvalidLength = "error 0: protobuf frame length is invalid";
const std::string kFillFailed = "error 0: failed to fill whole buffer";
const std::string kWriteFailed = "error 0: failed to write whole buffer";

// ---- poll_frame

TEST(FramePoll, NotReadyUntilFourHeaderBytesAreSeen) {
  ScriptedStream stream;
  EXPECT_EQ(outcome(poll_frame(stream)), "not ready");
  stream.append(hex("11"));
  EXPECT_EQ(outcome(poll_frame(stream)), "not ready");
  stream.append(hex("00 00"));
  EXPECT_EQ(outcome(poll_frame(stream)), "not ready");
  EXPECT_EQ(stream.reads(), 0u);
  EXPECT_EQ(stream.consumed(), 0u);
}

TEST(FramePoll, NotReadyWhenThePeekCopiesOrCountsFewerThanFourBytes) {
  // The whole frame is there, but the peek copies only 3 bytes of it.
  ScriptedStream short_copy;
  short_copy.append(hex(kIdleFrame));
  short_copy.peek_at_most(3);
  EXPECT_EQ(outcome(poll_frame(short_copy)), "not ready");

  // 4 bytes copied, but the stream counts only 3 available: not ready, not yet a length check.
  ScriptedStream short_count;
  short_count.append(hex("00 00 00 00"));
  short_count.report_available(3);
  EXPECT_EQ(outcome(poll_frame(short_count)), "not ready");
}

TEST(FramePoll, ReadyOnlyOnceTheWholeBodyHasArrived) {
  const auto frame = hex(kIdleFrame);
  ScriptedStream stream;
  stream.append(std::span(frame).first(4));
  EXPECT_EQ(outcome(poll_frame(stream)), "not ready");
  stream.append(std::span(frame).subspan(4, 16));
  EXPECT_EQ(outcome(poll_frame(stream)), "not ready");
  EXPECT_EQ(stream.consumed(), 0u);

  stream.append(std::span(frame).subspan(20));
  EXPECT_EQ(outcome(poll_frame(stream)), "ready");
  EXPECT_EQ(stream.reads(), 0u);
  EXPECT_EQ(envelope_of(read_frame(stream, Sender::helper)), idle_reply());
  EXPECT_EQ(stream.waiting(), 0u);
}

TEST(FramePoll, BytesOfTheNextFrameDoNotHideAReadyOne) {
  ScriptedStream stream;
  stream.append(hex(kIdleFrame));
  stream.append(hex("0E 00 00"));
  EXPECT_EQ(outcome(poll_frame(stream)), "ready");
}

TEST(FramePoll, ZeroAndOversizedLengthsAreErrorsThatConsumeNothing) {
  for (const std::string_view header : {"00 00 00 00", "01 00 10 00", "00 00 00 01", "FF FF FF FF"}) {
    SCOPED_TRACE(header);
    ScriptedStream stream;
    stream.append(hex(header));
    stream.append(hex("08 01 12 02 72 31"));
    EXPECT_EQ(outcome(poll_frame(stream)), kInvalidLength);
    EXPECT_EQ(stream.reads(), 0u);
    EXPECT_EQ(stream.consumed(), 0u);
    // The header is still there for the reader, which refuses it in turn.
    EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), kInvalidLength);
    EXPECT_EQ(stream.consumed(), 4u);
  }
}

TEST(FramePoll, AnInvalidLengthIsAnErrorAsSoonAsItsFourBytesAreThere) {
  ScriptedStream stream;
  stream.append(hex("00 00 00 00"));  // the header alone, nothing after it
  EXPECT_EQ(outcome(poll_frame(stream)), kInvalidLength);
}

TEST(FramePoll, TheLargestLengthIsValid) {
  ScriptedStream stream;
  stream.append(hex("00 00 10 00"));
  stream.report_available(1048579);
  EXPECT_EQ(outcome(poll_frame(stream)), "not ready");
  stream.report_available(1048580);
  EXPECT_EQ(outcome(poll_frame(stream)), "ready");
}

TEST(FramePoll, APeekFailureIsReportedUnchanged) {
  ScriptedStream denied;
  denied.append(hex(kIdleFrame));
  denied.fail_peek(1, 5, std::string(kAccessDeniedText));
  EXPECT_EQ(outcome(poll_frame(denied)), expected_error(5, kAccessDeniedText));

  // Even the codes of a closed pipe come back as errors from the poll.
  ScriptedStream broken;
  broken.fail_peek(1, 109, std::string(kBrokenPipeText));
  EXPECT_EQ(outcome(poll_frame(broken)), expected_error(109, kBrokenPipeText));
  EXPECT_EQ(outcome(poll_frame(broken)), "not ready");  // the failure was the first peek's only
}

// ---- read_frame

TEST(FrameRead, PartialReadsAreJoinedIntoOneFrame) {
  for (const std::size_t chunk : {1u, 2u, 3u, 5u, 7u}) {
    SCOPED_TRACE(chunk);
    ScriptedStream stream;
    stream.append(hex(kIdleFrame));
    stream.read_in_chunks(chunk);
    EXPECT_EQ(envelope_of(read_frame(stream, Sender::helper)), idle_reply());
    EXPECT_EQ(stream.consumed(), 21u);
    EXPECT_EQ(stream.empty_reads(), 0u);
  }
}

TEST(FrameRead, AReadWaitsForPiecesThatArriveLater) {
  ScriptedStream stream;
  stream.arrive_later(hex("11"));
  stream.arrive_later(hex("00 00 00 08 01 12"));
  stream.arrive_later(hex("02 72 31 AA 01 08 08 01 12 04 69 64 6C"));
  stream.arrive_later(hex("65"));
  EXPECT_EQ(envelope_of(read_frame(stream, Sender::helper)), idle_reply());
  EXPECT_EQ(stream.consumed(), 21u);
}

TEST(FrameRead, FramesThatArriveTogetherAreReadOnePerCall) {
  ScriptedStream stream;
  stream.append(hex(kIdleFrame));
  stream.append(hex(kEndedFrame));

  EXPECT_EQ(envelope_of(read_frame(stream, Sender::helper)), idle_reply());
  EXPECT_EQ(stream.consumed(), 21u);
  EXPECT_EQ(outcome(poll_frame(stream)), "ready");
  EXPECT_EQ(envelope_of(read_frame(stream, Sender::helper)), status_event(status_word::ended));
  EXPECT_EQ(stream.consumed(), 39u);
  EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), "disconnected");
}

TEST(FrameRead, TheSenderChoosesWhichMembersAreKnown) {
  ScriptedStream client;
  client.append(hex(kListFrame));
  const HelperEnvelope list = envelope_of(read_frame(client, Sender::client));
  EXPECT_EQ(list.request_id, "r3");
  EXPECT_TRUE(std::holds_alternative<ListCaptureSources>(list.payload));

  // A helper reply read as if the client had sent it has no command.
  ScriptedStream helper;
  helper.append(hex(kIdleFrame));
  EXPECT_EQ(outcome(read_frame(helper, Sender::client)), "error 0: envelope command is missing");
}

TEST(FrameRead, TheEndOfTheStreamWithinTheHeaderIsADisconnect) {
  const auto frame = hex(kIdleFrame);
  for (std::size_t before = 0; before < 4; ++before) {
    SCOPED_TRACE(before);
    // The stream ends after `before` header bytes, read one at a time.
    ScriptedStream stream;
    stream.append(frame);
    stream.read_in_chunks(1);
    stream.end_after(before);
    EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), "disconnected");
    EXPECT_EQ(stream.consumed(), before);
  }
}

TEST(FrameRead, BrokenPipeAndNoDataWithinTheHeaderAreADisconnect) {
  for (const std::uint32_t code : {109u, 232u}) {
    for (std::size_t before = 0; before < 4; ++before) {
      SCOPED_TRACE(std::to_string(code) + " after " + std::to_string(before));
      ScriptedStream stream;
      stream.append(hex(kIdleFrame));
      stream.read_in_chunks(1);
      stream.fail_read(before + 1, code, std::string(code == 109 ? kBrokenPipeText : kNoDataText));
      EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), "disconnected");
      EXPECT_EQ(stream.reads(), before + 1);
    }
  }
}

TEST(FrameRead, OtherFailuresWithinTheHeaderAreReportedAndNotRetried) {
  struct Case {
    std::uint32_t code;
    std::string_view text;
    std::size_t before;
  };
  // 233 (not connected) means the other end has gone, yet a read reports it as an error.
  for (const Case& c : {Case{5, kAccessDeniedText, 0}, Case{5, kAccessDeniedText, 2}, Case{233, kNotConnectedText, 0},
                        Case{233, kNotConnectedText, 3}}) {
    SCOPED_TRACE(std::to_string(c.code) + " after " + std::to_string(c.before));
    ScriptedStream stream;
    stream.append(hex(kIdleFrame));
    stream.read_in_chunks(1);
    stream.fail_read(c.before + 1, c.code, std::string(c.text));
    EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), expected_error(c.code, c.text));
    EXPECT_EQ(stream.reads(), c.before + 1);
    EXPECT_EQ(stream.consumed(), c.before);
  }
}

TEST(FrameRead, TheEndOfTheStreamWithinTheBodyFailsToFillTheBuffer) {
  // The stream ends right after the header, and in the middle of the body.
  for (const std::size_t end : {4u, 5u, 12u, 20u}) {
    SCOPED_TRACE(end);
    ScriptedStream stream;
    stream.append(hex(kIdleFrame));
    stream.read_in_chunks(3);
    stream.end_after(end);
    EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), kFillFailed);
    EXPECT_EQ(stream.consumed(), end);
  }
}

TEST(FrameRead, BrokenPipeAndNoDataWithinTheBodyFailToFillTheBuffer) {
  // Reads of 4 bytes: the header, then body bytes 0-3, 4-7 ...
  for (const std::uint32_t code : {109u, 232u}) {
    for (const std::size_t nth : {2u, 4u}) {
      SCOPED_TRACE(std::to_string(code) + " at read " + std::to_string(nth));
      ScriptedStream stream;
      stream.append(hex(kIdleFrame));
      stream.read_in_chunks(4);
      stream.fail_read(nth, code, std::string(code == 109 ? kBrokenPipeText : kNoDataText));
      EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), kFillFailed);
      EXPECT_EQ(stream.reads(), nth);
    }
  }
}

TEST(FrameRead, OtherFailuresWithinTheBodyAreReportedAndNotRetried) {
  for (const std::uint32_t code : {5u, 233u}) {
    SCOPED_TRACE(code);
    const std::string_view text = code == 5 ? kAccessDeniedText : kNotConnectedText;
    ScriptedStream stream;
    stream.append(hex(kIdleFrame));
    stream.read_in_chunks(4);
    stream.fail_read(3, code, std::string(text));
    EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), expected_error(code, text));
    EXPECT_EQ(stream.reads(), 3u);
    EXPECT_EQ(stream.consumed(), 8u);
  }
}

TEST(FrameRead, AnInvalidLengthIsRefusedBeforeTheBodyIsRead) {
  for (const std::string_view header : {"00 00 00 00", "01 00 10 00"}) {
    SCOPED_TRACE(header);
    ScriptedStream stream;
    stream.append(hex(header));
    stream.append(hex(kListFrame));
    EXPECT_EQ(outcome(read_frame(stream, Sender::client)), kInvalidLength);
    EXPECT_EQ(stream.consumed(), 4u);
  }
  // 1048576 is a valid length: the reader goes on to the body, which never comes.
  ScriptedStream largest;
  largest.append(hex("00 00 10 00 08 01"));
  EXPECT_EQ(outcome(read_frame(largest, Sender::client)), kFillFailed);
  EXPECT_EQ(largest.consumed(), 6u);
}

TEST(FrameRead, ADecodeFailureCarriesTheDecodersMessage) {
  ScriptedStream truncated;
  truncated.append(hex("01 00 00 00 08"));
  EXPECT_EQ(outcome(read_frame(truncated, Sender::helper)), "error 0: truncated varint");

  ScriptedStream no_command;
  no_command.append(hex("06 00 00 00 08 01 12 02 72 31"));
  EXPECT_EQ(outcome(read_frame(no_command, Sender::helper)), "error 0: envelope command is missing");

  ScriptedStream field_zero;
  field_zero.append(hex("02 00 00 00 00 01"));
  EXPECT_EQ(outcome(read_frame(field_zero, Sender::client)), "error 0: protobuf field number is zero");

  // A bad frame is consumed whole; the next one reads normally.
  ScriptedStream then_good;
  then_good.append(hex("01 00 00 00 08"));
  then_good.append(hex(kIdleFrame));
  EXPECT_EQ(outcome(read_frame(then_good, Sender::helper)), "error 0: truncated varint");
  EXPECT_EQ(envelope_of(read_frame(then_good, Sender::helper)), idle_reply());
}

// ---- write_frame

TEST(FrameWrite, TheIdleStatusReplyIsWrittenByteForByte) {
  ScriptedStream stream;
  EXPECT_EQ(outcome(write_frame(stream, idle_reply())), "done");
  EXPECT_EQ(to_hex(stream.written()), kIdleFrame);
}

TEST(FrameWrite, HeaderAndBodyAreWrittenByTheirOwnLoops) {
  ScriptedStream ones;
  ones.write_in_chunks(1);
  EXPECT_EQ(outcome(write_frame(ones, idle_reply())), "done");
  EXPECT_EQ(to_hex(ones.written()), kIdleFrame);
  // Each write is offered what the previous ones left: header 4, 3, 2, 1, then body 17, 16, ... 1.
  std::vector<std::size_t> offers = {4, 3, 2, 1};
  for (std::size_t left = 17; left > 0; --left) {
    offers.push_back(left);
  }
  EXPECT_EQ(ones.write_offers(), offers);

  ScriptedStream threes;
  threes.write_in_chunks(3);
  EXPECT_EQ(outcome(write_frame(threes, idle_reply())), "done");
  EXPECT_EQ(to_hex(threes.written()), kIdleFrame);
  EXPECT_EQ(threes.write_offers(), (std::vector<std::size_t>{4, 1, 17, 14, 11, 8, 5, 2}));

  ScriptedStream whole;
  EXPECT_EQ(outcome(write_frame(whole, idle_reply())), "done");
  EXPECT_EQ(whole.write_offers(), (std::vector<std::size_t>{4, 17}));
}

TEST(FrameWrite, AWriteOfZeroBytesFailsAndIsNotRetried) {
  // In the header.
  ScriptedStream header;
  header.write_in_chunks(1);
  header.write_nothing_at(3);
  EXPECT_EQ(outcome(write_frame(header, idle_reply())), kWriteFailed);
  EXPECT_EQ(header.writes(), 3u);
  EXPECT_EQ(to_hex(header.written()), "11 00");

  // In the body.
  ScriptedStream body;
  body.write_in_chunks(5);
  body.write_nothing_at(3);
  EXPECT_EQ(outcome(write_frame(body, idle_reply())), kWriteFailed);
  EXPECT_EQ(body.writes(), 3u);
  EXPECT_EQ(to_hex(body.written()), "11 00 00 00 08 01 12 02 72");
}

TEST(FrameWrite, AWriteFailureIsReportedUnchangedAndNotRetried) {
  struct Case {
    std::uint32_t code;
    std::string_view text;
    std::size_t nth;
  };
  // Writes know no end-of-stream codes: a closed pipe is an error like any other.
  for (const Case& c : {Case{5, kAccessDeniedText, 1}, Case{109, kBrokenPipeText, 1}, Case{232, kNoDataText, 2},
                        Case{233, kNotConnectedText, 3}}) {
    SCOPED_TRACE(std::to_string(c.code) + " at write " + std::to_string(c.nth));
    ScriptedStream stream;
    stream.write_in_chunks(4);
    stream.fail_write(c.nth, c.code, std::string(c.text));
    EXPECT_EQ(outcome(write_frame(stream, idle_reply())), expected_error(c.code, c.text));
    EXPECT_EQ(stream.writes(), c.nth);
    EXPECT_EQ(stream.written().size(), 4 * (c.nth - 1));
  }
}

TEST(FrameWrite, WrittenHelperFramesReadBackUnchanged) {
  MediaCapabilities caps;
  caps.ok = true;
  caps.usable_encoders = {"x264enc"};
  caps.unavailable_reasons = {{"systemAudio", "no loopback device"}};
  caps.encoders = {EncoderInfo{"x264enc", true, "software", "p", "cbr", ""}};
  BroadcastStats stats;
  stats.frames_per_second = 59.5;
  stats.bitrate_bps = 6000000;
  stats.encoder = "x264enc";
  GlobalPttEvent pressed;
  pressed.pressed = true;
  pressed.timestamp_unix_ms = 1700000000000;
  CaptureSourceList list;
  list.sources = {CaptureSource{"monitor:1", "monitor", "Display 1", ""}};
  const std::vector<HelperEnvelope> envelopes = {
      idle_reply(),
      status_event(status_word::ended),
      error_reply("r2", HelperErrorCode::authentication_failed),
      error_event(HelperErrorCode::media_pipeline_failed, "encoder stopped"),
      recovery_event("screen-capture", "wgc"),
      reply("r4", caps),
      reply("r5", list),
      event(stats),
      event(pressed),
      event(MicrophoneShortcutEvent{}),
  };

  ScriptedStream stream;
  stream.write_in_chunks(7);
  for (const HelperEnvelope& envelope : envelopes) {
    ASSERT_EQ(outcome(write_frame(stream, envelope)), "done");
  }
  stream.append(stream.written());
  stream.read_in_chunks(5);
  for (const HelperEnvelope& envelope : envelopes) {
    EXPECT_EQ(outcome(poll_frame(stream)), "ready");
    EXPECT_EQ(envelope_of(read_frame(stream, Sender::helper)), envelope);
  }
  EXPECT_EQ(outcome(read_frame(stream, Sender::helper)), "disconnected");
}

// ---- the size limit

TEST(FrameLimit, ABodyOfExactly1048576BytesTravels) {
  const HelperEnvelope largest = broadcast_of_body_size(1048576);
  ASSERT_EQ(encode_envelope(largest).size(), 1048576u);

  ScriptedStream stream;
  ASSERT_EQ(outcome(write_frame(stream, largest)), "done");
  ASSERT_EQ(stream.written().size(), 1048580u);
  EXPECT_EQ(to_hex(std::vector<std::uint8_t>(stream.written().begin(), stream.written().begin() + 4)), "00 00 10 00");

  // All but the last byte: not ready; then ready, and it reads back.
  const std::span<const std::uint8_t> frame(stream.written());
  stream.append(frame.first(frame.size() - 1));
  EXPECT_EQ(outcome(poll_frame(stream)), "not ready");
  stream.append(frame.last(1));
  EXPECT_EQ(outcome(poll_frame(stream)), "ready");
  EXPECT_EQ(envelope_of(read_frame(stream, Sender::client)), largest);
}

TEST(FrameLimit, AnEnvelopeLongerThan1048576BytesWritesNothing) {
  const HelperEnvelope oversized = broadcast_of_body_size(1048577);
  ASSERT_EQ(encode_envelope(oversized).size(), 1048577u);
  ScriptedStream stream;
  EXPECT_EQ(outcome(write_frame(stream, oversized)), kInvalidLength);
  EXPECT_EQ(stream.writes(), 0u);
  EXPECT_TRUE(stream.written().empty());
}

// ---- the command loop's receiver

std::string outcome(const Expected<Incoming, ReceiveError>& result) {
  if (!result) {
    return (result.error().step == ReceiveStep::poll ? "poll " : "read ") + describe(result.error().error);
  }
  if (std::holds_alternative<NotReady>(*result)) {
    return "not ready";
  }
  if (std::holds_alternative<Disconnected>(*result)) {
    return "disconnected";
  }
  return "envelope " + std::get<HelperEnvelope>(*result).request_id;
}

std::vector<std::uint8_t> bytes_of(const std::vector<std::uint8_t>& frame, std::size_t from, std::size_t to) {
  return {frame.begin() + static_cast<std::ptrdiff_t>(from), frame.begin() + static_cast<std::ptrdiff_t>(to)};
}

TEST(FrameReceiver, AFrameArrivingInPiecesIsTakenAsItComesAndNothingOfTheNextOne) {
  const auto list = hex(kListFrame);  // 12 bytes
  ScriptedStream written;
  ASSERT_TRUE(write_frame(written, reply("r4", StopBroadcast{})));
  const auto stop = written.written();
  ScriptedStream stream;
  stream.read_in_chunks(2);  // the system may hand out less than asked for
  FrameReceiver receiver;
  EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), "not ready");
  EXPECT_EQ(stream.reads(), 0u) << "nothing waiting: one look and no read";
  for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, 2}, {2, 7}}) {
    stream.append(bytes_of(list, from, to));
    EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), "not ready");
    EXPECT_EQ(stream.consumed(), to);
  }
  stream.append(bytes_of(list, 7, 12));
  stream.append(bytes_of(stop, 0, 3));
  EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), "envelope r3");
  EXPECT_EQ(stream.waiting(), 3u) << "the next frame's bytes stay where they are";
  stream.append(bytes_of(stop, 3, stop.size()));
  EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), "envelope r4");
}

TEST(FrameReceiver, LeavingBetweenFramesOrInAHeaderIsADisconnectAndInABodyAFailedRead) {
  const auto list = hex(kListFrame);
  for (const std::size_t cut : {0u, 3u, 4u, 9u}) {
    ScriptedStream stream;
    FrameReceiver receiver;
    stream.append(bytes_of(list, 0, cut));
    if (cut > 0) {
      ASSERT_EQ(outcome(receiver.receive(stream, Sender::client)), "not ready") << cut;
    }
    stream.fail_peek(stream.peeks() + 1, 109, std::string(kBrokenPipeText));
    EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), cut < 4 ? "disconnected" : "read " + kFillFailed)
        << cut;
  }
  // The stream ending while waiting bytes are taken: the same rule, by the bytes taken so far.
  for (const std::size_t taken : {3u, 6u}) {
    ScriptedStream stream;
    FrameReceiver receiver;
    stream.append(bytes_of(list, 0, taken));
    ASSERT_EQ(outcome(receiver.receive(stream, Sender::client)), "not ready");
    stream.append(bytes_of(list, taken, 9));
    stream.fail_read(stream.reads() + 1, 232, std::string(kNoDataText));
    EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), taken < 4 ? "disconnected" : "read " + kFillFailed)
        << taken;
  }
}

TEST(FrameReceiver, AnInvalidLengthIsThePollsErrorOnceItsHeaderIsComplete) {
  ScriptedStream stream;
  FrameReceiver receiver;
  stream.append(hex("01 00"));
  EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), "not ready");
  stream.append(hex("10 00 08 01"));
  EXPECT_EQ(outcome(receiver.receive(stream, Sender::client)), "poll " + kInvalidLength);
  ScriptedStream empty;
  empty.append(hex("00 00 00 00"));
  EXPECT_EQ(outcome(FrameReceiver().receive(empty, Sender::client)), "poll " + kInvalidLength);
}

TEST(FrameReceiver, OtherFailuresKeepTheirStepAndText) {
  ScriptedStream peek;
  peek.fail_peek(1, 5, std::string(kAccessDeniedText));
  EXPECT_EQ(outcome(FrameReceiver().receive(peek, Sender::client)), "poll " + expected_error(5, kAccessDeniedText));
  ScriptedStream read;
  read.append(hex(kListFrame));
  read.fail_read(1, 5, std::string(kAccessDeniedText));
  EXPECT_EQ(outcome(FrameReceiver().receive(read, Sender::client)), "read " + expected_error(5, kAccessDeniedText));
  ScriptedStream undecodable;
  undecodable.append(hex("05 00 00 00 08 01 12 01 61"));
  EXPECT_EQ(outcome(FrameReceiver().receive(undecodable, Sender::client)), "read error 0: envelope command is missing");
}

// ---- disconnect codes

TEST(FrameDisconnectCodes, BrokenPipeNoDataAndNotConnected) {
  EXPECT_TRUE(is_disconnect_code(109));
  EXPECT_TRUE(is_disconnect_code(232));
  EXPECT_TRUE(is_disconnect_code(233));
  for (const std::uint32_t other : {0u, 2u, 5u, 6u, 108u, 110u, 231u, 234u, 995u}) {
    EXPECT_FALSE(is_disconnect_code(other)) << other;
  }
}

}  // namespace
}  // namespace corvane::protocol
