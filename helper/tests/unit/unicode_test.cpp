#include "common/unicode.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(Utf8Validation, AcceptsWellFormedText) {
  EXPECT_TRUE(utf8_valid(""));
  EXPECT_TRUE(utf8_valid("plain ascii text that is longer than eight bytes"));
  EXPECT_TRUE(utf8_valid("\xC2\x80"));          // U+0080
  EXPECT_TRUE(utf8_valid("\xE0\xA0\x80"));      // U+0800
  EXPECT_TRUE(utf8_valid("\xED\x9F\xBF"));      // U+D7FF, just below the surrogates
  EXPECT_TRUE(utf8_valid("\xF0\x90\x80\x80"));  // U+10000
  EXPECT_TRUE(utf8_valid("\xF4\x8F\xBF\xBF"));  // U+10FFFF
  EXPECT_TRUE(utf8_valid("سلام Corvane ✓ 😀"));
}

TEST(Utf8Validation, RefusesIllFormedText) {
  EXPECT_FALSE(utf8_valid("\x80"));              // lone continuation byte
  EXPECT_FALSE(utf8_valid("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(utf8_valid("\xC1\xBF"));          // overlong
  EXPECT_FALSE(utf8_valid("\xE0\x9F\xBF"));      // overlong three-byte form
  EXPECT_FALSE(utf8_valid("\xED\xA0\x80"));      // surrogate U+D800
  EXPECT_FALSE(utf8_valid("\xF0\x8F\xBF\xBF"));  // overlong four-byte form
  EXPECT_FALSE(utf8_valid("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(utf8_valid("\xF5\x80\x80\x80"));
  EXPECT_FALSE(utf8_valid("\xFF"));
  EXPECT_FALSE(utf8_valid("abc\xE2\x82"));           // truncated at the end
  EXPECT_FALSE(utf8_valid("abcdefgh\xE2\x28\xA1"));  // bad continuation after the ASCII fast path
}

TEST(Utf16Conversion, PairsBecomeOneCodePoint) {
  const std::u16string text = u"a\u00E9\u062C\U0001F600";
  EXPECT_EQ(utf16_to_utf8_strict(std::u16string_view(text)),
            std::optional<std::string>("a\xC3\xA9\xD8\xAC\xF0\x9F\x98\x80"));
  EXPECT_EQ(utf8_to_utf16<char16_t>("a\xC3\xA9\xD8\xAC\xF0\x9F\x98\x80"), text);
}

TEST(Utf16Conversion, UnpairedSurrogatesFailStrictAndBecomeReplacementLossy) {
  const char16_t lone_high[] = {u'x', 0xD800, u'y', 0};
  const char16_t lone_low[] = {0xDC00, u'z', 0};
  const char16_t high_at_end[] = {u'q', 0xDBFF, 0};
  for (const char16_t* text : {lone_high, lone_low, high_at_end}) {
    EXPECT_FALSE(utf16_to_utf8_strict(std::u16string_view(text)).has_value());
  }
  EXPECT_EQ(utf16_to_utf8_lossy(std::u16string_view(lone_high)), "x\xEF\xBF\xBDy");
  EXPECT_EQ(utf16_to_utf8_lossy(std::u16string_view(lone_low)), "\xEF\xBF\xBDz");
  EXPECT_EQ(utf16_to_utf8_lossy(std::u16string_view(high_at_end)), "q\xEF\xBF\xBD");
}

TEST(Utf16Conversion, IllFormedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(utf8_to_utf16<char16_t>("a\xFF"
                                    "b"),
            u"a\uFFFDb");
  EXPECT_EQ(utf8_to_utf16<char16_t>("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
}

}  // namespace
}  // namespace corvane
