#pragma once
// Unicode case and white-space rules for the names of capture sources (portable).
//
// The data come from the Unicode Character Database through the generated
// unicode_lower_table.inc (scripts/generate-unicode-tables); the Unicode version is named there.

#include <string>
#include <string_view>

namespace corvane {

// The Unicode full lower-case mapping of UTF-8 text: the simple mappings of UnicodeData.txt,
// replaced by the unconditional entries of SpecialCasing.txt (U+0130 becomes U+0069 U+0307), and
// the Final_Sigma rule for U+03A3: it becomes U+03C2 when, case-ignorable characters skipped, a
// cased character comes before it and none comes after it, otherwise U+03C3. The
// language-specific rules (Lithuanian, Turkish, Azeri) are not applied. Every byte of an ill-formed
// sequence becomes U+FFFD.
std::string unicode_lower(std::string_view utf8);

// True for the code points with the White_Space property (PropList.txt).
bool is_unicode_white_space(char32_t code_point) noexcept;

// `utf8` without the White_Space code points at its start and end. Everything between, ill-formed
// bytes included, is kept as it was.
std::string trim_unicode_white_space(std::string_view utf8);

}  // namespace corvane
