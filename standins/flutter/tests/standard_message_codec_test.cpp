// The standard message codec against byte literals derived by hand from the format (one type byte,
// then the content in host byte order; sizes in 1, 3 or 5 bytes; float64 values and the elements of
// 4- and 8-byte typed lists aligned from the first byte of the message), both ways, and its refusal
// of malformed input.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "flutter/encodable_value.h"
#include "flutter/standard_message_codec.h"
#include "hex_bytes.h"

static_assert(std::endian::native == std::endian::little, "the byte literals below are little-endian");

namespace flutter {
namespace {

using flutter_test::Bytes;
using flutter_test::Hex;
using flutter_test::Join;
using flutter_test::Repeat;
using flutter_test::ToHex;

const StandardMessageCodec& Codec() { return StandardMessageCodec::GetInstance(); }

// The encoding as hexadecimal text, or "refused" when the codec gives none.
std::string EncodedHex(const EncodableValue& value) {
  const auto bytes = Codec().EncodeMessage(value);
  return bytes ? ToHex(*bytes) : "refused";
}

std::unique_ptr<EncodableValue> Decode(const Bytes& bytes) { return Codec().DecodeMessage(bytes); }

// value encodes to exactly these bytes, and these bytes decode to value (same type, same value).
void ExpectBothWays(const EncodableValue& value, const Bytes& bytes) {
  EXPECT_EQ(EncodedHex(value), ToHex(bytes));
  const auto decoded = Decode(bytes);
  ASSERT_NE(decoded, nullptr) << ToHex(bytes);
  EXPECT_EQ(decoded->index(), value.index());
  EXPECT_EQ(*decoded, value);
}

void ExpectBothWays(const EncodableValue& value, std::string_view hex) {
  SCOPED_TRACE(hex);
  ExpectBothWays(value, Hex(hex));
}

// The bytes fail to decode, while the control (the same message with the fault repaired) decodes:
// so the refusal is for the fault and not for a slip elsewhere in the literal.
void ExpectRefusedAgainst(std::string_view bad, std::string_view control) {
  EXPECT_EQ(Decode(Hex(bad)), nullptr) << bad;
  EXPECT_NE(Decode(Hex(control)), nullptr) << control;
}

uint64_t BitsOf(double value) { return std::bit_cast<uint64_t>(value); }

// --- scalars ---

TEST(StandardMessageCodecScalars, NullAndBooleans) {
  ExpectBothWays(EncodableValue(), "00");
  ExpectBothWays(EncodableValue(true), "01");
  ExpectBothWays(EncodableValue(false), "02");
}

TEST(StandardMessageCodecScalars, Int32) {
  ExpectBothWays(EncodableValue(int32_t{1}), "03 01 00 00 00");
  ExpectBothWays(EncodableValue(int32_t{-2}), "03 FE FF FF FF");
  ExpectBothWays(EncodableValue(int32_t{0x12345678}), "03 78 56 34 12");
  ExpectBothWays(EncodableValue(std::numeric_limits<int32_t>::min()), "03 00 00 00 80");
}

TEST(StandardMessageCodecScalars, Int64KeepsItsWidthForSmallValues) {
  ExpectBothWays(EncodableValue(int64_t{5}), "04 05 00 00 00 00 00 00 00");
  ExpectBothWays(EncodableValue(int64_t{0x0102030405060708}), "04 08 07 06 05 04 03 02 01");
  ExpectBothWays(EncodableValue(int64_t{-1}), "04 FF FF FF FF FF FF FF FF");
  ExpectBothWays(EncodableValue(std::numeric_limits<int64_t>::min()), "04 00 00 00 00 00 00 00 80");
}

TEST(StandardMessageCodecScalars, LargeIntegerDecodesAsItsText) {
  const auto decoded = Decode(Hex("05 03 2D 31 66"));
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(*decoded, EncodableValue("-1f"));
  EXPECT_EQ(Decode(Hex("05 03 2D 31")), nullptr);  // its text cut short
}

TEST(StandardMessageCodecScalars, Float64AfterSevenBytesOfPadding) {
  // The tag sits at offset 0, so the value starts at offset 8.
  ExpectBothWays(EncodableValue(1.0), "06 | 00 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 3F");
  ExpectBothWays(EncodableValue(-2.5), "06 | 00 00 00 00 00 00 00 | 00 00 00 00 00 00 04 C0");
}

TEST(StandardMessageCodecScalars, Float64KeepsItsBits) {
  EXPECT_EQ(EncodedHex(EncodableValue(-0.0)), ToHex(Hex("06 | 00 00 00 00 00 00 00 | 00 00 00 00 00 00 00 80")));
  EXPECT_EQ(EncodedHex(EncodableValue(std::numeric_limits<double>::quiet_NaN())),
            ToHex(Hex("06 | 00 00 00 00 00 00 00 | 00 00 00 00 00 00 F8 7F")));
  const auto negative_zero = Decode(Hex("06 | 00 00 00 00 00 00 00 | 00 00 00 00 00 00 00 80"));
  ASSERT_NE(negative_zero, nullptr);
  EXPECT_EQ(BitsOf(std::get<double>(*negative_zero)), 0x8000000000000000u);
  const auto infinity = Decode(Hex("06 | 00 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 FF"));
  ASSERT_NE(infinity, nullptr);
  EXPECT_EQ(std::get<double>(*infinity), -std::numeric_limits<double>::infinity());
}

// --- strings ---

TEST(StandardMessageCodecStrings, LengthInBytesThenText) {
  ExpectBothWays(EncodableValue(""), "07 00");
  ExpectBothWays(EncodableValue("hi"), "07 02 68 69");
  ExpectBothWays(EncodableValue(std::string("a\0b", 3)), "07 03 61 00 62");
}

TEST(StandardMessageCodecStrings, Utf8IsCountedInBytes) {
  ExpectBothWays(EncodableValue("é"), "07 02 C3 A9");
  ExpectBothWays(EncodableValue("سلام"), "07 08 D8 B3 D9 84 D8 A7 D9 85");  // four letters, eight bytes
}

// --- typed lists ---

TEST(StandardMessageCodecTypedLists, Uint8ListIsNeverPadded) {
  ExpectBothWays(EncodableValue(std::vector<uint8_t>{}), "08 00");
  ExpectBothWays(EncodableValue(std::vector<uint8_t>{1, 2, 255}), "08 03 01 02 FF");
}

TEST(StandardMessageCodecTypedLists, Int32List) {
  // Tag and count take offsets 0 and 1; the elements start at 4.
  ExpectBothWays(EncodableValue(std::vector<int32_t>{1, -1}), "09 02 | 00 00 | 01 00 00 00 FF FF FF FF");
  ExpectBothWays(EncodableValue(std::vector<int32_t>{}), "09 00 | 00 00");
}

TEST(StandardMessageCodecTypedLists, Int64List) {
  ExpectBothWays(EncodableValue(std::vector<int64_t>{1}), "0A 01 | 00 00 00 00 00 00 | 01 00 00 00 00 00 00 00");
  ExpectBothWays(EncodableValue(std::vector<int64_t>{-2, std::numeric_limits<int64_t>::max()}),
                 "0A 02 | 00 00 00 00 00 00 | FE FF FF FF FF FF FF FF | FF FF FF FF FF FF FF 7F");
  ExpectBothWays(EncodableValue(std::vector<int64_t>{}), "0A 00 | 00 00 00 00 00 00");
}

TEST(StandardMessageCodecTypedLists, Float64List) {
  ExpectBothWays(EncodableValue(std::vector<double>{0.5, -2.5}),
                 "0B 02 | 00 00 00 00 00 00 | 00 00 00 00 00 00 E0 3F | 00 00 00 00 00 00 04 C0");
  ExpectBothWays(EncodableValue(std::vector<double>{}), "0B 00 | 00 00 00 00 00 00");
}

TEST(StandardMessageCodecTypedLists, Float32List) {
  ExpectBothWays(EncodableValue(std::vector<float>{1.0f, -2.0f}), "0E 02 | 00 00 | 00 00 80 3F 00 00 00 C0");
  ExpectBothWays(EncodableValue(std::vector<float>{0.5f}), "0E 01 | 00 00 | 00 00 00 3F");
}

// --- lists and maps ---

TEST(StandardMessageCodecLists, CountThenElements) {
  ExpectBothWays(EncodableValue(EncodableList{}), "0C 00");
  ExpectBothWays(
      EncodableValue(EncodableList{EncodableValue(1), EncodableValue("a"), EncodableValue(), EncodableValue(true)}),
      "0C 04 | 03 01 00 00 00 | 07 01 61 | 00 | 01");
}

TEST(StandardMessageCodecMaps, CountThenKeyValuePairs) {
  ExpectBothWays(EncodableValue(EncodableMap{}), "0D 00");
  ExpectBothWays(EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(true)}}), "0D 01 | 07 01 61 | 01");
}

