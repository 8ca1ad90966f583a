#include "helperctl/json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <map>
#include <system_error>
#include <type_traits>
#include <utility>

#include <nlohmann/json.hpp>

#include "common/hex.h"
#include "common/unicode.h"

namespace corvane::helperctl {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string json_quoted(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

// An iterator over the text that counts, in a counter shared by its copies, how many bytes the JSON
// library has read: the library reads one byte at a time, so the count tells where a refused value
// ended.
class CountingIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator() = default;
  CountingIterator(const char* at, std::size_t* read) : at_(at), read_(read) {}
  reference operator*() const { return *at_; }
  CountingIterator& operator++() {
    ++at_;
    ++*read_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const CountingIterator& other) const { return at_ == other.at_; }

 private:
  const char* at_ = nullptr;
  std::size_t* read_ = nullptr;
};

// Collects the members of one flat object from the library's parse events, refusing what a flat object
// of strings, numbers and booleans may not hold. Positions are byte offsets from 0.
class FlatObjectReader {
 public:
  using json = nlohmann::json;

  FlatObjectReader(std::string_view text, const std::size_t& read) : text_(text), read_(read) {}

  bool null() { return refuse(read_ - 4, "null is not accepted (value of " + json_quoted(key_) + ")"); }
  bool boolean(bool value) { return add(value); }
  bool number_integer(json::number_integer_t value) {
    // The only zero read as a signed integer is "-0".
    return add(JsonNumber{value == 0 ? std::string("-0") : std::to_string(value)});
  }
  bool number_unsigned(json::number_unsigned_t value) { return add(JsonNumber{std::to_string(value)}); }
  bool number_float(json::number_float_t /*value*/, const std::string& written) { return add(JsonNumber{written}); }
  bool string(std::string& value) { return add(std::move(value)); }
  bool binary(json::binary_t& /*value*/) { return refuse(read_, "binary values are not accepted"); }
  bool start_object(std::size_t /*elements*/) {
    if (++depth_ == 1) {
      return true;
    }
    return refuse(read_ - 1, "nested objects and arrays are not accepted (value of " + json_quoted(key_) + ")");
  }
  bool end_object() { return true; }
  bool start_array(std::size_t /*elements*/) {
    return refuse(read_ - 1, "nested objects and arrays are not accepted (value of " + json_quoted(key_) + ")");
  }
  bool end_array() { return true; }
  bool key(std::string& name) {
    if (std::any_of(members_.begin(), members_.end(), [&name](const JsonMember& m) { return m.key == name; })) {
      return refuse(opening_quote(read_ - 1), "duplicate key " + json_quoted(name));
    }
    key_ = std::move(name);
    return true;
  }
  bool parse_error(std::size_t position, const std::string& /*last_token*/, const nlohmann::detail::exception& ex) {
    // The library's text: "[json.exception.parse_error.101] parse error at line 1, column 8: <what>".
    const std::string what = ex.what();
    const std::size_t column = what.find(", column ");
    const std::size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
    std::string reason = colon == std::string::npos ? what : what.substr(colon + 2);
    // "; last read: '<bytes>'" repeats, raw, what the position already names: the bytes may not even
    // be UTF-8, so they are left out.
    const std::size_t last_read = reason.find("; last read: '");
    if (last_read != std::string::npos) {
      const std::size_t expected = reason.rfind("'; expected ");
      reason.erase(last_read, expected == std::string::npos || expected < last_read ? std::string::npos
                                                                                    : expected + 1 - last_read);
    }
    return refuse(position == 0 ? 0 : position - 1, reason);
  }

  const std::string& error() const { return error_; }
  std::vector<JsonMember> take_members() { return std::move(members_); }

 private:
  bool add(JsonValue value) {
    members_.push_back(JsonMember{std::move(key_), std::move(value)});
    key_.clear();
    return true;
  }

  bool refuse(std::size_t position, const std::string& what) {
    error_ = "invalid JSON at byte " + std::to_string(position + 1) + ": " + what;
    return false;
  }

  // The offset of the quote that opens the key whose closing quote is at `closing`: the nearest
  // earlier quote not escaped by an odd run of backslashes (inside a key every quote is escaped).
  std::size_t opening_quote(std::size_t closing) const {
    for (std::size_t at = closing; at-- > 0;) {
      if (text_[at] != '"') {
        continue;
      }
      std::size_t backslashes = 0;
      while (backslashes < at && text_[at - 1 - backslashes] == '\\') {
        ++backslashes;
      }
      if (backslashes % 2 == 0) {
        return at;
      }
    }
    return closing;
  }

