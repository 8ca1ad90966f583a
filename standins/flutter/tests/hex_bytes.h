#pragma once
// Test helpers: messages written as hexadecimal byte text ("07 02 68 69"), and runs of one byte.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace flutter_test {

using Bytes = std::vector<uint8_t>;

// The bytes of hexadecimal text; spaces and "|" (to set off padding or a field) are ignored.
inline Bytes Hex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (const char c : text) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c == ' ' || c == '|') {
      continue;
    } else {
      throw std::invalid_argument("not hexadecimal text");
    }
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) {
    throw std::invalid_argument("odd number of hexadecimal digits");
  }
  return out;
}

// count copies of byte.
inline Bytes Repeat(size_t count, uint8_t byte) { return Bytes(count, byte); }

// The concatenation of byte sequences.
inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) {
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// Hexadecimal text of bytes, for readable failure messages.
inline std::string ToHex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) {
      out.push_back(' ');
    }
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 15]);
  }
  return out;
}

}  // namespace flutter_test