TEST(StandardMessageCodecMaps, NestedMapsAndLists) {
  // {"k": [{1: "v"}, []]}
  const EncodableValue value(EncodableMap{
      {EncodableValue("k"),
       EncodableValue(EncodableList{EncodableValue(EncodableMap{{EncodableValue(1), EncodableValue("v")}}),
                                    EncodableValue(EncodableList{})})},
  });
  ExpectBothWays(value, "0D 01 | 07 01 6B | 0C 02 | 0D 01 03 01 00 00 00 07 01 76 | 0C 00");
  // [[1.5]]: the inner float64's tag ends at offset 5, so three bytes of padding.
  ExpectBothWays(EncodableValue(EncodableList{EncodableValue(EncodableList{EncodableValue(1.5)})}),
                 "0C 01 0C 01 06 | 00 00 00 | 00 00 00 00 00 00 F8 3F");
}

TEST(StandardMessageCodecMaps, KeysOfMixedTypesAreWrittenInTypeOrder) {
  const EncodableValue value(EncodableMap{
      {EncodableValue("b"), EncodableValue(1)},
      {EncodableValue(int32_t{2}), EncodableValue()},
      {EncodableValue(), EncodableValue("n")},
      {EncodableValue(int64_t{2}), EncodableValue(false)},
      {EncodableValue(1.5), EncodableValue(true)},
  });
  ExpectBothWays(value,
                 "0D 05"
                 "| 00 | 07 01 6E"                         // null: "n"
                 "| 03 02 00 00 00 | 00"                   // int32 2: null
                 "| 04 02 00 00 00 00 00 00 00 | 02"       // int64 2: false
                 "| 06 00 | 00 00 00 00 00 00 F8 3F | 01"  // 1.5 (tag at 22, value at 24): true
                 "| 07 01 62 | 03 01 00 00 00");           // "b": 1
}