  std::string_view text_;
  const std::size_t& read_;  // bytes the library has read
  std::vector<JsonMember> members_;
  std::string key_;
  int depth_ = 0;
  std::string error_;
};

void append_uint(std::string& out, std::uint64_t value) { out += std::to_string(value); }

void append_bool(std::string& out, bool value) { out += value ? "true" : "false"; }

// Writes one JSON object: '{' at construction, the members separated by commas, '}' at destruction.
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_.push_back('{'); }
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;
  ~ObjectWriter() { out_.push_back('}'); }

  // Starts a member and returns the output for its value.
  std::string& key(std::string_view name) {
    if (!first_) {
      out_.push_back(',');
    }
    first_ = false;
    append_json_string(out_, name);
    out_.push_back(':');
    return out_;
  }

  void text(std::string_view name, std::string_view value) { append_json_string(key(name), value); }
  void boolean(std::string_view name, bool value) { append_bool(key(name), value); }
  void number(std::string_view name, std::uint64_t value) { append_uint(key(name), value); }
  void real(std::string_view name, double value) { append_json_double(key(name), value); }

  void texts(std::string_view name, const std::vector<std::string>& values) {
    std::string& out = key(name);
    out.push_back('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) {
        out.push_back(',');
      }
      append_json_string(out, values[i]);
    }
    out.push_back(']');
  }

  void numbers(std::string_view name, const std::vector<std::uint32_t>& values) {
    std::string& out = key(name);
    out.push_back('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) {
        out.push_back(',');
      }
      append_uint(out, values[i]);
    }
    out.push_back(']');
  }

  // An array of nested messages, each written by `write_one(ObjectWriter&, const T&)`.
  template <class T, class Write>
  void messages(std::string_view name, const std::vector<T>& values, Write write_one) {
    std::string& out = key(name);
    out.push_back('[');
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) {
        out.push_back(',');
      }
      ObjectWriter nested(out);
      write_one(nested, values[i]);
    }
    out.push_back(']');
  }

 private:
  std::string& out_;
  bool first_ = true;
};

void write_fields(ObjectWriter& w, const protocol::Authenticate& m) {
  w.text("nonce", lower_hex(m.nonce));
  w.number("parent_process_id", m.parent_process_id);
}

void write_fields(ObjectWriter& /*w*/, const protocol::GetMediaCapabilities& /*m*/) {}

void write_encoder(ObjectWriter& w, const protocol::EncoderInfo& m) {
  w.text("name", m.name);
  w.boolean("usable", m.usable);
  w.text("kind", m.kind);
  w.text("probe_profile", m.probe_profile);
  w.text("rate_control", m.rate_control);
  w.text("note", m.note);
}

void write_fields(ObjectWriter& w, const protocol::MediaCapabilities& m) {
  w.boolean("windows_graphics_capture_available", m.windows_graphics_capture_available);
  w.boolean("system_audio_available", m.system_audio_available);
  w.boolean("always_true", m.always_true);
  w.texts("usable_encoders", m.usable_encoders);
  w.text("active_encoder", m.active_encoder);
  w.text("active_probe_profile", m.active_probe_profile);
  {
    // std::map<std::string, …> orders its keys by char_traits<char>, which compares bytes as unsigned.
    ObjectWriter reasons(w.key("unavailable_reasons"));
    for (const auto& [key, reason] : m.unavailable_reasons) {
      reasons.text(key, reason);
    }
  }
  w.text("runtime_version", m.runtime_version);
  w.text("active_encoder_kind", m.active_encoder_kind);
  w.texts("allowed_profile_ids", m.allowed_profile_ids);
  w.messages("encoders", m.encoders, write_encoder);
  w.boolean("ok", m.ok);
}

void write_fields(ObjectWriter& /*w*/, const protocol::ListCaptureSources& /*m*/) {}

void write_source(ObjectWriter& w, const protocol::CaptureSource& m) {
  w.text("id", m.id);
  w.text("kind", m.kind);
  w.text("name", m.name);
  w.text("extra", m.extra);
}

void write_fields(ObjectWriter& w, const protocol::CaptureSourceList& m) {
  w.messages("sources", m.sources, write_source);
}

void write_fields(ObjectWriter& w, const protocol::StartBroadcast& m) {
  w.text("capture_source_id", m.capture_source_id);
  w.text("whip_url", m.whip_url);
  w.text("stream_key", m.stream_key);
  w.number("width", m.width);
  w.number("height", m.height);
  w.number("frame_rate", m.frame_rate);
  w.number("video_bitrate_kbps", m.video_bitrate_kbps);
  w.boolean("system_audio", m.system_audio);
  w.boolean("exclude_app_audio", m.exclude_app_audio);
  w.text("microphone_device_id", m.microphone_device_id);
  w.text("profile_id", m.profile_id);
  w.boolean("auto_profile", m.auto_profile);
  w.number("audio_bitrate_kbps", m.audio_bitrate_kbps);
}

void write_fields(ObjectWriter& /*w*/, const protocol::StopBroadcast& /*m*/) {}

void write_chord(ObjectWriter& w, const protocol::KeyChordConfiguration& m) {
  w.boolean("enabled", m.enabled);
  w.number("virtual_key_code", m.virtual_key_code);
  w.numbers("virtual_key_codes", m.virtual_key_codes);
}

void write_fields(ObjectWriter& w, const protocol::ConfigureGlobalPtt& m) { write_chord(w, m); }

void write_fields(ObjectWriter& w, const protocol::BroadcastStats& m) {
  w.real("frames_per_second", m.frames_per_second);
  w.number("bitrate_bps", m.bitrate_bps);
  w.real("average_latency_ms", m.average_latency_ms);
  w.number("dropped_frames", m.dropped_frames);
  w.text("encoder", m.encoder);
  w.text("profile_id", m.profile_id);
  w.text("encoder_kind", m.encoder_kind);
  w.text("recovery_reason", m.recovery_reason);
}

