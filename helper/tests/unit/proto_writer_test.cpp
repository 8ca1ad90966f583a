// The writer's rules: defaults left out, minimal varints, tag widths, nested and repeated fields.
#include <gtest/gtest.h>

#include <limits>

#include "hex.h"
#include "protocol/proto.h"

namespace corvane::protocol {
namespace {

using corvane::testing::to_hex;

TEST(ProtoWriterVarints, MinimalForms) {
  auto encoded = [](std::uint64_t value) {
    ProtoWriter writer;
    writer.write_varint(value);
    return to_hex(writer.bytes());
  };
  EXPECT_EQ(encoded(0), "00");
  EXPECT_EQ(encoded(127), "7F");
  EXPECT_EQ(encoded(128), "80 01");
  EXPECT_EQ(encoded(300), "AC 02");
  EXPECT_EQ(encoded(std::numeric_limits<std::uint64_t>::max()), "FF FF FF FF FF FF FF FF FF 01");
}

TEST(ProtoWriterTags, OneByteUpToFifteenTwoBytesAbove) {
  ProtoWriter writer;
  writer.write_tag(15, WireType::varint);
  writer.write_tag(16, WireType::varint);
  writer.write_tag(2047, WireType::length_delimited);
  EXPECT_EQ(to_hex(writer.bytes()), "78 80 01 FA 7F");
}

TEST(ProtoWriterScalars, DefaultsAreLeftOut) {
  ProtoWriter writer;
  writer.write_uint32(1, 0);
  writer.write_uint64(2, 0);
  writer.write_bool(3, false);
  writer.write_string(4, "");
  writer.write_bytes(5, {});
  writer.write_double(6, 0.0);
  EXPECT_TRUE(writer.bytes().empty());
}

TEST(ProtoWriterScalars, ValuesAreWritten) {
  ProtoWriter writer;
  writer.write_uint32(1, 4294967295u);
  writer.write_uint64(2, 1ULL << 63);
  writer.write_bool(3, true);
  writer.write_string(4, "ok");
  const std::uint8_t raw[] = {0x00, 0xFF};
  writer.write_bytes(5, raw);
  EXPECT_EQ(to_hex(writer.bytes()), "08 FF FF FF FF 0F 10 80 80 80 80 80 80 80 80 80 01 18 01 22 02 6F 6B 2A 02 00 FF");
}

TEST(ProtoWriterScalars, DoublesAreLittleEndianAndNegativeZeroIsWritten) {
  ProtoWriter writer;
  writer.write_double(1, 1.0);
  writer.write_double(2, -0.0);
  EXPECT_EQ(to_hex(writer.bytes()), "09 00 00 00 00 00 00 F0 3F 11 00 00 00 00 00 00 00 80");
}

TEST(ProtoWriterRepeated, EmptyStringsAndZeroKeysAreLeftOut) {
  ProtoWriter writer;
  const std::vector<std::string> names = {"a", "", "b"};
  writer.write_repeated_string(4, names);
  const std::vector<std::uint32_t> keys = {0x11, 0, 0x41};
  writer.write_repeated_uint32(3, keys);
  EXPECT_EQ(to_hex(writer.bytes()), "22 01 61 22 01 62 18 11 18 41");
}

TEST(ProtoWriterMessages, NestedMessagesAreAlwaysWrittenWithTheirLength) {
  ProtoWriter writer;
  writer.write_message(21, [](ProtoWriter&) {});
  writer.write_message(1, [](ProtoWriter& nested) { nested.write_string(1, std::string(200, 'x')); });
  const auto& bytes = writer.bytes();
  ASSERT_EQ(bytes.size(), 3u + (1u + 2u) + (1u + 2u) + 200u);
  EXPECT_EQ(to_hex({bytes.begin(), bytes.begin() + 10}), "AA 01 00 0A CB 01 0A C8 01 78");
}

}  // namespace
}  // namespace corvane::protocol
