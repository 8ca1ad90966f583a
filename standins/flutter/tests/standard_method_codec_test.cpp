// The standard method codec: calls (name string, then one argument value) and answers (byte 0 and
// the result; byte 1, code, message or null, details), against hand-derived byte literals, and its
// refusal of malformed calls and answers.
#include <gtest/gtest.h>

#include <any>
#include <bit>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "flutter/encodable_value.h"
#include "flutter/method_call.h"
#include "flutter/standard_method_codec.h"
#include "hex_bytes.h"
#include "recording_result.h"

static_assert(std::endian::native == std::endian::little, "the byte literals below are little-endian");

namespace flutter {
namespace {

using flutter_test::Answer;
using flutter_test::Bytes;
using flutter_test::Hex;
using flutter_test::RecordingResult;
using flutter_test::ToHex;

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

std::string HexOf(const std::unique_ptr<std::vector<uint8_t>>& bytes) { return bytes ? ToHex(*bytes) : "refused"; }

std::string Normal(std::string_view hex) { return ToHex(Hex(hex)); }

std::unique_ptr<MethodCall<EncodableValue>> DecodeCall(std::string_view hex) {
  return Codec().DecodeMethodCall(Hex(hex));
}

// The answers a valid envelope produces; fails the test when the envelope is refused.
std::vector<Answer> Process(std::string_view hex) {
  const Bytes bytes = Hex(hex);
  RecordingResult result;
  EXPECT_TRUE(Codec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result)) << hex;
  return result.answers;
}

// The envelope is refused and nothing reaches the result.
void ExpectEnvelopeRefused(std::string_view hex) {
  const Bytes bytes = Hex(hex);
  RecordingResult result;
  EXPECT_FALSE(Codec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result)) << hex;
  EXPECT_TRUE(result.answers.empty()) << hex;
}

// --- method calls ---

TEST(StandardMethodCodecCalls, EncodeWithoutArguments) {
  // "ping" then a null value.
  EXPECT_EQ(HexOf(Codec().EncodeMethodCall(MethodCall<EncodableValue>("ping", nullptr))),
            Normal("07 04 70 69 6E 67 | 00"));
  EXPECT_EQ(HexOf(Codec().EncodeMethodCall(MethodCall<EncodableValue>("ping", std::make_unique<EncodableValue>()))),
            Normal("07 04 70 69 6E 67 | 00"));
}

TEST(StandardMethodCodecCalls, EncodeWithArguments) {
  const MethodCall<EncodableValue> call(
      "ping", std::make_unique<EncodableValue>(EncodableMap{{EncodableValue("a"), EncodableValue(1)}}));
  EXPECT_EQ(HexOf(Codec().EncodeMethodCall(call)), Normal("07 04 70 69 6E 67 | 0D 01 07 01 61 03 01 00 00 00"));
}

TEST(StandardMethodCodecCalls, AlignmentCountsTheName) {
  // The float64 tag sits at offset 3, after the name "m": its value starts at 8.
  const MethodCall<EncodableValue> call("m", std::make_unique<EncodableValue>(1.0));
  EXPECT_EQ(HexOf(Codec().EncodeMethodCall(call)), Normal("07 01 6D 06 | 00 00 00 00 | 00 00 00 00 00 00 F0 3F"));
  const auto decoded = DecodeCall("07 01 6D 06 | 00 00 00 00 | 00 00 00 00 00 00 F0 3F");
  ASSERT_NE(decoded, nullptr);
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_EQ(*decoded->arguments(), EncodableValue(1.0));
}

TEST(StandardMethodCodecCalls, DecodeWithoutArgumentsGivesNull) {
  const auto decoded = DecodeCall("07 04 70 69 6E 67 | 00");
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "ping");
  ASSERT_NE(decoded->arguments(), nullptr);
  EXPECT_TRUE(decoded->arguments()->IsNull());
}

TEST(StandardMethodCodecCalls, DecodeWithArguments) {
  // "authorize" {"sessionId": "s1", "mode": "desktop"}
  const auto decoded = DecodeCall(
      "07 09 61 75 74 68 6F 72 69 7A 65"
      "| 0D 02 | 07 09 73 65 73 73 69 6F 6E 49 64 | 07 02 73 31 | 07 04 6D 6F 64 65 | 07 07 64 65 73 6B 74 6F 70");
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "authorize");
  ASSERT_NE(decoded->arguments(), nullptr);
  const auto& map = std::get<EncodableMap>(*decoded->arguments());
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.at(EncodableValue("sessionId")), EncodableValue("s1"));
  EXPECT_EQ(map.at(EncodableValue("mode")), EncodableValue("desktop"));
}

TEST(StandardMethodCodecCalls, DecodeFromPointerAndSize) {
  const Bytes bytes = Hex("07 01 78 | 03 05 00 00 00");
  const auto decoded = Codec().DecodeMethodCall(bytes.data(), bytes.size());
  ASSERT_NE(decoded, nullptr);
  EXPECT_EQ(decoded->method_name(), "x");
  EXPECT_EQ(*decoded->arguments(), EncodableValue(5));
}