TEST(StandardMessageCodecMaps, KeysMayArriveInAnyOrder) {
  const auto decoded = Decode(Hex("0D 02 | 07 01 62 | 01 | 00 | 02"));  // {"b": true, null: false}
  ASSERT_NE(decoded, nullptr);
  const auto& map = std::get<EncodableMap>(*decoded);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.at(EncodableValue("b")), EncodableValue(true));
  EXPECT_EQ(map.at(EncodableValue()), EncodableValue(false));
  EXPECT_EQ(EncodedHex(*decoded), ToHex(Hex("0D 02 | 00 | 02 | 07 01 62 | 01")));
}

TEST(StandardMessageCodecMaps, Int32AndInt64KeysStayApart) {
  const auto decoded = Decode(Hex("0D 02 | 03 07 00 00 00 | 07 01 61 | 04 07 00 00 00 00 00 00 00 | 07 01 62"));
  ASSERT_NE(decoded, nullptr);
  const auto& map = std::get<EncodableMap>(*decoded);
  EXPECT_EQ(map.at(EncodableValue(int32_t{7})), EncodableValue("a"));
  EXPECT_EQ(map.at(EncodableValue(int64_t{7})), EncodableValue("b"));
}

TEST(StandardMessageCodecAllTags, OneListHoldingEveryType) {
  const EncodableValue value(EncodableList{
      EncodableValue(),
      EncodableValue(true),
      EncodableValue(false),
      EncodableValue(int32_t{1}),
      EncodableValue(int64_t{2}),
      EncodableValue(1.5),
      EncodableValue("hi"),
      EncodableValue(std::vector<uint8_t>{1, 2}),
      EncodableValue(std::vector<int32_t>{3}),
      EncodableValue(std::vector<int64_t>{4}),
      EncodableValue(std::vector<double>{0.5}),
      EncodableValue(EncodableList{EncodableValue()}),
      EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(1)}}),
      EncodableValue(std::vector<float>{1.0f}),
  });
  ExpectBothWays(value,
                 "0C 0E | 00 | 01 | 02 | 03 01 00 00 00 | 04 02 00 00 00 00 00 00 00"  // offsets 0-18
                 "| 06 | 00 00 00 00 | 00 00 00 00 00 00 F8 3F"                        // tag 19, value 24
                 "| 07 02 68 69 | 08 02 01 02"                                         // 32-39
                 "| 09 01 | 00 00 | 03 00 00 00"                                       // elements at 44
                 "| 0A 01 | 00 00 00 00 00 00 | 04 00 00 00 00 00 00 00"               // elements at 56
                 "| 0B 01 | 00 00 00 00 00 00 | 00 00 00 00 00 00 E0 3F"               // elements at 72
                 "| 0C 01 00 | 0D 01 07 01 61 03 01 00 00 00"                          // 80-92
                 "| 0E 01 | 00 | 00 00 80 3F");                                        // elements at 96
}