void write_fields(ObjectWriter& w, const protocol::BroadcastRecovery& m) {
  w.text("component", m.component);
  w.text("detail", m.detail);
  w.boolean("succeeded", m.succeeded);
}

void write_fields(ObjectWriter& w, const protocol::HelperError& m) {
  w.text("code", m.code);
  w.text("message", m.message);
  w.boolean("retryable", m.retryable);
}

void write_fields(ObjectWriter& w, const protocol::HelperStatus& m) {
  w.boolean("ok", m.ok);
  w.text("status", m.status);
  w.text("detail", m.detail);
}

void write_chord_event(ObjectWriter& w, const protocol::KeyChordEvent& m) {
  w.boolean("pressed", m.pressed);
  w.number("timestamp_unix_ms", m.timestamp_unix_ms);
}

void write_fields(ObjectWriter& w, const protocol::GlobalPttEvent& m) { write_chord_event(w, m); }

void write_fields(ObjectWriter& w, const protocol::UpdateBroadcastProfile& m) {
  w.text("profile_id", m.profile_id);
  w.number("width", m.width);
  w.number("height", m.height);
  w.number("frame_rate", m.frame_rate);
  w.number("video_bitrate_kbps", m.video_bitrate_kbps);
  w.number("audio_bitrate_kbps", m.audio_bitrate_kbps);
}

void write_fields(ObjectWriter& w, const protocol::ConfigureMicrophoneShortcut& m) { write_chord(w, m); }

void write_fields(ObjectWriter& w, const protocol::MicrophoneShortcutEvent& m) { write_chord_event(w, m); }

// The schema's oneof member names; alternative i of the payload is field 10 + i.
constexpr std::array<std::string_view, 16> kMemberNames = {"authenticate",
                                                           "get_media_capabilities",
                                                           "media_capabilities",
                                                           "list_capture_sources",
                                                           "capture_source_list",
                                                           "start_broadcast",
                                                           "stop_broadcast",
                                                           "configure_global_ptt",
                                                           "broadcast_stats",
                                                           "broadcast_recovery",
                                                           "helper_error",
                                                           "helper_status",
                                                           "global_ptt_event",
                                                           "update_broadcast_profile",
                                                           "configure_microphone_shortcut",
                                                           "microphone_shortcut_event"};
static_assert(kMemberNames.size() == std::variant_size_v<protocol::Payload>);

}  // namespace

Result<std::vector<JsonMember>> parse_json_object(std::string_view text) {
  // Only an object is taken; anything else is refused where it begins.
  const std::size_t first = text.find_first_not_of(" \t\n\r");
  if (first == std::string_view::npos) {
    return fail("invalid JSON at byte " + std::to_string(text.size() + 1) +
                ": unexpected end of text (expected '{' to begin an object)");
  }
  if (text[first] != '{') {
    return fail("invalid JSON at byte " + std::to_string(first + 1) + ": expected '{' to begin an object");
  }
  std::size_t read = 0;
  const CountingIterator begin(text.data(), &read);
  const CountingIterator end(text.data() + text.size(), nullptr);
  FlatObjectReader reader(text, read);
  // Strict: nothing after the object; comments are not JSON.
  if (!nlohmann::json::sax_parse(begin, end, &reader, nlohmann::json::input_format_t::json, true, false)) {
    return fail(reader.error());
  }
  return reader.take_members();
}

Result<std::uint32_t> json_uint32(const JsonNumber& number) {
  const std::string& text = number.text;
  std::uint32_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  // For an unsigned type from_chars takes digits only, so a fraction or exponent leaves text behind.
  if (text.empty() || !is_digit(text.front()) || error != std::errc{} || stop != end) {
    return fail(text + " is not a whole number from 0 to " + std::to_string(std::numeric_limits<std::uint32_t>::max()));
  }
  return value;
}

void append_json_string(std::string& out, std::string_view text) {
  static constexpr std::string_view kDigits = "0123456789abcdef";
  out.push_back('"');
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte >= 0x80) {
      append_utf8(out, next_code_point(text, pos));
      continue;
    }
    ++pos;
    if (byte == '"' || byte == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(byte));
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\u00";
      out.push_back(kDigits[byte >> 4]);
      out.push_back(kDigits[byte & 15]);
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  out.push_back('"');
}

void append_json_double(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "\"NaN\"";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    return;
  }
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  out.append(buffer.data(), result.ptr);
}

std::string envelope_json_line(const protocol::HelperEnvelope& envelope) {
  std::string line;
  {
    ObjectWriter top(line);
    top.text("request_id", envelope.request_id);
    std::visit(
        [&top, &envelope](const auto& message) {
          ObjectWriter fields(top.key(kMemberNames[envelope.payload.index()]));
          write_fields(fields, message);
        },
        envelope.payload);
  }  // the writers close their objects as they go out of scope
  return line;
}

}  // namespace corvane::helperctl
