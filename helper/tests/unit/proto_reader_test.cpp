// The reader's rules and every decoding error, driven through the envelope decoder and the reader itself.
#include <gtest/gtest.h>

#include <limits>

#include "hex.h"
#include "protocol/messages.h"
#include "protocol/proto.h"

namespace corvane::protocol {
namespace {

using corvane::testing::hex;

std::string read_varint_outcome(std::string_view bytes) {
  const auto data = hex(bytes);
  ProtoReader reader(data);
  std::uint64_t value = 0;
  if (auto error = reader.read_varint(value)) {
    return std::string(proto_error_message(*error));
  }
  return std::to_string(value) + (reader.at_end() ? "" : " (bytes left)");
}

// Decodes a client frame body and yields its error text, or "ok".
std::string client_decode_error(std::string_view bytes) {
  const auto data = hex(bytes);
  const auto result = decode_envelope(data, Sender::client);
  return result ? "ok" : std::string(proto_error_message(result.error()));
}

TEST(ProtoVarint, MinimalAndLongForms) {
  EXPECT_EQ(read_varint_outcome("00"), "0");
  EXPECT_EQ(read_varint_outcome("7F"), "127");
  EXPECT_EQ(read_varint_outcome("80 01"), "128");
  EXPECT_EQ(read_varint_outcome("FF FF FF FF 0F"), "4294967295");
  EXPECT_EQ(read_varint_outcome("80 80 00"), "0");  // non-minimal forms are read
}

TEST(ProtoVarint, TenthByteCarriesOnlyTheTopBit) {
  EXPECT_EQ(read_varint_outcome("FF FF FF FF FF FF FF FF FF 01"),
            std::to_string(std::numeric_limits<std::uint64_t>::max()));
  EXPECT_EQ(read_varint_outcome("80 80 80 80 80 80 80 80 80 01"), "9223372036854775808");
  EXPECT_EQ(read_varint_outcome("FF FF FF FF FF FF FF FF FF 02"), "varint overflow");
  EXPECT_EQ(read_varint_outcome("80 80 80 80 80 80 80 80 80 80 00"), "varint overflow");  // 11 bytes
}

TEST(ProtoVarint, EndInsideAVarint) {
  EXPECT_EQ(read_varint_outcome(""), "truncated varint");
  EXPECT_EQ(read_varint_outcome("80"), "truncated varint");
  EXPECT_EQ(read_varint_outcome("FF FF FF FF FF FF FF FF FF"), "truncated varint");
}

TEST(ProtoVarint, NestedMessageEndStopsAVarint) {
  // Authenticate of 2 bytes whose uint32 varint would continue past the member's end.
  EXPECT_EQ(client_decode_error("52 02 10 80 01"), "truncated varint");
  // A tag cut by the end of the body.
  EXPECT_EQ(client_decode_error("08 01 5A 00 80"), "truncated varint");
  // A length cut by the end of the body.
  EXPECT_EQ(client_decode_error("5A 00 12 80"), "truncated varint");
}

TEST(ProtoFieldNumbers, ZeroIsRefusedAtEveryLevel) {
  EXPECT_EQ(client_decode_error("00 00"), "protobuf field number is zero");
  EXPECT_EQ(client_decode_error("07"), "protobuf field number is zero");  // field 0, wire type 7
  EXPECT_EQ(client_decode_error("5A 02 00 00"), "protobuf field number is zero");
}

TEST(ProtoScalars, Uint32RangeAndBoolRule) {
  // StartBroadcast.width (field 4).
  EXPECT_EQ(client_decode_error("7A 06 20 FF FF FF FF 0F"), "ok");
  EXPECT_EQ(client_decode_error("7A 06 20 80 80 80 80 10"), "uint32 overflow");
  // contract_version is a uint32 too.
  EXPECT_EQ(client_decode_error("08 80 80 80 80 10 5A 00"), "uint32 overflow");
  // StartBroadcast.system_audio (field 8): 2 is true, 2^32 is an error.
  const auto data = hex("7A 02 40 02");
  const auto envelope = decode_envelope(data, Sender::client);
  ASSERT_TRUE(envelope);
  EXPECT_TRUE(std::get<StartBroadcast>(envelope->payload).system_audio);
  EXPECT_EQ(client_decode_error("7A 06 40 80 80 80 80 10"), "uint32 overflow");
}

TEST(ProtoWireTypes, UnknownFieldsOfEveryWireTypeAreSkipped) {
  // Fields 3..7 of the envelope are unknown: varint, fixed64, length-delimited, fixed32.
  EXPECT_EQ(client_decode_error("18 96 01 21 01 02 03 04 05 06 07 08 2A 03 61 62 63 35 01 02 03 04 5A 00"), "ok");
  // Unknown fields inside a member are skipped as well.
  EXPECT_EQ(client_decode_error("5A 05 F8 07 01 10 07"), "ok");
}

TEST(ProtoWireTypes, GroupsAndUnassignedTypes) {
  EXPECT_EQ(client_decode_error("1B 5A 00"), "unsupported protobuf wire type");  // unknown field 3, group start
  EXPECT_EQ(client_decode_error("1C 5A 00"), "unsupported protobuf wire type");  // group end
  EXPECT_EQ(client_decode_error("1E 5A 00"), "unsupported protobuf wire type");  // wire type 6
  EXPECT_EQ(client_decode_error("1F 5A 00"), "unsupported protobuf wire type");  // wire type 7
  EXPECT_EQ(client_decode_error("0B 5A 00"), "unexpected protobuf wire type");   // known field 1 as a group
  EXPECT_EQ(client_decode_error("53"), "unexpected protobuf wire type");         // member 10 as a group
}

TEST(ProtoWireTypes, KnownFieldsMustHaveTheirOwnType) {
  EXPECT_EQ(client_decode_error("0A 01 01 5A 00"), "unexpected protobuf wire type");        // version as bytes
  EXPECT_EQ(client_decode_error("10 01 5A 00"), "unexpected protobuf wire type");           // request ID as varint
  EXPECT_EQ(client_decode_error("50 01"), "unexpected protobuf wire type");                 // member as varint
  EXPECT_EQ(client_decode_error("52 02 08 01"), "unexpected protobuf wire type");           // nonce as varint
  EXPECT_EQ(client_decode_error("52 05 15 01 00 00 00"), "unexpected protobuf wire type");  // pid as fixed32
}

TEST(ProtoLengths, TruncatedKnownAndUnknownFields) {
  // Unknown fixed32 field with only 3 bytes left.
  EXPECT_EQ(client_decode_error("5A 00 1D 01 02 03"), "truncated protobuf field");
  // Unknown fixed64 with 7 bytes left, unknown length-delimited running past the end.
  EXPECT_EQ(client_decode_error("5A 00 19 01 02 03 04 05 06 07"), "truncated protobuf field");
  EXPECT_EQ(client_decode_error("5A 00 1A 05 01 02"), "truncated protobuf field");
  // Known string with too few bytes left.
  EXPECT_EQ(client_decode_error("12 05 72 31 5A 00"), "truncated message");
  // Member longer than the body.
  EXPECT_EQ(client_decode_error("5A 03 08"), "truncated message");
  // A string inside a member that runs past the member's end, although the body has bytes left.
  EXPECT_EQ(client_decode_error("7A 02 0A 03 61 62 63"), "truncated message");
  // An unknown field inside a member that runs past the member's end.
  EXPECT_EQ(client_decode_error("5A 02 1D 01 02 03 04 05"), "truncated protobuf field");
}

TEST(ProtoLengths, LengthsThatWouldWrapAroundOverflow) {
  // Known string with a length of 2^64 - 1 after position 2.
  EXPECT_EQ(client_decode_error("12 FF FF FF FF FF FF FF FF FF 01"), "length overflow");
  // The same length on an unknown length-delimited field.
  EXPECT_EQ(client_decode_error("1A FF FF FF FF FF FF FF FF FF 01"), "length overflow");
  // A huge length that does not wrap is an ordinary truncation.
  EXPECT_EQ(client_decode_error("12 FF FF FF FF FF FF FF FF 7F"), "truncated message");
}

TEST(ProtoStrings, Utf8IsCheckedBytesAreNot) {
  EXPECT_EQ(client_decode_error("12 02 C3 28 5A 00"), "invalid UTF-8");
  EXPECT_EQ(client_decode_error("12 03 ED A0 80 5A 00"), "invalid UTF-8");  // a surrogate
  const auto data = hex("52 06 0A 04 FF FE 00 C3");                         // the nonce is bytes: any content
  const auto envelope = decode_envelope(data, Sender::client);
  ASSERT_TRUE(envelope);
  EXPECT_EQ(std::get<Authenticate>(envelope->payload).nonce, hex("FF FE 00 C3"));
}

TEST(ProtoStrings, TheLastOccurrenceWins) {
  const auto data = hex("12 02 72 31 12 02 72 32 5A 00");
  const auto envelope = decode_envelope(data, Sender::client);
  ASSERT_TRUE(envelope);
  EXPECT_EQ(envelope->request_id, "r2");
}

TEST(ProtoRepeated, UnpackedElementsAccumulatePackedIsRefused) {
  // ConfigureGlobalPtt (member 17): enabled, codes 0x11 and 0x41 unpacked.
  const auto data = hex("8A 01 06 08 01 18 11 18 41");
  const auto envelope = decode_envelope(data, Sender::client);
  ASSERT_TRUE(envelope);
  const auto& ptt = std::get<ConfigureGlobalPtt>(envelope->payload);
  EXPECT_TRUE(ptt.enabled);
  EXPECT_EQ(ptt.virtual_key_codes, (std::vector<std::uint32_t>{0x11, 0x41}));
  EXPECT_EQ(client_decode_error("8A 01 06 08 01 1A 02 11 41"), "unexpected protobuf wire type");
  EXPECT_EQ(client_decode_error("8A 01 06 18 80 80 80 80 10"), "uint32 overflow");
}

TEST(ProtoReaderApi, AtEndAndSkippingStayInsideTheRange) {
  const auto data = hex("0D 01 02 03 04 08 05");
  ProtoReader reader(data);
  FieldTag tag;
  ASSERT_FALSE(reader.read_tag(tag));
  EXPECT_EQ(tag.field, 1u);
  EXPECT_EQ(tag.wire_type, 5);
  ASSERT_FALSE(reader.skip_field(tag.wire_type));
  ASSERT_FALSE(reader.read_tag(tag));
  std::uint32_t value = 0;
  ASSERT_FALSE(reader.uint32_field(tag, value));
  EXPECT_EQ(value, 5u);
  EXPECT_TRUE(reader.at_end());
  EXPECT_EQ(reader.read_tag(tag), ProtoError::truncated_varint);
}

TEST(ProtoErrors, EveryMessageIsExact) {
  EXPECT_EQ(proto_error_message(ProtoError::field_number_zero), "protobuf field number is zero");
  EXPECT_EQ(proto_error_message(ProtoError::uint32_overflow), "uint32 overflow");
  EXPECT_EQ(proto_error_message(ProtoError::unsupported_wire_type), "unsupported protobuf wire type");
  EXPECT_EQ(proto_error_message(ProtoError::unexpected_wire_type), "unexpected protobuf wire type");
  EXPECT_EQ(proto_error_message(ProtoError::invalid_utf8), "invalid UTF-8");
  EXPECT_EQ(proto_error_message(ProtoError::varint_overflow), "varint overflow");
  EXPECT_EQ(proto_error_message(ProtoError::truncated_varint), "truncated varint");
  EXPECT_EQ(proto_error_message(ProtoError::truncated_field), "truncated protobuf field");
  EXPECT_EQ(proto_error_message(ProtoError::length_overflow), "length overflow");
  EXPECT_EQ(proto_error_message(ProtoError::truncated_message), "truncated message");
  EXPECT_EQ(proto_error_message(ProtoError::envelope_command_missing), "envelope command is missing");
}

}  // namespace
}  // namespace corvane::protocol