TEST(StandardMethodCodecCalls, MalformedCallsAreRefused) {
  EXPECT_EQ(DecodeCall(""), nullptr);
  EXPECT_EQ(Codec().DecodeMethodCall(nullptr, 3), nullptr);
  EXPECT_EQ(DecodeCall("03 01 00 00 00 | 00"), nullptr);          // the name is not a string
  EXPECT_EQ(DecodeCall("00 | 00"), nullptr);                      // the name is null
  EXPECT_EQ(DecodeCall("05 01 6D | 00"), nullptr);                // the name is a large integer
  EXPECT_EQ(DecodeCall("07 04 70 69 6E 67"), nullptr);            // no argument value
  EXPECT_EQ(DecodeCall("07 04 70 69 6E 67 | 00 | 00"), nullptr);  // bytes after the arguments
  EXPECT_EQ(DecodeCall("07 04 70 69 6E 67 | 0F"), nullptr);       // an unknown tag in the arguments
  EXPECT_EQ(DecodeCall("07 05 70 69 6E 67 | 00"), nullptr);       // the name runs into the arguments
  EXPECT_NE(DecodeCall("07 04 70 69 6E 67 | 00"), nullptr);       // the control
}

TEST(StandardMethodCodecCalls, EveryProperPrefixOfACallIsRefused) {
  const Bytes whole = Hex("07 01 6D | 0C 02 | 06 00 00 | 00 00 00 00 00 00 F0 3F | 07 01 61");
  ASSERT_NE(Codec().DecodeMethodCall(whole), nullptr);
  for (size_t length = 0; length < whole.size(); ++length) {
    EXPECT_EQ(Codec().DecodeMethodCall(whole.data(), length), nullptr) << "prefix of " << length << " bytes";
  }
}

TEST(StandardMethodCodecCalls, CustomArgumentsCannotBeEncoded) {
  const MethodCall<EncodableValue> call("m", std::make_unique<EncodableValue>(CustomEncodableValue(std::any(1))));
  EXPECT_EQ(Codec().EncodeMethodCall(call), nullptr);
}

// --- success envelopes ---

TEST(StandardMethodCodecSuccess, Encode) {
  EXPECT_EQ(HexOf(Codec().EncodeSuccessEnvelope()), Normal("00 | 00"));
  const EncodableValue ok("ok");
  EXPECT_EQ(HexOf(Codec().EncodeSuccessEnvelope(&ok)), Normal("00 | 07 02 6F 6B"));
  // The envelope byte counts for alignment: the float64 tag is at offset 1, its value at 8.
  const EncodableValue one(1.0);
  EXPECT_EQ(HexOf(Codec().EncodeSuccessEnvelope(&one)), Normal("00 | 06 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 3F"));
  const EncodableValue custom(CustomEncodableValue(std::any(1)));
  EXPECT_EQ(Codec().EncodeSuccessEnvelope(&custom), nullptr);
}

TEST(StandardMethodCodecSuccess, NullResultArrivesAsSuccessWithoutValue) {
  const auto answers = Process("00 | 00");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].kind, Answer::Kind::kSuccess);
  EXPECT_FALSE(answers[0].value.has_value());
}

TEST(StandardMethodCodecSuccess, ValueArrivesWithTheSuccess) {
  const auto text = Process("00 | 07 02 6F 6B");
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0].kind, Answer::Kind::kSuccess);
  EXPECT_EQ(text[0].value, EncodableValue("ok"));

  const auto number = Process("00 | 06 00 00 00 00 00 00 | 00 00 00 00 00 00 F0 3F");
  ASSERT_EQ(number.size(), 1u);
  EXPECT_EQ(number[0].value, EncodableValue(1.0));

  const auto list = Process("00 | 0C 02 01 02");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].value, EncodableValue(EncodableList{EncodableValue(true), EncodableValue(false)}));
}

// --- error envelopes ---

TEST(StandardMethodCodecError, Encode) {
  EXPECT_EQ(HexOf(Codec().EncodeErrorEnvelope("E")), Normal("01 | 07 01 45 | 00 | 00"));  // empty message: null
  EXPECT_EQ(HexOf(Codec().EncodeErrorEnvelope("E", "msg")), Normal("01 | 07 01 45 | 07 03 6D 73 67 | 00"));
  const EncodableValue seven(7);
  EXPECT_EQ(HexOf(Codec().EncodeErrorEnvelope("E", "msg", &seven)),
            Normal("01 | 07 01 45 | 07 03 6D 73 67 | 03 07 00 00 00"));
  // Details float64: its tag at offset 5, its value at 8.
  const EncodableValue one(1.0);
  EXPECT_EQ(HexOf(Codec().EncodeErrorEnvelope("E", "", &one)),
            Normal("01 | 07 01 45 | 00 | 06 00 00 | 00 00 00 00 00 00 F0 3F"));
  const EncodableValue custom(CustomEncodableValue(std::any(1)));
  EXPECT_EQ(Codec().EncodeErrorEnvelope("E", "", &custom), nullptr);
}

