#pragma once
// ASCII-only text checks, for matching the media framework's English messages.

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>

namespace corvane {

// `text` with the ASCII letters A-Z lower-cased and every other byte unchanged.
inline std::string ascii_lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

// Whether `text` contains any of `words`.
inline bool contains_any(std::string_view text, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(), [&](std::string_view word) { return text.find(word) != text.npos; });
}

}  // namespace corvane