TEST(StandardMessageCodecAllTags, EmptyMessageIsNull) {
  // The Dart side sends a null message as no bytes at all.
  const auto decoded = Codec().DecodeMessage(nullptr, 0);
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->IsNull());
  EXPECT_EQ(Codec().DecodeMessage(nullptr, 4), nullptr);
}

// --- sizes ---

TEST(StandardMessageCodecSizes, OneByteUpTo253) {
  ExpectBothWays(EncodableValue(std::string(253, 'a')), Join({Hex("07 FD"), Repeat(253, 0x61)}));
}

TEST(StandardMessageCodecSizes, ThreeBytesFrom254To65535) {
  ExpectBothWays(EncodableValue(std::string(254, 'a')), Join({Hex("07 FE FE 00"), Repeat(254, 0x61)}));
  ExpectBothWays(EncodableValue(std::string(65535, 'a')), Join({Hex("07 FE FF FF"), Repeat(65535, 0x61)}));
}

TEST(StandardMessageCodecSizes, FiveBytesFrom65536) {
  ExpectBothWays(EncodableValue(std::string(65536, 'a')), Join({Hex("07 FF 00 00 01 00"), Repeat(65536, 0x61)}));
}

TEST(StandardMessageCodecSizes, ListsMapsAndTypedListsUseTheSameSizes) {
  ExpectBothWays(EncodableValue(EncodableList(254)), Join({Hex("0C FE FE 00"), Repeat(254, 0x00)}));
  ExpectBothWays(EncodableValue(std::vector<uint8_t>(65536, 7)), Join({Hex("08 FF 00 00 01 00"), Repeat(65536, 7)}));

  EncodableMap map;
  Bytes expected = Hex("0D FE FE 00");
  for (int32_t key = 0; key < 254; ++key) {  // int32 keys sort in numeric order
    map[EncodableValue(key)] = EncodableValue();
    expected.insert(expected.end(), {0x03, static_cast<uint8_t>(key), 0x00, 0x00, 0x00, 0x00});
  }
  ExpectBothWays(EncodableValue(map), expected);
}

TEST(StandardMessageCodecSizes, LongSizeMovesTheAlignment) {
  // 254 int64 elements: tag and a 3-byte size end at offset 3, so four bytes of padding.
  std::vector<int64_t> elements(254);
  Bytes expected = Hex("0A FE FE 00 | 00 00 00 00");
  for (size_t i = 0; i < elements.size(); ++i) {
    elements[i] = static_cast<int64_t>(i) + 1;
    expected.insert(expected.end(), {static_cast<uint8_t>(i + 1), 0, 0, 0, 0, 0, 0, 0});
  }
  ExpectBothWays(EncodableValue(elements), expected);

  // 65536 int32 elements: a 5-byte size ends at offset 5, so two bytes of padding.
  const std::vector<int32_t> many(65536, 0x01020304);
  Bytes many_expected = Hex("09 FF 00 00 01 00 | 00 00");
  for (size_t i = 0; i < many.size(); ++i) {
    many_expected.insert(many_expected.end(), {0x04, 0x03, 0x02, 0x01});
  }
  ExpectBothWays(EncodableValue(many), many_expected);
}

