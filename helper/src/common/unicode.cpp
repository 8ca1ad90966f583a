#include "common/unicode.h"

namespace corvane {

namespace {

// Length of a well-formed sequence starting at `pos`, or 0 when the bytes there are ill-formed.
std::size_t sequence_length(const unsigned char* s, std::size_t left) noexcept {
  const unsigned char b0 = s[0];
  if (b0 < 0x80) {
    return 1;
  }
  auto cont = [&](std::size_t i) { return i < left && (s[i] & 0xC0) == 0x80; };
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    return cont(1) ? 2 : 0;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left < 2) {
      return 0;
    }
    const unsigned char b1 = s[1];
    const bool first_ok = (b0 == 0xE0)   ? (b1 >= 0xA0 && b1 <= 0xBF)  // no overlong forms
                          : (b0 == 0xED) ? (b1 >= 0x80 && b1 <= 0x9F)  // no surrogates
                                         : (b1 & 0xC0) == 0x80;
    return first_ok && cont(2) ? 3 : 0;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left < 2) {
      return 0;
    }
    const unsigned char b1 = s[1];
    const bool first_ok = (b0 == 0xF0)   ? (b1 >= 0x90 && b1 <= 0xBF)  // no overlong forms
                          : (b0 == 0xF4) ? (b1 >= 0x80 && b1 <= 0x8F)  // nothing above U+10FFFF
                                         : (b1 & 0xC0) == 0x80;
    return first_ok && cont(2) && cont(3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

bool utf8_valid(std::string_view bytes) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes at a time: the common case for identifiers, URLs and keys.
    while (i + 8 <= n) {
      std::uint64_t word = 0;
      for (std::size_t k = 0; k < 8; ++k) {
        word |= static_cast<std::uint64_t>(s[i + k]) << (8 * k);
      }
      if ((word & 0x8080808080808080ULL) != 0) {
        break;
      }
      i += 8;
    }
    if (i >= n) {
      break;
    }
    const std::size_t len = sequence_length(s + i, n - i);
    if (len == 0) {
      return false;
    }
    i += len;
  }
  return true;
}

void append_utf8(std::string& out, char32_t code_point) {
  const char32_t cp = code_point;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char32_t next_code_point(std::string_view text, std::size_t& pos) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  const std::size_t len = sequence_length(s, text.size() - pos);
  if (len == 0) {
    ++pos;
    return 0xFFFD;
  }
  pos += len;
  switch (len) {
    case 1:
      return s[0];
    case 2:
      return (static_cast<char32_t>(s[0] & 0x1F) << 6) | (s[1] & 0x3F);
    case 3:
      return (static_cast<char32_t>(s[0] & 0x0F) << 12) | (static_cast<char32_t>(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
    default:
      return (static_cast<char32_t>(s[0] & 0x07) << 18) | (static_cast<char32_t>(s[1] & 0x3F) << 12) |
             (static_cast<char32_t>(s[2] & 0x3F) << 6) | (s[3] & 0x3F);
  }
}

std::string repair_utf8(std::string_view bytes) {
  if (utf8_valid(bytes)) {
    return std::string(bytes);
  }
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    append_utf8(out, next_code_point(bytes, pos));
  }
  return out;
}

}  // namespace corvane
