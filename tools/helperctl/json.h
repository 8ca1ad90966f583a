#pragma once
// helperctl's JSON: a strict reader for flat objects of strings, numbers and booleans (the arguments of
// `start` and `update`), and the writer of one output line per received frame.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"
#include "protocol/messages.h"

namespace corvane::helperctl {

// A JSON number exactly as written (already checked against the JSON number grammar).
struct JsonNumber {
  std::string text;
  bool operator==(const JsonNumber&) const = default;
};

// The values a flat object may hold.
using JsonValue = std::variant<std::string, JsonNumber, bool>;

// One member of an object, in the order written.
struct JsonMember {
  std::string key;
  JsonValue value;
  bool operator==(const JsonMember&) const = default;
};

// Parses `text` as one JSON object whose values are strings, numbers or booleans, with nlohmann-json's
// strict reader (RFC 8259: no comments, no trailing commas, nothing after the object but whitespace).
// Null, arrays, nested objects, duplicate keys, unpaired surrogate escapes and ill-formed UTF-8 are
// refused. An error is one line naming the byte position (counting from 1) where the text went wrong.
Result<std::vector<JsonMember>> parse_json_object(std::string_view text);

// The number as a uint32: digits only (no sign, fraction or exponent), at most 4294967295.
Result<std::uint32_t> json_uint32(const JsonNumber& number);

// Appends `text` as a JSON string literal: quotes, backslash-escaped '"' and '\', control characters
// (U+0000..U+001F and U+007F) as \u00xx with lower-case hex digits, everything else as UTF-8; an
// ill-formed UTF-8 sequence becomes U+FFFD.
void append_json_string(std::string& out, std::string_view text);

// Appends a double in the shortest form that reads back to the same value ("30", "0.1", "1e+21");
// NaN and the infinities, which JSON numbers cannot hold, as the strings "NaN", "Infinity", "-Infinity".
void append_json_double(std::string& out, double value);

// One received frame as helperctl prints it, without the line end:
// {"request_id":"<id>","<member>":{<fields>}} with the snake_case payload member name of the schema
// and every field of that message in field-number order, defaults included: strings as above, uint32
// and uint64 as JSON numbers, doubles as above, booleans as true/false, repeated fields as arrays, the
// map as an object with its keys in byte order, nested messages as objects, bytes as a string of
// lower-case hex digits.
std::string envelope_json_line(const protocol::HelperEnvelope& envelope);

}  // namespace corvane::helperctl
