#pragma once
// Text built in a buffer of fixed size, for code that must not allocate (the crash handler).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane {

// Up to `Capacity` characters, always followed by a terminating zero. What does not fit is dropped
// and truncated() says so; a line end always fits (it takes the last place when the text is full).
template <class Char, std::size_t Capacity>
class BasicFixedText {
  static_assert(Capacity >= 2, "a line needs room for one character and its end");

 public:
  // Empties the text.
  void clear() noexcept { shorten_to(0); }

  // Keeps the first `size` characters (a mark taken from size() before appending).
  void shorten_to(std::size_t size) noexcept {
    if (size < size_) {
      size_ = size;
      data_[size_] = Char{};
    }
    truncated_ = false;
  }

  void append(std::basic_string_view<Char> text) noexcept {
    for (const Char c : text) {
      if (size_ == Capacity) {
        truncated_ = true;
        return;
      }
      data_[size_++] = c;
    }
    data_[size_] = Char{};
  }

  // ASCII text into a text of any character type.
  void append_ascii(std::string_view text) noexcept {
    for (const char c : text) {
      const Char wide = static_cast<Char>(c);
      append(std::basic_string_view<Char>(&wide, 1));
    }
  }

  // `value` in decimal, zero-padded to at least `min_digits` digits.
  void append_decimal(std::uint64_t value, int min_digits = 1) noexcept { append_number(value, 10, min_digits); }

  // "0x" and `value` in upper-case hexadecimal, zero-padded to at least `min_digits` digits.
  void append_hex(std::uint64_t value, int min_digits) noexcept {
    append_ascii("0x");
    append_number(value, 16, min_digits);
  }

  // Replaces every `from` with `to`.
  void replace(Char from, Char to) noexcept {
    for (std::size_t i = 0; i < size_; ++i) {
      if (data_[i] == from) {
        data_[i] = to;
      }
    }
  }

  // Ends the text with a line feed, in place of its last character when it is full.
  void end_line() noexcept {
    if (size_ == Capacity) {
      data_[Capacity - 1] = static_cast<Char>('\n');
      truncated_ = true;
      return;
    }
    data_[size_++] = static_cast<Char>('\n');
    data_[size_] = Char{};
  }

  std::basic_string_view<Char> view() const noexcept { return std::basic_string_view<Char>(data_.data(), size_); }
  const Char* c_str() const noexcept { return data_.data(); }
  std::size_t size() const noexcept { return size_; }
  bool truncated() const noexcept { return truncated_; }

 private:
  void append_number(std::uint64_t value, unsigned base, int min_digits) noexcept {
    std::array<char, 64> digits{};
    std::size_t count = 0;
    do {
      digits[count++] = "0123456789ABCDEF"[value % base];
      value /= base;
    } while (value != 0);
    for (int pad = min_digits - static_cast<int>(count); pad > 0; --pad) {
      append_ascii("0");
    }
    while (count > 0) {
      --count;
      append_ascii(std::string_view(&digits[count], 1));
    }
  }

  std::array<Char, Capacity + 1> data_{};
  std::size_t size_ = 0;
  bool truncated_ = false;
};

template <std::size_t Capacity>
using FixedText = BasicFixedText<char, Capacity>;
template <std::size_t Capacity>
using FixedWideText = BasicFixedText<wchar_t, Capacity>;

}  // namespace corvane