TEST(StandardMethodCodecError, NullMessageAndNullDetails) {
  const auto answers = Process("01 | 07 01 45 | 00 | 00");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].kind, Answer::Kind::kError);
  EXPECT_EQ(answers[0].code, "E");
  EXPECT_EQ(answers[0].message, "");
  EXPECT_FALSE(answers[0].value.has_value());
}

TEST(StandardMethodCodecError, MessageAsString) {
  const auto empty = Process("01 | 07 01 45 | 07 00 | 00");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0].message, "");
  const auto text = Process("01 | 07 0E 4E 4F 54 5F 41 55 54 48 4F 52 49 5A 45 44 | 07 03 6D 73 67 | 00");
  ASSERT_EQ(text.size(), 1u);
  EXPECT_EQ(text[0].code, "NOT_AUTHORIZED");
  EXPECT_EQ(text[0].message, "msg");
  EXPECT_FALSE(text[0].value.has_value());
}

TEST(StandardMethodCodecError, Details) {
  const auto answers = Process("01 | 07 01 45 | 07 03 6D 73 67 | 0D 01 07 01 6B 03 07 00 00 00");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].kind, Answer::Kind::kError);
  EXPECT_EQ(answers[0].value, EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(7)}}));
  // Details that need alignment: tag at offset 5.
  const auto aligned = Process("01 | 07 01 45 | 00 | 06 00 00 | 00 00 00 00 00 00 F0 3F");
  ASSERT_EQ(aligned.size(), 1u);
  EXPECT_EQ(aligned[0].value, EncodableValue(1.0));
}

TEST(StandardMethodCodecError, RoundTrip) {
  const EncodableValue details(EncodableList{EncodableValue(int64_t{1} << 40), EncodableValue("x")});
  const auto bytes = Codec().EncodeErrorEnvelope("DRIVER_INSTALL_FAILED", "The installer failed", &details);
  ASSERT_NE(bytes, nullptr);
  RecordingResult result;
  ASSERT_TRUE(Codec().DecodeAndProcessResponseEnvelope(bytes->data(), bytes->size(), &result));
  ASSERT_EQ(result.answers.size(), 1u);
  EXPECT_EQ(result.answers[0].code, "DRIVER_INSTALL_FAILED");
  EXPECT_EQ(result.answers[0].message, "The installer failed");
  EXPECT_EQ(result.answers[0].value, details);
}

// --- malformed answers ---

TEST(StandardMethodCodecMalformedEnvelope, Refused) {
  ExpectEnvelopeRefused("");                                     // no bytes: the channel's "not implemented", not ours
  ExpectEnvelopeRefused("02 | 00");                              // neither success nor error
  ExpectEnvelopeRefused("00");                                   // success without its value
  ExpectEnvelopeRefused("00 | 00 | 00");                         // bytes after the value
  ExpectEnvelopeRefused("00 | 0F");                              // an unknown tag
  ExpectEnvelopeRefused("01 | 03 01 00 00 00 | 00 | 00");        // the code is not a string
  ExpectEnvelopeRefused("01 | 00 | 00 | 00");                    // the code is null
  ExpectEnvelopeRefused("01 | 07 01 45 | 03 01 00 00 00 | 00");  // the message is a number
  ExpectEnvelopeRefused("01 | 07 01 45 | 05 01 31 | 00");        // the message is a large integer
  ExpectEnvelopeRefused("01 | 07 01 45 | 00");                   // no details
  ExpectEnvelopeRefused("01 | 07 01 45 | 00 | 00 | 00");         // bytes after the details
  ExpectEnvelopeRefused("01 | 07 01 45 | 00 | 06 01 00 | 00 00 00 00 00 00 F0 3F");  // non-zero padding
  EXPECT_FALSE(Codec().DecodeAndProcessResponseEnvelope(nullptr, 2, nullptr));
}

TEST(StandardMethodCodecMalformedEnvelope, EveryProperPrefixIsRefused) {
  for (const char* hex : {"01 | 07 01 45 | 07 03 6D 73 67 | 0C 01 03 07 00 00 00", "00 | 0D 01 07 01 61 01"}) {
    const Bytes whole = Hex(hex);
    RecordingResult control;
    ASSERT_TRUE(Codec().DecodeAndProcessResponseEnvelope(whole.data(), whole.size(), &control)) << hex;
    for (size_t length = 0; length < whole.size(); ++length) {
      RecordingResult result;
      EXPECT_FALSE(Codec().DecodeAndProcessResponseEnvelope(whole.data(), length, &result))
          << hex << ": prefix of " << length << " bytes";
      EXPECT_TRUE(result.answers.empty());
    }
  }
}

TEST(StandardMethodCodecMalformedEnvelope, ValidityWithoutAResult) {
  const Bytes valid = Hex("00 | 00");
  const Bytes invalid = Hex("00 | 00 | 00");
  EXPECT_TRUE(Codec().DecodeAndProcessResponseEnvelope(valid.data(), valid.size(), nullptr));
  EXPECT_FALSE(Codec().DecodeAndProcessResponseEnvelope(invalid.data(), invalid.size(), nullptr));
}

}  // namespace
}  // namespace flutter
