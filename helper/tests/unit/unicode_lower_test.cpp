#include "common/unicode_lower.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace corvane::helper {
namespace {

TEST(UnicodeLower, AsciiLettersOnly) {
  EXPECT_EQ(unicode_lower(""), "");
  EXPECT_EQ(unicode_lower("Hello, World! 123"), "hello, world! 123");
  // The neighbours of A-Z and a-z stay as they are.
  EXPECT_EQ(unicode_lower("@AZ[`az{"), "@az[`az{");
  EXPECT_EQ(unicode_lower("already lower case"), "already lower case");
}

TEST(UnicodeLower, LatinLettersWithTheirIrregularities) {
  EXPECT_EQ(unicode_lower("ÀÉÎÕÜÞ"), "àéîõüþ");
  EXPECT_EQ(unicode_lower("×÷"), "×÷");  // U+00D7 and U+00F7 sit between letters but have no case
  // Latin Extended-A pairs capitals and small letters alternately, from an even then from an odd code point.
  EXPECT_EQ(unicode_lower("ĀĂĄŁĹŽ"), "āăąłĺž");
  EXPECT_EQ(unicode_lower("āăą"), "āăą");        // the small letters between the capitals are left alone
  EXPECT_EQ(unicode_lower("Ĳ"), "ĳ");            // U+0132 → U+0133
  EXPECT_EQ(unicode_lower("Ÿ"), "ÿ");            // U+0178 → U+00FF, back in Latin-1
  EXPECT_EQ(unicode_lower("ƁƆƏ"), "ɓɔə");        // capitals whose small letters are in the IPA block
  EXPECT_EQ(unicode_lower("ẞ"), "ß");            // U+1E9E capital sharp s → U+00DF
  EXPECT_EQ(unicode_lower("ＡＢＣ"), "ａｂｃ");  // fullwidth forms
  // Letter-like symbols that are capitals of ordinary letters.
  EXPECT_EQ(unicode_lower("\u212A"), "k");       // KELVIN SIGN
  EXPECT_EQ(unicode_lower("\u212B"), "\u00E5");  // ANGSTROM SIGN → å
  EXPECT_EQ(unicode_lower("\u2126"), "\u03C9");  // OHM SIGN → ω
  // Roman numerals and circled letters have case too.
  EXPECT_EQ(unicode_lower("ⅫⒶ"), "ⅻⓐ");
}

TEST(UnicodeLower, CapitalIWithDotAboveKeepsItsDot) {
  const std::string lower = unicode_lower("İ");  // U+0130, two bytes
  EXPECT_EQ(lower, "i\xCC\x87");                 // U+0069 U+0307, three bytes
  EXPECT_EQ(lower.size(), 3u);
  EXPECT_EQ(unicode_lower("İstanbul"), "i\u0307stanbul");
  // No Turkish or Azeri rule: I becomes i, never dotless ı, and ı stays ı.
  EXPECT_EQ(unicode_lower("IıI"), "iıi");
  // No Lithuanian rule: Ì (U+00CC) becomes ì (U+00EC) without a combining dot.
  EXPECT_EQ(unicode_lower("Ì"), "ì");
}

TEST(UnicodeLower, TitlecaseLettersBecomeTheirSmallForms) {
  EXPECT_EQ(unicode_lower("ǅ"), "ǆ");  // U+01C5 → U+01C6
  EXPECT_EQ(unicode_lower("Ǆ"), "ǆ");  // U+01C4 → U+01C6
  EXPECT_EQ(unicode_lower("ǈǋǲ"), "ǉǌǳ");
  EXPECT_EQ(unicode_lower("ᾈ"), "ᾀ");  // U+1F88 → U+1F80, the iota subscript stays
}

TEST(UnicodeLower, OtherAlphabets) {
  EXPECT_EQ(unicode_lower("ΑΒΓ ΆΈΏ"), "αβγ άέώ");
  EXPECT_EQ(unicode_lower("МОСКВА ЁЖЇ"), "москва ёжї");
  EXPECT_EQ(unicode_lower("ՀԱՅԱՍՏԱՆ"), "հայաստան");
  EXPECT_EQ(unicode_lower("ᲐᲑᲒ"), "აბგ");  // Georgian Mtavruli U+1C90.. → Mkhedruli U+10D0..
  EXPECT_EQ(unicode_lower("ᎠᏴ"), "ꭰᏼ");      // Cherokee U+13A0 → U+AB70, U+13F4 → U+13FC
  EXPECT_EQ(unicode_lower("𐐀"), "𐐨");            // Deseret U+10400 → U+10428, four bytes each
  EXPECT_EQ(unicode_lower("𞤀"), "𞤢");      // Adlam U+1E900 → U+1E922
}

TEST(UnicodeLower, TextWithoutCaseIsUnchanged) {
  EXPECT_EQ(unicode_lower("سلام دنیا"), "سلام دنیا");
  EXPECT_EQ(unicode_lower("東京 ✓ 😀 ٤٢"), "東京 ✓ 😀 ٤٢");
  EXPECT_EQ(unicode_lower("ßǆſ"), "ßǆſ");  // small letters with capitals elsewhere are not touched
  EXPECT_EQ(unicode_lower("\u0345"), "\u0345");
  EXPECT_EQ(unicode_lower("\u200B\u00AD"), "\u200B\u00AD");
}

TEST(UnicodeLower, SigmaAtTheEndOfAWordIsFinal) {
  EXPECT_EQ(unicode_lower("ΟΔΟΣ"), "οδος");
  EXPECT_EQ(unicode_lower("ΟΔΥΣΣΕΥΣ"), "οδυσσευς");
  EXPECT_EQ(unicode_lower("ΑΣ Α"), "ας α");  // a space is not case-ignorable: the word ended
  EXPECT_EQ(unicode_lower("ΑΣ1"), "ας1");
  EXPECT_EQ(unicode_lower("aΣ"), "aς");  // any cased letter before counts, Greek or not
  // Case-ignorable characters after it are skipped: full stop (MidNumLet), combining acute (Mn),
  // soft hyphen (Cf).
  EXPECT_EQ(unicode_lower("ΑΣ."), "ας.");
  EXPECT_EQ(unicode_lower("ΑΣ\u0301"), "ας\u0301");
  EXPECT_EQ(unicode_lower("ΑΣ\u00AD"), "ας\u00AD");
  // Case-ignorable characters before it are skipped too.
  EXPECT_EQ(unicode_lower("Α'Σ"), "α'ς");
  EXPECT_EQ(unicode_lower("Α\u0301\u0301Σ"), "α\u0301\u0301ς");
  // U+02B0 ʰ is both cased and case-ignorable; it is skipped, so after it nothing cased follows.
  EXPECT_EQ(unicode_lower("ΑΣʰ"), "αςʰ");
}

TEST(UnicodeLower, SigmaElsewhereIsNotFinal) {
  EXPECT_EQ(unicode_lower("Σ"), "σ");
  EXPECT_EQ(unicode_lower("ΣΑ"), "σα");
  EXPECT_EQ(unicode_lower("1Σ"), "1σ");
  EXPECT_EQ(unicode_lower("'Σ"), "'σ");    // only case-ignorable characters before it
  EXPECT_EQ(unicode_lower("Α Σ"), "α σ");  // the space hides the letter before
  // A cased letter after case-ignorable characters continues the word.
  EXPECT_EQ(unicode_lower("ΑΣ'Α"), "ασ'α");
  EXPECT_EQ(unicode_lower("ΑΣ\u0301Α"), "ασ\u0301α");
  EXPECT_EQ(unicode_lower("ʰΣ"), "ʰσ");  // ʰ is skipped as case-ignorable: nothing cased before
  // Only the capital takes part: a small sigma stays as it is.
  EXPECT_EQ(unicode_lower("ασ"), "ασ");
}

TEST(UnicodeLower, IllFormedBytesBecomeReplacementCharacters) {
  const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD
  EXPECT_EQ(unicode_lower("A\xFF"
                          "B"),
            "a" + replacement + "b");
  EXPECT_EQ(unicode_lower("\xC3"), replacement);     // truncated two-byte sequence
  EXPECT_EQ(unicode_lower("\xC3\x89"), "\xC3\xA9");  // the complete sequence: É → é
  EXPECT_EQ(unicode_lower("\xE2\x82"), replacement + replacement);
  EXPECT_EQ(unicode_lower("\xED\xA0\x80"), replacement + replacement + replacement);  // surrogate
  EXPECT_EQ(unicode_lower("\xC0\xAF"), replacement + replacement);                    // overlong
  // A replacement character is neither cased nor case-ignorable: it ends the word.
  EXPECT_EQ(unicode_lower("ΑΣ\x80Α"), "ας" + replacement + "α");
  EXPECT_EQ(unicode_lower("Α\x80Σ"), "α" + replacement + "σ");
}

TEST(UnicodeWhiteSpace, WhiteSpaceProperty) {
  for (const char32_t code_point :
       std::initializer_list<char32_t>{0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x2005, 0x200A,
                                       0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_unicode_white_space(code_point)) << std::hex << static_cast<unsigned>(code_point);
  }
  // Format characters and separators that look empty but are not White_Space, and the neighbours
  // of the ranges above.
  for (const char32_t code_point : std::initializer_list<char32_t>{
           0x00,   0x08,   0x0E,   0x1F,   0x21,   0x84,   0x86,   0x9F,   0xA1,   0x167F, 0x1681,
           0x180E, 0x1FFF, 0x200B, 0x200C, 0x2027, 0x202A, 0x2060, 0x2FFF, 0x3001, 0xFEFF, 0x10FFFF}) {
    EXPECT_FALSE(is_unicode_white_space(code_point)) << std::hex << static_cast<unsigned>(code_point);
  }
}

TEST(UnicodeWhiteSpace, TrimRemovesWhiteSpaceAtBothEnds) {
  EXPECT_EQ(trim_unicode_white_space("  \tNotepad\r\n"), "Notepad");
  EXPECT_EQ(trim_unicode_white_space("\u00A0\u3000Title\u2028\u2029"), "Title");
  EXPECT_EQ(trim_unicode_white_space("\u0085\u202F\u205F x \u2000\u200A"), "x");
  EXPECT_EQ(trim_unicode_white_space("a  b\u3000c"), "a  b\u3000c");  // inside, white space stays
  EXPECT_EQ(trim_unicode_white_space("Title"), "Title");
  EXPECT_EQ(trim_unicode_white_space(""), "");
  EXPECT_EQ(trim_unicode_white_space(" \t\u00A0\u3000 "), "");
}

TEST(UnicodeWhiteSpace, TrimKeepsEverythingElse) {
  // U+200B ZERO WIDTH SPACE and U+FEFF are not White_Space.
  EXPECT_EQ(trim_unicode_white_space("\u200BTitle\u200B"), "\u200BTitle\u200B");
  EXPECT_EQ(trim_unicode_white_space(" \uFEFFTitle "), "\uFEFFTitle");
  // Ill-formed bytes are not white space and are kept byte for byte, not replaced.
  EXPECT_EQ(trim_unicode_white_space(" \xFF "), "\xFF");
  EXPECT_EQ(trim_unicode_white_space("\xC2 x"), "\xC2 x");  // a lead byte without its continuation
  EXPECT_EQ(trim_unicode_white_space("x\xC2"), "x\xC2");
}

}  // namespace
}  // namespace corvane::helper
