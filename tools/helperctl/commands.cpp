#include "helperctl/commands.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <numeric>
#include <optional>
#include <system_error>
#include <utility>

#include "common/hex.h"
#include "helperctl/json.h"

namespace corvane::helperctl {

namespace {

std::string quoted(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

// One settable field of a message that a JSON argument may name.
template <class Message>
struct JsonField {
  std::string_view name;
  std::variant<std::string Message::*, std::uint32_t Message::*, bool Message::*> member;
};

const std::array<JsonField<protocol::StartBroadcast>, 13> kStartFields = {{
    {"capture_source_id", &protocol::StartBroadcast::capture_source_id},
    {"whip_url", &protocol::StartBroadcast::whip_url},
    {"stream_key", &protocol::StartBroadcast::stream_key},
    {"width", &protocol::StartBroadcast::width},
    {"height", &protocol::StartBroadcast::height},
    {"frame_rate", &protocol::StartBroadcast::frame_rate},
    {"video_bitrate_kbps", &protocol::StartBroadcast::video_bitrate_kbps},
    {"system_audio", &protocol::StartBroadcast::system_audio},
    {"exclude_app_audio", &protocol::StartBroadcast::exclude_app_audio},
    {"microphone_device_id", &protocol::StartBroadcast::microphone_device_id},
    {"profile_id", &protocol::StartBroadcast::profile_id},
    {"auto_profile", &protocol::StartBroadcast::auto_profile},
    {"audio_bitrate_kbps", &protocol::StartBroadcast::audio_bitrate_kbps},
}};

const std::array<JsonField<protocol::UpdateBroadcastProfile>, 6> kUpdateFields = {{
    {"profile_id", &protocol::UpdateBroadcastProfile::profile_id},
    {"width", &protocol::UpdateBroadcastProfile::width},
    {"height", &protocol::UpdateBroadcastProfile::height},
    {"frame_rate", &protocol::UpdateBroadcastProfile::frame_rate},
    {"video_bitrate_kbps", &protocol::UpdateBroadcastProfile::video_bitrate_kbps},
    {"audio_bitrate_kbps", &protocol::UpdateBroadcastProfile::audio_bitrate_kbps},
}};

// Stores one JSON value in the member it names, or says why it does not fit.
template <class Message>
Status assign(Message& message, const JsonField<Message>& field, const JsonValue& value) {
  const std::string key = quoted(field.name);
  if (const auto* text_member = std::get_if<std::string Message::*>(&field.member)) {
    const auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) {
      return fail(key + " must be a string");
    }
    message.*(*text_member) = *text;
    return Done{};
  }
  if (const auto* number_member = std::get_if<std::uint32_t Message::*>(&field.member)) {
    const auto* number = std::get_if<JsonNumber>(&value);
    if (number == nullptr) {
      return fail(key + " must be a number");
    }
    auto converted = json_uint32(*number);
    if (!converted) {
      return fail(key + ": " + converted.error());
    }
    message.*(*number_member) = *converted;
    return Done{};
  }
  const auto* flag = std::get_if<bool>(&value);
  if (flag == nullptr) {
    return fail(key + " must be true or false");
  }
  message.*std::get<bool Message::*>(field.member) = *flag;
  return Done{};
}

template <class Message, std::size_t N>
Result<Message> message_from_json(std::string_view json, const std::array<JsonField<Message>, N>& fields) {
  auto members = parse_json_object(json);
  if (!members) {
    return fail(members.error());
  }
  Message message{};
  for (const auto& member : *members) {
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [&member](const JsonField<Message>& f) { return f.name == member.key; });
    if (field == fields.end()) {
      std::string known;
      for (const auto& candidate : fields) {
        known += known.empty() ? "" : ", ";
        known += candidate.name;
      }
      return fail("unknown key " + quoted(member.key) + " (known keys: " + known + ")");
    }
    auto assigned = assign(message, *field, member.value);
    if (!assigned) {
      return fail(assigned.error());
    }
  }
  return message;
}

bool is_command_word(std::string_view word) {
  static constexpr std::array<std::string_view, 10> kCommands = {"caps", "sources", "stop",  "start", "update",
                                                                 "ptt",  "mic",     "watch", "raw",   "read"};
  return std::find(kCommands.begin(), kCommands.end(), word) != kCommands.end();
}

// A virtual-key code: decimal, or hexadecimal after "0x"/"0X"; 0..4294967295 (the helper judges the value).
std::optional<std::uint32_t> parse_key_code(std::string_view word) {
  int base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    word.remove_prefix(2);
    base = 16;
  }
  if (word.empty() || word.front() == '+' || word.front() == '-') {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  if (error != std::errc{} || end != word.data() + word.size()) {
    return std::nullopt;
  }
  return value;
}

// Seconds as digits with an optional fraction ("5", "0.5"); milliseconds, fraction digits past the
// third ignored. At most kMaxWatchSeconds.
std::optional<std::uint32_t> parse_seconds(std::string_view word) {
  const std::size_t dot = word.find('.');
  const std::string_view whole = word.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view{} : word.substr(dot + 1);
  auto all_digits = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (whole.empty() || !all_digits(whole) || !all_digits(fraction) ||
      (dot != std::string_view::npos && fraction.empty()) || whole.size() > 5) {
    return std::nullopt;
  }
  // At most five digits: no overflow.
  std::uint32_t milliseconds =
      1000 * std::accumulate(whole.begin(), whole.end(), std::uint32_t{0},
                             [](std::uint32_t sum, char c) { return sum * 10 + static_cast<std::uint32_t>(c - '0'); });
  std::uint32_t scale = 100;
  for (std::size_t i = 0; i < fraction.size() && i < 3; ++i) {
    milliseconds += scale * static_cast<std::uint32_t>(fraction[i] - '0');
    scale /= 10;
  }
  if (milliseconds > kMaxWatchSeconds * 1000) {
    return std::nullopt;
  }
  return milliseconds;
}

// Pairs of hex digits, optionally separated by spaces ("0400000008" or "04 00 00 00 08").
std::optional<std::vector<std::uint8_t>> parse_hex_bytes(std::string_view word) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < word.size()) {
    if (word[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= word.size()) {
      return std::nullopt;
    }
    const int high = hex_digit_value(word[i]);
    const int low = hex_digit_value(word[i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    i += 2;
  }
  if (bytes.empty()) {
    return std::nullopt;
  }
  return bytes;
}

// Reads the commands one by one; `next_request_id` numbers the requests.
class CommandParser {
 public:
  explicit CommandParser(std::span<const std::string> words) : words_(words) {}

  Result<Invocation> parse() {
    Invocation invocation;
    if (!words_.empty() && words_[0] == "--help") {
      if (words_.size() > 1) {
        return fail("--help takes no other arguments");
      }
      invocation.show_usage = true;
      return invocation;
    }
    while (pos_ < words_.size() && words_[pos_].starts_with("--")) {
      const std::string& option = words_[pos_++];
      if (option != "--helper") {
        return fail("unknown option " + quoted(option) + " (see helperctl --help)");
      }
      if (!invocation.helper_path.empty()) {
        return fail("--helper is given more than once");
      }
      if (pos_ >= words_.size() || words_[pos_].empty()) {
        return fail("--helper needs the path of corvane_media_helper.exe");
      }
      invocation.helper_path = words_[pos_++];
    }
    while (pos_ < words_.size()) {
      auto action = command();
      if (!action) {
        return fail(action.error());
      }
      invocation.actions.push_back(std::move(action).value());
    }
    return invocation;
  }

 private:
  // The word after the command, if there is one.
  std::optional<std::string> argument() {
    if (pos_ >= words_.size()) {
      return std::nullopt;
    }
    return words_[pos_++];
  }

  Action request(protocol::Payload payload) {
    protocol::HelperEnvelope envelope;
    envelope.request_id = std::to_string(next_request_id_++);
    envelope.payload = std::move(payload);
    return SendRequest{std::move(envelope)};
  }

  Result<Action> command() {
    const std::string& word = words_[pos_++];
    if (word == "caps") {
      return request(protocol::GetMediaCapabilities{});
    }
    if (word == "sources") {
      return request(protocol::ListCaptureSources{});
    }
    if (word == "stop") {
      return request(protocol::StopBroadcast{});
    }
    if (word == "start" || word == "update") {
      const auto json = argument();
      if (!json) {
        return fail(word + " needs a JSON object argument, e.g. " + word + " '{\"width\":1280}'");
      }
      if (word == "start") {
        auto start = start_broadcast_from_json(*json);
        if (!start) {
          return fail("start: " + start.error());
        }
        return request(std::move(start).value());
      }
      auto update = update_profile_from_json(*json);
      if (!update) {
        return fail("update: " + update.error());
      }
      return request(std::move(update).value());
    }
    if (word == "ptt" || word == "mic") {
      return chord(word);
    }
    if (word == "watch") {
      const auto seconds = argument();
      if (!seconds) {
        return fail("watch needs a number of seconds");
      }
      const auto milliseconds = parse_seconds(*seconds);
      if (!milliseconds) {
        return fail("watch: " + quoted(*seconds) + " is not a number of seconds from 0 to " +
                    std::to_string(kMaxWatchSeconds) + " (e.g. 5 or 0.5)");
      }
      return Action(WatchEvents{*milliseconds});
    }
    if (word == "raw") {
      const auto hex = argument();
      if (!hex) {
        return fail("raw needs the bytes to write, as hex digits");
      }
      auto bytes = parse_hex_bytes(*hex);
      if (!bytes) {
        return fail("raw: " + quoted(*hex) + " is not hex bytes (two hex digits per byte, at least one byte)");
      }
      return Action(WriteRaw{std::move(bytes).value()});
    }
    if (word == "read") {
      return Action(ReadFrame{});
    }
    if (word.starts_with("--")) {
      return fail("options such as " + quoted(word) + " come before the commands");
    }
    return fail("unknown command " + quoted(word) + " (see helperctl --help)");
  }

  // `ptt|mic on|off [vk…]`: the key codes run up to the next command word.
  Result<Action> chord(const std::string& word) {
    const auto state = argument();
    if (!state || (*state != "on" && *state != "off")) {
      return fail(word + " needs on or off" + (state ? ", not " + quoted(*state) : std::string()));
    }
    protocol::KeyChordConfiguration chord;
    chord.enabled = *state == "on";
    while (pos_ < words_.size() && !is_command_word(words_[pos_])) {
      const std::string& key = words_[pos_++];
      const auto code = parse_key_code(key);
      if (!code) {
        return fail(word + ": " + quoted(key) +
                    " is not a virtual-key code (decimal or 0x hexadecimal, 0 to 4294967295)");
      }
      chord.virtual_key_codes.push_back(*code);
    }
    if (word == "ptt") {
      protocol::ConfigureGlobalPtt ptt;
      static_cast<protocol::KeyChordConfiguration&>(ptt) = std::move(chord);
      return request(std::move(ptt));
    }
    protocol::ConfigureMicrophoneShortcut mic;
    static_cast<protocol::KeyChordConfiguration&>(mic) = std::move(chord);
    return request(std::move(mic));
  }

  std::span<const std::string> words_;
  std::size_t pos_ = 0;
  std::uint32_t next_request_id_ = 1;
};

constexpr std::string_view kUsage = R"(Usage: helperctl [--helper <path>] [command...]
       helperctl --help

Starts corvane_media_helper.exe (by default the one beside helperctl.exe) as a child with a fresh
pipe ID, nonce and its own process ID, connects to its pipe, authenticates (request ID "auth") and
runs the commands in order. Requests get the IDs "1", "2", ... in the order written. Then helperctl
closes its end of the pipe, waits for the helper to exit and exits with the helper's exit code.
The helper's standard error is passed through unchanged.

Commands (JSON arguments are one command-line word each):
  caps                    GetMediaCapabilities; waits for its reply
  sources                 ListCaptureSources; waits for its reply
  start <json>            StartBroadcast from a JSON object with the schema's field names:
                          capture_source_id, whip_url, stream_key, width, height, frame_rate,
                          video_bitrate_kbps, system_audio, exclude_app_audio,
                          microphone_device_id, profile_id, auto_profile, audio_bitrate_kbps
                          (strings, whole numbers 0..4294967295, true/false; missing keys default)
  update <json>           UpdateBroadcastProfile: profile_id, width, height, frame_rate,
                          video_bitrate_kbps, audio_bitrate_kbps
  stop                    StopBroadcast
  ptt on|off [vk...]      ConfigureGlobalPtt with the chord's virtual-key codes
  mic on|off [vk...]      ConfigureMicrophoneShortcut with the chord's virtual-key codes
                          (codes in decimal or 0x hexadecimal, e.g. ptt on 0x11 0x71)
  watch <seconds>         sends nothing; prints frames as they arrive for that long (e.g. 5 or 0.5)
  raw <hex>               writes these bytes to the pipe as they are, without framing, and awaits
                          nothing (e.g. raw "04 00 00 00 08 01 6A 00"); for protocol tests
  read                    waits for the next frame and prints it (or for the end of the connection)

After a request, helperctl reads frames until the reply with that request ID; events (empty
request ID) arriving before it are printed in order. After the last command it prints the frames
still waiting, closes the pipe and waits for the helper. If the helper exits or the pipe breaks
early, helperctl prints what it received and exits with the helper's exit code.

Output: each received frame is one line of JSON on standard output, nothing else:
  {"request_id":"<id>","<member>":{<fields>}}
<member> is the payload member of HelperEnvelope in the schema (helper_status, helper_error,
media_capabilities, capture_source_list, broadcast_stats, broadcast_recovery, global_ptt_event,
microphone_shortcut_event). Every field of that message is printed, defaults included, in
field-number order under its schema name: strings as JSON strings (UTF-8; control characters as
\u00xx), uint32/uint64 as numbers, doubles in the shortest form that reads back exactly ("NaN",
"Infinity", "-Infinity" as strings), booleans as true/false, repeated fields as arrays, the map as
an object with keys in byte order, nested messages as objects. Example:
  {"request_id":"auth","helper_status":{"ok":true,"status":"authenticated","detail":""}}

Exit codes: the helper's (0 or 1) when it ran; 2 for helperctl's own errors (bad command line,
invalid JSON, the helper cannot be started or its pipe cannot be opened, a frame that cannot be
read), reported on standard error as one line "helperctl: <message>".
)";

}  // namespace

Result<Invocation> parse_invocation(std::span<const std::string> words) { return CommandParser(words).parse(); }

Result<protocol::StartBroadcast> start_broadcast_from_json(std::string_view json) {
  return message_from_json(json, kStartFields);
}

Result<protocol::UpdateBroadcastProfile> update_profile_from_json(std::string_view json) {
  return message_from_json(json, kUpdateFields);
}

std::string_view usage_text() { return kUsage; }

}  // namespace corvane::helperctl