TEST(StandardMessageCodecSizes, LongerFormsOfSmallSizesAreRead) {
  const auto three_bytes = Decode(Hex("07 FE 02 00 68 69"));
  ASSERT_NE(three_bytes, nullptr);
  EXPECT_EQ(*three_bytes, EncodableValue("hi"));
  const auto five_bytes = Decode(Hex("07 FF 02 00 00 00 68 69"));
  ASSERT_NE(five_bytes, nullptr);
  EXPECT_EQ(*five_bytes, EncodableValue("hi"));
}

// --- alignment ---

TEST(StandardMessageCodecAlignment, Float64AfterAPrefix) {
  // [true, 1.5]: the float64 tag is at offset 3, its value at 8.
  ExpectBothWays(EncodableValue(EncodableList{EncodableValue(true), EncodableValue(1.5)}),
                 "0C 02 01 06 | 00 00 00 00 | 00 00 00 00 00 00 F8 3F");
  // Five nulls put the tag at offset 7: the value follows without padding.
  EncodableList nulls(5);
  nulls.emplace_back(1.0);
  ExpectBothWays(EncodableValue(nulls), "0C 06 00 00 00 00 00 06 | 00 00 00 00 00 00 F0 3F");
}

TEST(StandardMessageCodecAlignment, TypedListsAfterAPrefix) {
  // ["a", [7] as int32]: the count ends at offset 6, so one byte of padding.
  ExpectBothWays(EncodableValue(EncodableList{EncodableValue("a"), EncodableValue(std::vector<int32_t>{7})}),
                 "0C 02 07 01 61 09 01 | 00 | 07 00 00 00");
  // [[4] as int64]: the count ends at offset 3.
  ExpectBothWays(EncodableValue(EncodableList{EncodableValue(std::vector<int64_t>{4})}),
                 "0C 01 0A 01 | 00 00 00 00 | 04 00 00 00 00 00 00 00");
  // [true, [1.0] as float32]: the count ends at offset 4.
  ExpectBothWays(EncodableValue(EncodableList{EncodableValue(true), EncodableValue(std::vector<float>{1.0f})}),
                 "0C 02 01 0E 01 | 00 00 00 | 00 00 80 3F");
  // [[3] as int32]: the count ends at offset 3, the elements are already aligned.
  ExpectBothWays(EncodableValue(EncodableList{EncodableValue(std::vector<int32_t>{3})}), "0C 01 09 01 | 03 00 00 00");
  // [true, [5] as uint8]: bytes are never padded.
  ExpectBothWays(EncodableValue(EncodableList{EncodableValue(true), EncodableValue(std::vector<uint8_t>{5})}),
                 "0C 02 01 08 01 05");
}

// --- malformed input ---

TEST(StandardMessageCodecMalformed, Truncated) {
  ExpectRefusedAgainst("03 01 00 00", "03 01 00 00 00");
  ExpectRefusedAgainst("04 01 00 00 00 00 00 00", "04 01 00 00 00 00 00 00 00");
  ExpectRefusedAgainst("06 00 00 00", "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 3F");
  ExpectRefusedAgainst("06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 F0",
                       "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 3F");
  ExpectRefusedAgainst("07 05 68 69", "07 02 68 69");
  ExpectRefusedAgainst("07 FE 01", "07 FE 01 00 68");
  ExpectRefusedAgainst("07 FF 00 00", "07 FF 00 00 00 00");
  ExpectRefusedAgainst("09 02 00 00 01 00 00 00", "09 02 00 00 01 00 00 00 02 00 00 00");
  ExpectRefusedAgainst("0C 02 00", "0C 02 00 00");
  ExpectRefusedAgainst("0D 01 07 01 61", "0D 01 07 01 61 00");
}

