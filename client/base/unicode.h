#pragma once
// The host's one converter between UTF-8 and UTF-16, strict in both directions as Windows is with
// MB_ERR_INVALID_CHARS and WC_ERR_INVALID_CHARS. Portable: Win32 callers pass wchar_t text, which is
// UTF-16 there.

#include <optional>
#include <string>
#include <string_view>

namespace corvane::client {

// UTF-16 of well-formed UTF-8: nothing for an overlong form, an encoded surrogate, a value above
// U+10FFFF, a stray or missing continuation byte.
std::optional<std::u16string> Utf16FromStrictUtf8(std::string_view text);

// UTF-8 of well-formed UTF-16: nothing for a surrogate without its partner.
std::optional<std::string> Utf8FromStrictUtf16(std::u16string_view text);

// `utf16` (a wchar_t or char16_t text of UTF-16 units) as UTF-8, or the empty string when it is not
// valid UTF-16.
template <class Unit>
std::string Utf8FromUtf16(std::basic_string_view<Unit> utf16) {
  static_assert(sizeof(Unit) == sizeof(char16_t), "UTF-16 code units");
  const std::u16string units(utf16.begin(), utf16.end());
  return Utf8FromStrictUtf16(units).value_or(std::string());
}

// `utf8` as UTF-16 code units of type `Unit` (wchar_t for Win32 calls), or the empty text when it is
// not valid UTF-8.
template <class Unit = wchar_t>
std::basic_string<Unit> Utf16FromUtf8(std::string_view utf8) {
  static_assert(sizeof(Unit) == sizeof(char16_t), "UTF-16 code units");
  const std::optional<std::u16string> units = Utf16FromStrictUtf8(utf8);
  return units ? std::basic_string<Unit>(units->begin(), units->end()) : std::basic_string<Unit>();
}

}  // namespace corvane::client
