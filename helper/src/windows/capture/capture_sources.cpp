#include "windows/capture/capture_sources.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <utility>

#include "common/unicode_lower.h"

namespace corvane::helper {

namespace {

constexpr std::string_view kMiddleDot = "\xC2\xB7";       // U+00B7
constexpr std::string_view kMultiplication = "\xC3\x97";  // U+00D7

}  // namespace

std::string monitor_name(std::string_view device_utf8, std::int32_t width, std::int32_t height, bool primary) {
  std::string name(device_utf8);
  name += ' ';
  name += kMiddleDot;
  name += ' ';
  name += std::to_string(width);
  name += kMultiplication;
  name += std::to_string(height);
  if (primary) {
    name += ' ';
    name += kMiddleDot;
    name += " primary";
  }
  return name;
}

std::string handle_text(std::uint64_t handle) { return std::to_string(handle); }

void order_capture_sources(std::vector<protocol::CaptureSource>& list) {
  const auto rest = std::find_if(list.begin(), list.end(),
                                 [](const protocol::CaptureSource& source) { return source.kind != "monitor"; });
  // Each sort key is computed once. std::string compares through std::char_traits<char>, whose lt
  // compares as unsigned char, so "é" (0xC3 0xA9) sorts after "z" (0x7A) on every compiler,
  // whether char is signed or not.
  std::vector<std::pair<std::string, protocol::CaptureSource>> keyed;
  keyed.reserve(static_cast<std::size_t>(list.end() - rest));
  for (auto it = rest; it != list.end(); ++it) {
    keyed.emplace_back(unicode_lower(it->name), std::move(*it));
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& left, const auto& right) { return left.first < right.first; });
  auto out = rest;
  for (auto& entry : keyed) {
    *out++ = std::move(entry.second);
  }
  const auto last = std::unique(list.begin(), list.end(),
                                [](const protocol::CaptureSource& previous, const protocol::CaptureSource& next) {
                                  return previous.id == next.id;
                                });
  list.erase(last, list.end());
}

Result<CaptureTarget> parse_capture_source_id(std::string_view id) {
  const std::size_t colon = id.find(':');
  if (colon == std::string_view::npos) {
    return fail("capture source ID is invalid");
  }
  const std::string_view kind = id.substr(0, colon);
  std::string_view digits = id.substr(colon + 1);
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
  }
  CaptureTarget target;
  const bool only_digits =
      !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!only_digits) {
    return fail("capture source handle is invalid");
  }
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), target.handle);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    return fail("capture source handle is invalid");  // more than 64 bits
  }
  if (kind == "window") {
    target.is_window = true;
  } else if (kind != "monitor") {
    return fail("capture source kind is invalid");
  }
  return target;
}

Result<std::string> capture_target_fragment(std::string_view id) {
  const auto target = parse_capture_source_id(id);
  if (!target) {
    return fail(target.error());
  }
  if (target->is_window) {
    return "window-handle=" + handle_text(target->handle) + " window-capture-mode=client";
  }
  return "monitor-handle=" + handle_text(target->handle);
}

}  // namespace corvane::helper
