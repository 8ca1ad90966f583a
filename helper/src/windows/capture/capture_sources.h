#pragma once
// The portable rules of capture-source listing: display names, list order and source IDs.
//
// A capture source ID is "<kind>:<handle>" with kind "monitor" or "window" and the Win32 handle
// (HMONITOR or HWND) as an unsigned decimal number.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "protocol/messages.h"

namespace corvane::helper {

// The most capture sources one list reports.
inline constexpr std::size_t kMaxCaptureSources = 256;

// "<device> · <width>×<height>", followed by " · primary" for the primary monitor; for example
// "\\.\DISPLAY1 · 2560×1440 · primary". Negative numbers keep their minus sign.
std::string monitor_name(std::string_view device_utf8, std::int32_t width, std::int32_t height, bool primary);

// A handle as the unsigned decimal number used in capture source IDs.
std::string handle_text(std::uint64_t handle);

// Puts a list in the order the client shows it: the leading run of entries of kind "monitor" keeps
// its order; the entries after it are sorted stably by the UTF-8 bytes of unicode_lower(name); then
// every entry whose ID equals the ID of the entry just before it is removed.
void order_capture_sources(std::vector<protocol::CaptureSource>& list);

// What a capture source ID names.
struct CaptureTarget {
  bool is_window = false;  // otherwise a monitor
  std::uint64_t handle = 0;
  bool operator==(const CaptureTarget&) const = default;
};

// Parses "window:<handle>" or "monitor:<handle>". The handle is decimal digits, optionally after
// one '+', and fits in 64 bits. Errors, checked in this order: "capture source ID is invalid" (no
// ':'), "capture source handle is invalid", "capture source kind is invalid".
Result<CaptureTarget> parse_capture_source_id(std::string_view id);

// The capture element properties selecting the source named by `id`:
// "window-handle=<handle> window-capture-mode=client" or "monitor-handle=<handle>", with the handle
// in unsigned decimal without sign or leading zeros; errors as parse_capture_source_id.
Result<std::string> capture_target_fragment(std::string_view id);

}  // namespace corvane::helper
