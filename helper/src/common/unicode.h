#pragma once
// Text conversion between UTF-8 (used everywhere inside) and UTF-16 (used at Win32 calls).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// True when `bytes` is well-formed UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool utf8_valid(std::string_view bytes) noexcept;

// Appends the UTF-8 form of a Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);

// `bytes` as well-formed UTF-8: every byte of an ill-formed sequence becomes U+FFFD (texts from
// libraries that mean UTF-8 but do not enforce it).
std::string repair_utf8(std::string_view bytes);

namespace detail {

// Decodes UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD, or fails the whole text when strict.
template <class Unit>
std::optional<std::string> utf16_to_utf8(std::basic_string_view<Unit> text, bool strict) {
  static_assert(sizeof(Unit) == 2, "UTF-16 code units are 16 bits wide");
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto unit = static_cast<char32_t>(static_cast<std::uint16_t>(text[i]));
    if (unit < 0xD800 || unit > 0xDFFF) {
      append_utf8(out, unit);
      continue;
    }
    if (unit <= 0xDBFF && i + 1 < text.size()) {
      const auto next = static_cast<char32_t>(static_cast<std::uint16_t>(text[i + 1]));
      if (next >= 0xDC00 && next <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    if (strict) {
      return std::nullopt;
    }
    append_utf8(out, 0xFFFD);
  }
  return out;
}

}  // namespace detail

// UTF-16 to UTF-8, or nothing when the text holds an unpaired surrogate.
template <class Unit>
std::optional<std::string> utf16_to_utf8_strict(std::basic_string_view<Unit> text) {
  return detail::utf16_to_utf8(text, true);
}

// UTF-16 to UTF-8 with every unpaired surrogate replaced by U+FFFD.
template <class Unit>
std::string utf16_to_utf8_lossy(std::basic_string_view<Unit> text) {
  return *detail::utf16_to_utf8(text, false);
}

// UTF-8 to UTF-16; every ill-formed sequence becomes U+FFFD.
template <class Unit>
std::basic_string<Unit> utf8_to_utf16(std::string_view text);

// Decodes one code point at `pos` and advances it; ill-formed input yields U+FFFD and skips one byte.
char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept;

template <class Unit>
std::basic_string<Unit> utf8_to_utf16(std::string_view text) {
  static_assert(sizeof(Unit) == 2, "UTF-16 code units are 16 bits wide");
  std::basic_string<Unit> out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t cp = next_code_point(text, pos);
    if (cp >= 0x10000) {
      out.push_back(static_cast<Unit>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<Unit>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<Unit>(cp));
    }
  }
  return out;
}

}  // namespace corvane
