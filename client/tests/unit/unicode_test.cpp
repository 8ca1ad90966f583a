#include "base/unicode.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane::client {
namespace {

TEST(StrictUtf8, RefusesWhatWindowsRefuses) {
  EXPECT_EQ(Utf16FromStrictUtf8("A\xC3\xA9\xE2\x82\xAC"), std::u16string(u"A\u00E9\u20AC"));
  EXPECT_EQ(Utf16FromStrictUtf8("\xF4\x8F\xBF\xBF"), std::u16string(u"\U0010FFFF"));
  EXPECT_EQ(Utf16FromStrictUtf8("\xC2\x80\xDF\xBF"), std::u16string(u"\u0080\u07FF")) << "the two-byte leads' ends";
  for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x80\x80", "\xF0\x80\x80\x80", "\xED\xA0\x80", "\xED\xBF\xBF",
                          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xE2\x82", "\xE2\x28\xA1", "\xFF"}) {
    EXPECT_FALSE(Utf16FromStrictUtf8(bad).has_value()) << ::testing::PrintToString(std::string(bad));
  }
}

// Each length's first and last code point, and the pair around the surrogates.
TEST(StrictUtf16, EncodesEveryLengthAtItsEdges) {
  EXPECT_EQ(Utf8FromStrictUtf16(std::u16string(u"\0\u007F", 2)), std::string("\x00\x7F", 2));
  EXPECT_EQ(Utf8FromStrictUtf16(u"\u0080\u07FF"), std::string("\xC2\x80\xDF\xBF"));
  EXPECT_EQ(Utf8FromStrictUtf16(u"\u0800\uD7FF\uE000\uFFFF"),
            std::string("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"));
  EXPECT_EQ(Utf8FromStrictUtf16(u"\U00010000\U0010FFFF"), std::string("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));
}

TEST(StrictUtf16, RefusesASurrogateWithoutItsPartner) {
  const std::u16string bad[] = {
      {char16_t{0xD800}},                    // a high one at the end
      {char16_t{0xDBFF}, u'A'},              // a high one before something else
      {char16_t{0xD800}, char16_t{0xD800}},  // two high ones
      {char16_t{0xDC00}},                    // a low one alone
      {u'A', char16_t{0xDFFF}, u'B'},        // a low one between others
      {char16_t{0xDC00}, char16_t{0xD800}},  // a pair in the wrong order
      {char16_t{0xDC00}, char16_t{0xDC00}},  // two low ones
  };
  for (const std::u16string& text : bad) {
    EXPECT_FALSE(Utf8FromStrictUtf16(text).has_value()) << text.size() << " units, first " << int{text[0]};
  }
}

TEST(StrictUtf16, WideTextConvertsBothWaysAndInvalidTextBecomesEmpty) {
  EXPECT_EQ(Utf8FromUtf16(std::u16string_view(u"C:\\\u00E9\U0001F600")), "C:\\\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16FromUtf8<char16_t>("C:\\\xC3\xA9\xF0\x9F\x98\x80"), u"C:\\\u00E9\U0001F600");
  const char16_t unpaired[] = {u'a', char16_t{0xD83D}, u'b'};
  EXPECT_EQ(Utf8FromUtf16(std::u16string_view(unpaired, 3)), "");
  EXPECT_EQ(Utf16FromUtf8<char16_t>("a\xC0\x80"), u"");
}

}  // namespace
}  // namespace corvane::client
