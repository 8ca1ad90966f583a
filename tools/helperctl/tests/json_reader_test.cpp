// The strict JSON reader behind `start` and `update`: accepted forms, escapes, refusals, uint32 range.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "helperctl/json.h"

namespace corvane::helperctl {
namespace {

std::vector<JsonMember> parsed(std::string_view text) {
  auto result = parse_json_object(text);
  if (!result) {
    ADD_FAILURE() << "refused " << text << ": " << result.error();
    return {};
  }
  return *result;
}

std::string refusal(std::string_view text) {
  auto result = parse_json_object(text);
  if (result) {
    ADD_FAILURE() << "accepted " << text;
    return {};
  }
  return result.error();
}

// The one string value of {"s": ...}.
std::string string_value(std::string_view text) {
  const auto members = parsed(text);
  if (members.size() != 1 || !std::holds_alternative<std::string>(members[0].value)) {
    ADD_FAILURE() << "no single string member in " << text;
    return {};
  }
  return std::get<std::string>(members[0].value);
}

TEST(helperctlJsonReader, ReadsMembersInOrderWithTheirTypes) {
  const auto members = parsed(R"({"id":"m1","width":1280,"audio":true,"auto":false,"ratio":-1.5e3})");
  const std::vector<JsonMember> expected = {{"id", std::string("m1")},
                                            {"width", JsonNumber{"1280"}},
                                            {"audio", true},
                                            {"auto", false},
                                            {"ratio", JsonNumber{"-1.5e3"}}};
  EXPECT_EQ(members, expected);
}

TEST(helperctlJsonReader, AcceptsWhitespaceBetweenTokensAndAnEmptyObject) {
  const auto members = parsed(" \t\n{ \"a\" :\r\n1 ,\t\"b\":\"\" }\r\n");
  const std::vector<JsonMember> expected = {{"a", JsonNumber{"1"}}, {"b", std::string()}};
  EXPECT_EQ(members, expected);
  EXPECT_TRUE(parsed("{}").empty());
  EXPECT_TRUE(parsed(" { } ").empty());
}

TEST(helperctlJsonReader, KeepsNumbersAsWritten) {
  for (const std::string_view number : {"0", "-0", "12", "1.25", "1e5", "2E+10", "3e-7", "0.0", "-12.5E-3"}) {
    const auto members = parsed("{\"n\":" + std::string(number) + "}");
    ASSERT_EQ(members.size(), 1U);
    EXPECT_EQ(members[0].value, JsonValue(JsonNumber{std::string(number)})) << number;
  }
}

TEST(helperctlJsonReader, DecodesTheSimpleEscapes) {
  EXPECT_EQ(string_value(R"({"s":"q\"b\\s\/n\nt\tr\rb\bf\f"})"), "q\"b\\s/n\nt\tr\rb\bf\f");
}

TEST(helperctlJsonReader, DecodesUnicodeEscapesToUtf8) {
  EXPECT_EQ(string_value(R"({"s":"\u0041"})"), "A");
  EXPECT_EQ(string_value(R"({"s":"\u00e9\u00E9"})"), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(string_value(R"({"s":"\u20ac"})"), "\xE2\x82\xAC");
  EXPECT_EQ(string_value(R"({"s":"\u0000"})"), std::string(1, '\0'));
}

TEST(helperctlJsonReader, JoinsSurrogatePairEscapes) {
  EXPECT_EQ(string_value(R"({"s":"\ud83d\ude00"})"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(string_value(R"({"s":"a\uD834\uDD1Eb"})"),
            "a\xF0\x9D\x84\x9E"
            "b");
  EXPECT_EQ(string_value(R"({"s":"\udbff\udfff"})"), "\xF4\x8F\xBF\xBF");
}

TEST(helperctlJsonReader, PassesUtf8TextThrough) {
  EXPECT_EQ(string_value("{\"s\":\"caf\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD\"}"),
            "caf\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD");
  const auto members = parsed("{\"\xC3\xA9\":true}");
  ASSERT_EQ(members.size(), 1U);
  EXPECT_EQ(members[0].key, "\xC3\xA9");
}

TEST(helperctlJsonReader, NamesWhereTheStructureIsWrong) {
  EXPECT_EQ(refusal(""), "invalid JSON at byte 1: unexpected end of text (expected '{' to begin an object)");
  EXPECT_EQ(refusal("[1]"), "invalid JSON at byte 1: expected '{' to begin an object");
  EXPECT_EQ(refusal("{"), "invalid JSON at byte 2: unexpected end of text (expected '\"' to begin a key)");
  EXPECT_EQ(refusal(R"({"a":1,})"), "invalid JSON at byte 8: expected '\"' to begin a key");
  EXPECT_EQ(refusal(R"({a:1})"), "invalid JSON at byte 2: expected '\"' to begin a key");
  EXPECT_EQ(refusal(R"({'a':1})"), "invalid JSON at byte 2: expected '\"' to begin a key");
  EXPECT_EQ(refusal(R"({"a" 1})"), "invalid JSON at byte 6: expected ':' after the key \"a\"");
  EXPECT_EQ(refusal(R"({"a":1 "b":2})"), "invalid JSON at byte 8: expected ',' or '}' after a value");
  EXPECT_EQ(refusal(R"({"a":1)"), "invalid JSON at byte 7: unexpected end of text (expected ',' or '}' after a value)");
  EXPECT_EQ(refusal(R"({"a":1} x)"), "invalid JSON at byte 9: unexpected text after the object");
  EXPECT_EQ(refusal(R"({"a":1}{})"), "invalid JSON at byte 8: unexpected text after the object");
  EXPECT_EQ(refusal(R"({/*c*/})"), "invalid JSON at byte 2: expected '\"' to begin a key");
}

TEST(helperctlJsonReader, RefusesMalformedNumbers) {
  EXPECT_EQ(refusal(R"({"a":01})"), "invalid JSON at byte 7: a number may not have a leading zero");
  EXPECT_EQ(refusal(R"({"a":-})"), "invalid JSON at byte 7: expected a digit");
  EXPECT_EQ(refusal(R"({"a":1.})"), "invalid JSON at byte 8: expected a digit after '.'");
  EXPECT_EQ(refusal(R"({"a":1e})"), "invalid JSON at byte 8: expected a digit in the exponent");
  EXPECT_EQ(refusal(R"({"a":1e+})"), "invalid JSON at byte 9: expected a digit in the exponent");
  EXPECT_EQ(refusal(R"({"a":.5})"),
            "invalid JSON at byte 6: expected a string, number, true or false as the value of \"a\"");
  EXPECT_EQ(refusal(R"({"a":+5})"),
            "invalid JSON at byte 6: expected a string, number, true or false as the value of \"a\"");
}

TEST(helperctlJsonReader, RefusesValuesOtherThanStringsNumbersAndBooleans) {
  EXPECT_EQ(refusal(R"({"a":null})"), "invalid JSON at byte 6: null is not accepted (value of \"a\")");
  EXPECT_EQ(refusal(R"({"a":{}})"),
            "invalid JSON at byte 6: nested objects and arrays are not accepted (value of \"a\")");
  EXPECT_EQ(refusal(R"({"a":[1]})"),
            "invalid JSON at byte 6: nested objects and arrays are not accepted (value of \"a\")");
  EXPECT_EQ(refusal(R"({"a":tru})"),
            "invalid JSON at byte 6: expected a string, number, true or false as the value of \"a\"");
  EXPECT_EQ(refusal(R"({"a":True})"),
            "invalid JSON at byte 6: expected a string, number, true or false as the value of \"a\"");
  EXPECT_EQ(refusal(R"({"a":})"),
            "invalid JSON at byte 6: expected a string, number, true or false as the value of \"a\"");
}

TEST(helperctlJsonReader, RefusesBrokenStrings) {
  EXPECT_EQ(refusal(R"({"a":"x)"), "invalid JSON at byte 6: the string is not closed");
  EXPECT_EQ(refusal(R"({"a":"x\)"), "invalid JSON at byte 8: the string is not closed");
  EXPECT_EQ(refusal("{\"a\":\"x\ny\"}"), "invalid JSON at byte 8: control characters in a string must be escaped");
  EXPECT_EQ(refusal("{\"a\":\"x\ty\"}"), "invalid JSON at byte 8: control characters in a string must be escaped");
  EXPECT_EQ(refusal(R"({"a":"\x"})"), "invalid JSON at byte 7: unknown escape sequence");
  EXPECT_EQ(refusal(R"({"a":"\'"})"), "invalid JSON at byte 7: unknown escape sequence");
  EXPECT_EQ(refusal(R"({"a":"\u12"})"), "invalid JSON at byte 7: \\u needs four hex digits");
  EXPECT_EQ(refusal(R"({"a":"\u12g4"})"), "invalid JSON at byte 7: \\u needs four hex digits");
}

TEST(helperctlJsonReader, RefusesUnpairedSurrogateEscapes) {
  EXPECT_EQ(refusal(R"({"a":"\udc00"})"), "invalid JSON at byte 7: unpaired surrogate escape");
  EXPECT_EQ(refusal(R"({"a":"\ud83d"})"), "invalid JSON at byte 7: unpaired surrogate escape");
  EXPECT_EQ(refusal(R"({"a":"\ud83dx"})"), "invalid JSON at byte 7: unpaired surrogate escape");
  EXPECT_EQ(refusal(R"({"a":"\ud83d\u0041"})"), "invalid JSON at byte 7: unpaired surrogate escape");
  EXPECT_EQ(refusal(R"({"a":"\ud83d\ud83d"})"), "invalid JSON at byte 7: unpaired surrogate escape");
  EXPECT_EQ(refusal(R"({"a":"\ud83d\u12"})"), "invalid JSON at byte 13: \\u needs four hex digits");
}

TEST(helperctlJsonReader, RefusesIllFormedUtf8) {
  EXPECT_EQ(refusal("{\"a\":\"\xC3\"}"), "invalid JSON at byte 7: the text is not valid UTF-8");
  EXPECT_EQ(refusal("{\"a\":\"ok\xC0\xAF\"}"), "invalid JSON at byte 9: the text is not valid UTF-8");
  EXPECT_EQ(refusal("{\"a\":\"\xED\xA0\x80\"}"), "invalid JSON at byte 7: the text is not valid UTF-8");
  EXPECT_EQ(refusal("{\"a\":\"\xFF\"}"), "invalid JSON at byte 7: the text is not valid UTF-8");
  EXPECT_EQ(refusal("{\"\xF5\x80\x80\x80\":1}"), "invalid JSON at byte 3: the text is not valid UTF-8");
}

TEST(helperctlJsonReader, RefusesDuplicateKeys) {
  EXPECT_EQ(refusal(R"({"a":1,"a":2})"), "invalid JSON at byte 8: duplicate key \"a\"");
  // Keys are compared after unescaping.
  EXPECT_EQ(refusal(R"({"a":1, "\u0061":"x"})"), "invalid JSON at byte 9: duplicate key \"a\"");
}

TEST(helperctlJsonUint32, AcceptsWholeNumbersUpToTheLimit) {
  for (const auto& [text, value] : std::vector<std::pair<std::string, std::uint32_t>>{
           {"0", 0U}, {"1", 1U}, {"1920", 1920U}, {"4294967295", 4294967295U}}) {
    const auto converted = json_uint32(JsonNumber{text});
    ASSERT_TRUE(converted) << text << ": " << converted.error();
    EXPECT_EQ(*converted, value);
  }
}

TEST(helperctlJsonUint32, RefusesWhatIsNotAWholeNumberInRange) {
  for (const std::string_view text : {"4294967296", "18446744073709551616", "-1", "-0", "1.0", "1.5", "1e3", "1E0"}) {
    const auto converted = json_uint32(JsonNumber{std::string(text)});
    ASSERT_FALSE(converted) << text;
    EXPECT_EQ(converted.error(), std::string(text) + " is not a whole number from 0 to 4294967295");
  }
}

}  // namespace
}  // namespace corvane::helperctl
