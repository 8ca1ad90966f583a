// Text in a fixed buffer (the crash handler's line and paths): what does not fit, numbers, line ends.
#include "common/fixed_text.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace corvane {
namespace {

TEST(FixedText, WhatDoesNotFitIsDroppedAndSaid) {
  FixedText<8> text;
  text.append("abcde");
  EXPECT_FALSE(text.truncated());
  text.append("fghij");
  EXPECT_EQ(text.view(), "abcdefgh");
  EXPECT_TRUE(text.truncated());
}

TEST(FixedText, ALineEndTakesTheLastPlaceOfAFullText) {
  FixedText<4> full;
  full.append("abcd");
  full.end_line();
  EXPECT_EQ(full.view(), "abc\n");
  EXPECT_TRUE(full.truncated());

  FixedText<4> room;
  room.append("ab");
  room.end_line();
  EXPECT_EQ(room.view(), "ab\n");
  EXPECT_FALSE(room.truncated());
}

TEST(FixedText, ReplacingReachesEveryCharacter) {
  FixedText<16> text;
  text.append("a\r\nb\n");
  text.replace('\n', ' ');
  text.replace('\r', ' ');
  EXPECT_EQ(text.view(), "a  b ");
}

TEST(FixedText, NumbersArePaddedButNeverCut) {
  FixedText<64> text;
  text.append_hex(0xC0000005u, 8);
  text.append(" ");
  text.append_hex(0x1Fu, 4);
  text.append(" ");
  text.append_hex(0x123456789ull, 4);
  text.append(" ");
  text.append_decimal(0);
  text.append(" ");
  text.append_decimal(7, 2);
  text.append(" ");
  text.append_decimal(18446744073709551615ull);
  EXPECT_EQ(text.view(), "0xC0000005 0x001F 0x123456789 0 07 18446744073709551615");
}

TEST(FixedText, ShorteningKeepsTheStartAndTheTerminator) {
  FixedWideText<16> path;
  path.append(L"C:\\crashes");
  const std::size_t folder = path.size();
  path.append(L"\\a-name-too-long-to-fit");
  ASSERT_TRUE(path.truncated());
  path.shorten_to(folder);
  EXPECT_FALSE(path.truncated());
  EXPECT_EQ(std::wcslen(path.c_str()), folder);
  path.append_ascii("\\1");
  EXPECT_EQ(path.view(), L"C:\\crashes\\1");
  EXPECT_EQ(std::wcslen(path.c_str()), path.size());
}

}  // namespace
}  // namespace corvane
