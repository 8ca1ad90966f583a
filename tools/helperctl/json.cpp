#include "helperctl/json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <system_error>
#include <type_traits>
#include <utility>

#include "common/hex.h"
#include "common/unicode.h"

namespace corvane::helperctl {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string quoted(std::string_view text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

// A recursive-descent reader over one flat object; `pos_` is the byte offset of the next character.
class ObjectParser {
 public:
  explicit ObjectParser(std::string_view text) : text_(text) {}

  Result<std::vector<JsonMember>> parse() {
    skip_whitespace();
    if (!take('{')) {
      return error_here("expected '{' to begin an object");
    }
    std::vector<JsonMember> members;
    skip_whitespace();
    if (take('}')) {
      return finish(std::move(members));
    }
    while (true) {
      skip_whitespace();
      const std::size_t key_position = pos_;
      if (peek() != '"') {
        return error_here("expected '\"' to begin a key");
      }
      auto key = parse_string();
      if (!key) {
        return fail(key.error());
      }
      if (std::any_of(members.begin(), members.end(), [&key](const JsonMember& m) { return m.key == *key; })) {
        return error_at(key_position, "duplicate key " + quoted(*key));
      }
      skip_whitespace();
      if (!take(':')) {
        return error_here("expected ':' after the key " + quoted(*key));
      }
      skip_whitespace();
      auto value = parse_value(*key);
      if (!value) {
        return fail(value.error());
      }
      members.push_back(JsonMember{std::move(key).value(), std::move(value).value()});
      skip_whitespace();
      if (take('}')) {
        return finish(std::move(members));
      }
      if (!take(',')) {
        return error_here("expected ',' or '}' after a value");
      }
    }
  }

 private:
  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return at_end() ? '\0' : text_[pos_]; }

  bool take(char c) {
    if (!at_end() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  void skip_whitespace() {
    while (!at_end() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  static Failure<std::string> error_at(std::size_t position, const std::string& what) {
    return fail("invalid JSON at byte " + std::to_string(position + 1) + ": " + what);
  }

  Failure<std::string> error_here(const std::string& what) const {
    return error_at(pos_, at_end() ? "unexpected end of text (" + what + ")" : what);
  }

  Result<std::vector<JsonMember>> finish(std::vector<JsonMember> members) {
    skip_whitespace();
    if (!at_end()) {
      return error_here("unexpected text after the object");
    }
    return members;
  }

  Result<JsonValue> parse_value(const std::string& key) {
    const char c = peek();
    if (c == '"') {
      auto text = parse_string();
      if (!text) {
        return fail(text.error());
      }
      return JsonValue(std::move(text).value());
    }
    if (c == '-' || is_digit(c)) {
      auto number = parse_number();
      if (!number) {
        return fail(number.error());
      }
      return JsonValue(std::move(number).value());
    }
    if (literal("true")) {
      return JsonValue(true);
    }
    if (literal("false")) {
      return JsonValue(false);
    }
    if (literal("null")) {
      return error_at(pos_ - 4, "null is not accepted (value of " + quoted(key) + ")");
    }
    if (c == '{' || c == '[') {
      return error_here("nested objects and arrays are not accepted (value of " + quoted(key) + ")");
    }
    return error_here("expected a string, number, true or false as the value of " + quoted(key));
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) == word) {
      pos_ += word.size();
      return true;
    }
    return false;
  }

  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
  Result<JsonNumber> parse_number() {
    const std::size_t start = pos_;
    take('-');
    if (take('0')) {
      if (is_digit(peek())) {
        return error_here("a number may not have a leading zero");
      }
    } else if (!digits()) {
      return error_here("expected a digit");
    }
    if (take('.') && !digits()) {
      return error_here("expected a digit after '.'");
    }
    if (take('e') || take('E')) {
      if (!take('+')) {
        take('-');
      }
      if (!digits()) {
        return error_here("expected a digit in the exponent");
      }
    }
    return JsonNumber{std::string(text_.substr(start, pos_ - start))};
  }

  // Consumes one or more digits; false when there is none.
  bool digits() {
    const std::size_t start = pos_;
    while (is_digit(peek())) {
      ++pos_;
    }
    return pos_ > start;
  }

  // Four hex digits after "\u"; -1 when they are not there.
  long hex4() {
    if (text_.size() - pos_ < 4) {
      return -1;
    }
    long unit = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const int digit = hex_digit_value(text_[pos_ + i]);
      if (digit < 0) {
        return -1;
      }
      unit = unit * 16 + digit;
    }
    pos_ += 4;
    return unit;
  }

  // A string literal starting at the opening quote.
  Result<std::string> parse_string() {
    const std::size_t open = pos_;
    ++pos_;
    std::string out;
    while (true) {
      if (at_end()) {
        return error_at(open, "the string is not closed");
      }
      const char c = text_[pos_];
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (byte < 0x20) {
        return error_here("control characters in a string must be escaped");
      }
      if (c == '\\') {
        auto escaped = escape(out);
        if (!escaped) {
          return fail(escaped.error());
        }
        continue;
      }
      if (byte < 0x80) {
        out.push_back(c);
        ++pos_;
        continue;
      }
      const std::size_t start = pos_;
      const char32_t cp = next_code_point(text_, pos_);
      const std::string_view written = text_.substr(start, pos_ - start);
      if (cp == 0xFFFD && written != "\xEF\xBF\xBD") {
        return error_at(start, "the text is not valid UTF-8");
      }
      out.append(written);
    }
  }

  // One escape sequence starting at the backslash, appended to `out`.
  Status escape(std::string& out) {
    const std::size_t start = pos_;
    ++pos_;
    if (at_end()) {
      return error_at(start, "the string is not closed");
    }
    const char c = text_[pos_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out.push_back(c);
        return Done{};
      case 'b':
        out.push_back('\b');
        return Done{};
      case 'f':
        out.push_back('\f');
        return Done{};
      case 'n':
        out.push_back('\n');
        return Done{};
      case 'r':
        out.push_back('\r');
        return Done{};
      case 't':
        out.push_back('\t');
        return Done{};
      case 'u':
        break;
      default:
        return error_at(start, "unknown escape sequence");
    }
    const long unit = hex4();
    if (unit < 0) {
      return error_at(start, "\\u needs four hex digits");
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return error_at(start, "unpaired surrogate escape");
    }
    if (unit < 0xD800 || unit > 0xDBFF) {
      append_utf8(out, static_cast<char32_t>(unit));
      return Done{};
    }
    const std::size_t second = pos_;
    if (!literal("\\u")) {
      return error_at(start, "unpaired surrogate escape");
    }
    const long low = hex4();
    if (low < 0) {
      return error_at(second, "\\u needs four hex digits");
    }
    if (low < 0xDC00 || low > 0xDFFF) {
      return error_at(start, "unpaired surrogate escape");
    }
    append_utf8(out, static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
    return Done{};
  }

  std::string_view text_;
  std::size_t pos_ = 0;
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
  static constexpr std::string_view kDigits = "0123456789abcdef";
  std::string hex;
  for (const std::uint8_t byte : m.nonce) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 15]);
  }
  w.text("nonce", hex);
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

Result<std::vector<JsonMember>> parse_json_object(std::string_view text) { return ObjectParser(text).parse(); }

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