TEST(StandardMessageCodecMalformed, EveryProperPrefixOfAMessage) {
  const Bytes whole = Hex(
      "0C 0E | 00 | 01 | 02 | 03 01 00 00 00 | 04 02 00 00 00 00 00 00 00 | 06 00 00 00 00 | 00 00 00 00 00 00 F8 3F"
      "| 07 02 68 69 | 08 02 01 02 | 09 01 00 00 03 00 00 00 | 0A 01 00 00 00 00 00 00 04 00 00 00 00 00 00 00"
      "| 0B 01 00 00 00 00 00 00 00 00 00 00 00 00 E0 3F | 0C 01 00 | 0D 01 07 01 61 03 01 00 00 00"
      "| 0E 01 00 00 00 80 3F");
  ASSERT_NE(Decode(whole), nullptr);
  for (size_t length = 1; length < whole.size(); ++length) {
    const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(Decode(prefix), nullptr) << "prefix of " << length << " bytes";
  }
}

TEST(StandardMessageCodecMalformed, UnknownTagsAndApplicationTypes) {
  for (const char* bad : {"0F", "10", "7F", "80", "80 00", "81 00", "FF"}) {
    EXPECT_EQ(Decode(Hex(bad)), nullptr) << bad;
  }
  ExpectRefusedAgainst("0C 01 0F", "0C 01 00");
  ExpectRefusedAgainst("0D 01 80 00", "0D 01 00 00");
}

TEST(StandardMessageCodecMalformed, SizeBeyondTheEnd) {
  ExpectRefusedAgainst("08 FF FF FF FF FF 01 02", "08 FF 02 00 00 00 01 02");
  ExpectRefusedAgainst("0C FF FF FF FF FF 00", "0C FF 01 00 00 00 00");
  ExpectRefusedAgainst("0D FE 10 00 00 00", "0D FE 01 00 00 00");
  ExpectRefusedAgainst("0B 02 | 00 00 00 00 00 00 | 00 00 00 00 00 00 E0 3F",
                       "0B 01 | 00 00 00 00 00 00 | 00 00 00 00 00 00 E0 3F");
  ExpectRefusedAgainst("0E FE 00 01", "0E 00 00 00");
  ExpectRefusedAgainst("0A FF FF FF FF 1F | 00 00 | 01 02 03 04 05 06 07 08",
                       "0A 01 | 00 00 00 00 00 00 | 01 02 03 04 05 06 07 08");
}

TEST(StandardMessageCodecMalformed, NonZeroPadding) {
  ExpectRefusedAgainst("06 00 00 01 00 00 00 00 | 00 00 00 00 00 00 F0 3F",
                       "06 00 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 3F");
  ExpectRefusedAgainst("09 01 00 01 07 00 00 00", "09 01 00 00 07 00 00 00");
  ExpectRefusedAgainst("0A 00 00 00 00 00 00 80", "0A 00 00 00 00 00 00 00");
  ExpectRefusedAgainst("0C 02 01 06 00 00 00 80 | 00 00 00 00 00 00 F8 3F",
                       "0C 02 01 06 00 00 00 00 | 00 00 00 00 00 00 F8 3F");
  // An empty typed list still has its padding.
  ExpectRefusedAgainst("09 00 00", "09 00 00 00");
}

TEST(StandardMessageCodecMalformed, BytesAfterTheMessage) {
  ExpectRefusedAgainst("00 00", "00");
  ExpectRefusedAgainst("01 02", "01");
  ExpectRefusedAgainst("07 01 61 61", "07 02 61 61");
  ExpectRefusedAgainst("0C 00 00", "0C 01 00");
}

TEST(StandardMessageCodecMalformed, KeyGivenTwice) {
  ExpectRefusedAgainst("0D 02 | 07 01 61 00 | 07 01 61 01", "0D 02 | 07 01 61 00 | 07 01 62 01");
  // 0 and -0 are one key, as they are on the Dart side.
  ExpectRefusedAgainst(
      "0D 02 | 06 00 00 00 00 00 | 00 00 00 00 00 00 00 00 | 00"
      "| 06 00 00 00 00 00 00 | 00 00 00 00 00 00 00 80 | 00",
      "0D 02 | 06 00 00 00 00 00 | 00 00 00 00 00 00 00 00 | 00"
      "| 06 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 3F | 00");
}

