#include "common/unicode_lower.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "common/unicode.h"

namespace corvane {

namespace {

// Code points first, first + stride, ... up to last lower-case to themselves plus `delta`; the code
// points a run skips (stride 2) have no lower-case mapping of their own.
struct LowerRun {
  char32_t first;
  char32_t last;
  std::uint32_t stride;
  std::int32_t delta;
};

// A code point whose lower-case form is several code points; unused places of `mapping` hold 0.
struct LowerExpansion {
  char32_t code_point;
  std::array<char32_t, 3> mapping;
};

// The code points first..last, both included.
struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "common/unicode_lower_table.inc"

constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kSmallSigma = 0x03C3;
constexpr char32_t kSmallFinalSigma = 0x03C2;

bool in_ranges(std::span<const CodeRange> ranges, char32_t code_point) noexcept {
  // The first range that starts after the code point; the one before it is the only candidate.
  const auto after = std::upper_bound(ranges.begin(), ranges.end(), code_point,
                                      [](char32_t value, const CodeRange& range) { return value < range.first; });
  if (after == ranges.begin()) {
    return false;
  }
  const CodeRange& candidate = *(after - 1);
  return code_point <= candidate.last;
}

bool is_cased(char32_t code_point) noexcept { return in_ranges(kCased, code_point); }

bool is_case_ignorable(char32_t code_point) noexcept { return in_ranges(kCaseIgnorable, code_point); }

// The lower-case form of a code point whose mapping is one code point (itself when it has none).
char32_t simple_lower(char32_t code_point) noexcept {
  if (code_point < 0x80) {
    return code_point >= U'A' && code_point <= U'Z' ? code_point + (U'a' - U'A') : code_point;
  }
  const std::span<const LowerRun> runs(kLowerRuns);
  const auto after = std::upper_bound(runs.begin(), runs.end(), code_point,
                                      [](char32_t value, const LowerRun& run) { return value < run.first; });
  if (after == runs.begin()) {
    return code_point;
  }
  const LowerRun& run = *(after - 1);
  if (code_point > run.last || (code_point - run.first) % run.stride != 0) {
    return code_point;
  }
  return static_cast<char32_t>(static_cast<std::int64_t>(code_point) + run.delta);
}

const LowerExpansion* find_expansion(char32_t code_point) noexcept {
  const std::span<const LowerExpansion> expansions(kLowerExpansions);
  const auto found = std::find_if(expansions.begin(), expansions.end(),
                                  [&](const LowerExpansion& entry) { return entry.code_point == code_point; });
  return found == expansions.end() ? nullptr : &*found;
}

// The Final_Sigma condition for the code point at `index`: skipping case-ignorable characters, the
// first character before it is cased and the first character after it (if any) is not. A character
// that is both cased and case-ignorable (U+02B0 ʰ, U+0345) is skipped as case-ignorable. Every sigma
// is cased and stops the search of its neighbours, so a text of many sigmas is scanned in linear time.
bool is_final_sigma(const std::vector<char32_t>& text, std::size_t index) noexcept {
  std::size_t before = index;
  while (before > 0 && is_case_ignorable(text[before - 1])) {
    --before;
  }
  if (before == 0 || !is_cased(text[before - 1])) {
    return false;
  }
  std::size_t after = index + 1;
  while (after < text.size() && is_case_ignorable(text[after])) {
    ++after;
  }
  return after == text.size() || !is_cased(text[after]);
}

}  // namespace

std::string unicode_lower(std::string_view utf8) {
  std::vector<char32_t> text;
  text.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    text.push_back(next_code_point(utf8, pos));
  }
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t code_point = text[i];
    if (code_point == kCapitalSigma) {
      append_utf8(out, is_final_sigma(text, i) ? kSmallFinalSigma : kSmallSigma);
    } else if (const LowerExpansion* expansion = find_expansion(code_point)) {
      for (const char32_t part : expansion->mapping) {
        if (part != 0) {
          append_utf8(out, part);
        }
      }
    } else {
      append_utf8(out, simple_lower(code_point));
    }
  }
  return out;
}

bool is_unicode_white_space(char32_t code_point) noexcept { return in_ranges(kWhiteSpace, code_point); }

std::string trim_unicode_white_space(std::string_view utf8) {
  std::size_t begin = 0;
  std::size_t end = 0;  // just after the last code point that is not white space; 0 while none seen
  for (std::size_t pos = 0; pos < utf8.size();) {
    const std::size_t start = pos;
    if (!is_unicode_white_space(next_code_point(utf8, pos))) {
      if (end == 0) {
        begin = start;
      }
      end = pos;
    }
  }
  return std::string(utf8.substr(begin, end - begin));
}

}  // namespace corvane
