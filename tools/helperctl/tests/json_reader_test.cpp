// The strict JSON reader behind `start` and `update`: accepted forms, escapes, refusals, uint32 range.
#include <gtest/gtest.h>

#include <algorithm>
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

// `text` is refused with one error line naming byte `byte` (from 1) and saying `reason`.
void ExpectRefusedAt(std::string_view text, int byte, std::string_view reason) {
  const std::string error = refusal(text);
  const std::string prefix = "invalid JSON at byte " + std::to_string(byte) + ": ";
  EXPECT_EQ(error.substr(0, prefix.size()), prefix) << text << " => " << error;
  EXPECT_NE(error.find(reason), std::string::npos) << text << " => " << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
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
  EXPECT_EQ(refusal("  \n"), "invalid JSON at byte 4: unexpected end of text (expected '{' to begin an object)");
  EXPECT_EQ(refusal("[1]"), "invalid JSON at byte 1: expected '{' to begin an object");
  EXPECT_EQ(refusal(" 5"), "invalid JSON at byte 2: expected '{' to begin an object");
  // The library's own words follow the position, without its "[json.exception…] … column N:" prefix.
  EXPECT_EQ(refusal(R"({"a":1,})"),
            "invalid JSON at byte 8: syntax error while parsing object key - unexpected '}'; expected string literal");
  ExpectRefusedAt("{", 2, "unexpected end of input; expected string literal");
  ExpectRefusedAt(R"({"a":1,})", 8, "unexpected '}'; expected string literal");
  ExpectRefusedAt(R"({a:1})", 2, "expected string literal");
  ExpectRefusedAt(R"({'a':1})", 2, "expected string literal");
  ExpectRefusedAt(R"({"a" 1})", 6, "expected ':'");
  ExpectRefusedAt(R"({"a":1 "b":2})", 10, "unexpected string literal; expected '}'");
  ExpectRefusedAt(R"({"a":1)", 7, "unexpected end of input; expected '}'");
  ExpectRefusedAt(R"({"a":1} x)", 9, "expected end of input");
  ExpectRefusedAt(R"({"a":1}{})", 8, "unexpected '{'; expected end of input");
  ExpectRefusedAt(R"({/*c*/})", 2, "expected string literal");
}

TEST(helperctlJsonReader, RefusesMalformedNumbers) {
  ExpectRefusedAt(R"({"a":01})", 7, "unexpected number literal");
  ExpectRefusedAt(R"({"a":-})", 7, "invalid number; expected digit after '-'");
  ExpectRefusedAt(R"({"a":1.})", 8, "invalid number; expected digit after '.'");
  ExpectRefusedAt(R"({"a":1e})", 8, "invalid number; expected '+', '-', or digit after exponent");
  ExpectRefusedAt(R"({"a":1e+})", 9, "invalid number; expected digit after exponent sign");
  ExpectRefusedAt(R"({"a":.5})", 6, "invalid literal");
  ExpectRefusedAt(R"({"a":+5})", 6, "invalid literal");
}

TEST(helperctlJsonReader, RefusesValuesOtherThanStringsNumbersAndBooleans) {
  EXPECT_EQ(refusal(R"({"a":null})"), "invalid JSON at byte 6: null is not accepted (value of \"a\")");
  EXPECT_EQ(refusal(R"({"a":{}})"),
            "invalid JSON at byte 6: nested objects and arrays are not accepted (value of \"a\")");
  EXPECT_EQ(refusal(R"({"a":[1]})"),
            "invalid JSON at byte 6: nested objects and arrays are not accepted (value of \"a\")");
  ExpectRefusedAt(R"({"a":tru})", 9, "invalid literal");
  ExpectRefusedAt(R"({"a":True})", 6, "invalid literal");
  ExpectRefusedAt(R"({"a":})", 6, "unexpected '}'");
}

TEST(helperctlJsonReader, RefusesBrokenStrings) {
  ExpectRefusedAt(R"({"a":"x)", 8, "missing closing quote");
  ExpectRefusedAt(R"({"a":"x\)", 9, "forbidden character after backslash");
  ExpectRefusedAt("{\"a\":\"x\ny\"}", 8, "control character U+000A (LF) must be escaped");
  ExpectRefusedAt("{\"a\":\"x\ty\"}", 8, "control character U+0009 (HT) must be escaped");
  ExpectRefusedAt(R"({"a":"\x"})", 8, "forbidden character after backslash");
  ExpectRefusedAt(R"({"a":"\'"})", 8, "forbidden character after backslash");
  ExpectRefusedAt(R"({"a":"\u12"})", 11, "'\\u' must be followed by 4 hex digits");
  ExpectRefusedAt(R"({"a":"\u12g4"})", 11, "'\\u' must be followed by 4 hex digits");
}

TEST(helperctlJsonReader, RefusesUnpairedSurrogateEscapes) {
  ExpectRefusedAt(R"({"a":"\udc00"})", 12, "surrogate U+DC00..U+DFFF must follow U+D800..U+DBFF");
  ExpectRefusedAt(R"({"a":"\ud83d"})", 13, "surrogate U+D800..U+DBFF must be followed by U+DC00..U+DFFF");
  ExpectRefusedAt(R"({"a":"\ud83dx"})", 13, "must be followed by U+DC00..U+DFFF");
  ExpectRefusedAt(R"({"a":"\ud83d\u0041"})", 18, "must be followed by U+DC00..U+DFFF");
  ExpectRefusedAt(R"({"a":"\ud83d\ud83d"})", 18, "must be followed by U+DC00..U+DFFF");
  ExpectRefusedAt(R"({"a":"\ud83d\u12"})", 17, "'\\u' must be followed by 4 hex digits");
}

TEST(helperctlJsonReader, RefusesIllFormedUtf8WithoutRepeatingIt) {
  // The error line names the position; the offending bytes themselves are not copied into it.
  ExpectRefusedAt("{\"a\":\"\xC3\"}", 8, "ill-formed UTF-8 byte");
  ExpectRefusedAt("{\"a\":\"ok\xC0\xAF\"}", 9, "ill-formed UTF-8 byte");
  ExpectRefusedAt("{\"a\":\"\xED\xA0\x80\"}", 8, "ill-formed UTF-8 byte");
  ExpectRefusedAt("{\"a\":\"\xFF\"}", 7, "ill-formed UTF-8 byte");
  ExpectRefusedAt("{\"\xF5\x80\x80\x80\":1}", 3, "ill-formed UTF-8 byte; expected string literal");
  for (const std::string_view text : {"{\"a\":\"\xC3\"}", "{\"a\":\"ok\xC0\xAF\"}", "{\"\xF5\x80\x80\x80\":1}"}) {
    const std::string error = refusal(text);
    EXPECT_TRUE(std::all_of(error.begin(), error.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        << error;
  }
}

TEST(helperctlJsonReader, RefusesDuplicateKeys) {
  EXPECT_EQ(refusal(R"({"a":1,"a":2})"), "invalid JSON at byte 8: duplicate key \"a\"");
  // Keys are compared after unescaping.
  EXPECT_EQ(refusal(R"({"a":1, "\u0061":"x"})"), "invalid JSON at byte 9: duplicate key \"a\"");
  // The position is where the repeated key opens, also when escaped quotes and backslashes precede it.
  EXPECT_EQ(refusal(R"({"a\\\"b":1,"a\\\"b":2})"), R"(invalid JSON at byte 13: duplicate key "a\\\"b")");
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