// n lists, each holding the next, the innermost empty.
Bytes NestedLists(size_t n) {
  Bytes bytes;
  for (size_t i = 1; i < n; ++i) {
    bytes.insert(bytes.end(), {0x0C, 0x01});
  }
  bytes.insert(bytes.end(), {0x0C, 0x00});
  return bytes;
}

// n maps, each holding the next under the key null, the innermost empty.
Bytes NestedMaps(size_t n) {
  Bytes bytes;
  for (size_t i = 1; i < n; ++i) {
    bytes.insert(bytes.end(), {0x0D, 0x01, 0x00});
  }
  bytes.insert(bytes.end(), {0x0D, 0x00});
  return bytes;
}

TEST(StandardMessageCodecMalformed, NestingIsCappedAt128) {
  EXPECT_NE(Decode(NestedLists(128)), nullptr);
  EXPECT_EQ(Decode(NestedLists(129)), nullptr);
  EXPECT_NE(Decode(NestedMaps(128)), nullptr);
  EXPECT_EQ(Decode(NestedMaps(129)), nullptr);
  // Deep enough to overflow the stack if the depth were not capped.
  EXPECT_EQ(Decode(NestedLists(500000)), nullptr);
  EXPECT_EQ(Decode(NestedMaps(500000)), nullptr);
}

// --- what the encoder refuses ---

TEST(StandardMessageCodecEncodeRefusals, CustomValues) {
  const CustomEncodableValue custom(std::any(1));
  EXPECT_EQ(Codec().EncodeMessage(EncodableValue(custom)), nullptr);
  EXPECT_EQ(Codec().EncodeMessage(EncodableValue(EncodableList{EncodableValue(1), EncodableValue(custom)})), nullptr);
  EXPECT_EQ(Codec().EncodeMessage(EncodableValue(EncodableMap{{EncodableValue(custom), EncodableValue()}})), nullptr);
}

TEST(StandardMessageCodecEncodeRefusals, NestingBeyondWhatDecodes) {
  const auto nested = [](size_t depth) {
    EncodableValue value(EncodableList{});
    for (size_t i = 1; i < depth; ++i) {
      value = EncodableValue(EncodableList{std::move(value)});
    }
    return value;
  };
  const auto deepest = Codec().EncodeMessage(nested(128));
  ASSERT_NE(deepest, nullptr);
  EXPECT_EQ(*deepest, NestedLists(128));
  EXPECT_EQ(Codec().EncodeMessage(nested(129)), nullptr);
}

// --- round trip ---

TEST(StandardMessageCodecRoundTrip, EveryTypeInsideAMap) {
  const EncodableValue value(EncodableMap{
      {EncodableValue("null"), EncodableValue()},
      {EncodableValue("bool"), EncodableValue(false)},
      {EncodableValue("int32"), EncodableValue(std::numeric_limits<int32_t>::max())},
      {EncodableValue("int64"), EncodableValue(std::numeric_limits<int64_t>::min())},
      {EncodableValue("double"), EncodableValue(-1e-300)},
      {EncodableValue("bytes"), EncodableValue(std::vector<uint8_t>{0, 128, 255})},
      {EncodableValue("int32s"), EncodableValue(std::vector<int32_t>{-1, 0, 1})},
      {EncodableValue("int64s"), EncodableValue(std::vector<int64_t>{int64_t{1} << 62})},
      {EncodableValue("doubles"), EncodableValue(std::vector<double>{0.1, 1e10})},
      {EncodableValue("floats"), EncodableValue(std::vector<float>{0.1f, -1e10f})},
      {EncodableValue(EncodableList{EncodableValue(1.25)}),
       EncodableValue(EncodableMap{{EncodableValue(), EncodableValue()}})},
  });
  const auto bytes = Codec().EncodeMessage(value);
  ASSERT_NE(bytes, nullptr);
  const auto decoded = Codec().DecodeMessage(bytes->data(), bytes->size());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(*decoded, value);
}

}  // namespace
}  // namespace flutter
