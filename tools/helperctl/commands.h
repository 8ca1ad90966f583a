#pragma once
// helperctl's command line: options, then commands, each becoming one action of the run.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"
#include "protocol/messages.h"

namespace corvane::helperctl {

// A command for the helper: the envelope is written as one frame, then frames are read and printed
// until the reply with the same request ID has been printed.
struct SendRequest {
  protocol::HelperEnvelope envelope;
  bool operator==(const SendRequest&) const = default;
};

// Prints frames as they arrive, for this long.
struct WatchEvents {
  std::uint32_t milliseconds = 0;
  bool operator==(const WatchEvents&) const = default;
};

// Writes these bytes to the pipe as they are, without framing; nothing is awaited.
struct WriteRaw {
  std::vector<std::uint8_t> bytes;
  bool operator==(const WriteRaw&) const = default;
};

// Waits for the next frame (or the end of the connection) and prints it.
struct ReadFrame {
  bool operator==(const ReadFrame&) const = default;
};

using Action = std::variant<SendRequest, WatchEvents, WriteRaw, ReadFrame>;

// Everything helperctl's command line asks for.
struct Invocation {
  bool show_usage = false;  // `--help` alone: print the usage text and do nothing else
  std::string helper_path;  // `--helper <path>`; empty means corvane_media_helper.exe beside helperctl.exe
  std::vector<Action> actions;
};

// The longest `watch`, in seconds (one day).
inline constexpr std::uint32_t kMaxWatchSeconds = 86400;

// Parses the arguments after the program name. Requests get the IDs "1", "2", … in the order written;
// `watch`, `raw` and `read` take no ID. An error is one line (without the "helperctl: " prefix).
Result<Invocation> parse_invocation(std::span<const std::string> words);

// The `start` argument: a JSON object with the StartBroadcast field names of the schema as keys
// (strings, whole numbers 0..4294967295, booleans); missing keys keep their defaults.
Result<protocol::StartBroadcast> start_broadcast_from_json(std::string_view json);

// The `update` argument: a JSON object with the UpdateBroadcastProfile field names as keys.
Result<protocol::UpdateBroadcastProfile> update_profile_from_json(std::string_view json);

// The text `helperctl --help` prints: every command, the output format and the exit codes.
std::string_view usage_text();

}  // namespace corvane::helperctl
