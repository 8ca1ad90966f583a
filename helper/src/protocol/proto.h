#pragma once
// The helper's own protobuf codec: a bounds-checked reader and an appending writer (proto3 rules).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::protocol {

// Why decoding stopped; every value has one fixed message (proto_error_message).
enum class ProtoError : std::uint8_t {
  field_number_zero,
  uint32_overflow,
  unsupported_wire_type,
  unexpected_wire_type,
  invalid_utf8,
  varint_overflow,
  truncated_varint,
  truncated_field,
  length_overflow,
  truncated_message,
  envelope_command_missing,
};

// The exact text of a decoding error, as the client reads it on the helper's standard error.
std::string_view proto_error_message(ProtoError error);

// Outcome of one reader step: empty on success, the error otherwise.
using ProtoStatus = std::optional<ProtoError>;

// The wire types the schema uses; 3, 4, 6 and 7 may appear on the wire but are never accepted.
enum class WireType : std::uint8_t { varint = 0, fixed64 = 1, length_delimited = 2, fixed32 = 5 };

// One decoded tag: field number and raw wire type (0..7).
struct FieldTag {
  std::uint64_t field = 0;
  std::uint8_t wire_type = 0;
};

// Reads protobuf values from a byte range without copying, except strings and bytes it is asked to keep.
class ProtoReader {
 public:
  explicit ProtoReader(std::span<const std::uint8_t> bytes) noexcept
      : data_(bytes.data()), pos_(0), end_(bytes.size()) {}

  // True when every byte of this reader's range was consumed.
  bool at_end() const noexcept { return pos_ >= end_; }

  ProtoStatus read_varint(std::uint64_t& value) noexcept;
  // Reads a tag; a field number of 0 is an error.
  ProtoStatus read_tag(FieldTag& tag) noexcept;
  ProtoStatus read_uint32(std::uint32_t& value) noexcept;
  ProtoStatus read_bool(bool& value) noexcept;
  // Reads a length and hands out a reader over exactly that many following bytes.
  ProtoStatus read_length_delimited(ProtoReader& nested) noexcept;
  ProtoStatus read_string(std::string& value);
  ProtoStatus read_bytes(std::vector<std::uint8_t>& value);
  ProtoStatus read_fixed64(std::uint64_t& value) noexcept;
  // Skips the value of a field this message does not know.
  ProtoStatus skip_field(std::uint8_t wire_type) noexcept;

  // Field readers for known fields: check the wire type, then read the value.
  ProtoStatus uint32_field(const FieldTag& tag, std::uint32_t& value) noexcept;
  ProtoStatus uint64_field(const FieldTag& tag, std::uint64_t& value) noexcept;
  ProtoStatus bool_field(const FieldTag& tag, bool& value) noexcept;
  ProtoStatus double_field(const FieldTag& tag, double& value) noexcept;
  ProtoStatus string_field(const FieldTag& tag, std::string& value);
  ProtoStatus bytes_field(const FieldTag& tag, std::vector<std::uint8_t>& value);
  ProtoStatus message_field(const FieldTag& tag, ProtoReader& nested) noexcept;
  // Appends one element of an unpacked repeated uint32 field (the packed form is refused).
  ProtoStatus repeated_uint32_field(const FieldTag& tag, std::vector<std::uint32_t>& values);
  ProtoStatus repeated_string_field(const FieldTag& tag, std::vector<std::string>& values);

 private:
  ProtoReader(const std::uint8_t* data, std::size_t pos, std::size_t end) noexcept
      : data_(data), pos_(pos), end_(end) {}
  ProtoStatus read_length(std::size_t& length, ProtoError past_end) noexcept;

  const std::uint8_t* data_;
  std::size_t pos_;
  std::size_t end_;
};

// Decodes every field of a message: `on_field(tag, reader)` reads a field the message knows and
// skips any other with `reader.skip_field(tag.wire_type)`.
template <class OnField>
ProtoStatus read_message(ProtoReader& reader, OnField&& on_field) {
  while (!reader.at_end()) {
    FieldTag tag;
    if (auto error = reader.read_tag(tag)) {
      return error;
    }
    if (auto error = on_field(tag, reader)) {
      return error;
    }
  }
  return std::nullopt;
}

// Appends protobuf fields to a growing buffer; scalar writers leave out default values.
class ProtoWriter {
 public:
  void write_varint(std::uint64_t value);
  void write_tag(std::uint32_t field, WireType wire_type);
  void write_uint32(std::uint32_t field, std::uint32_t value);
  void write_uint64(std::uint32_t field, std::uint64_t value);
  void write_bool(std::uint32_t field, bool value);
  // Written unless all 64 bits are zero (so -0.0 is written).
  void write_double(std::uint32_t field, double value);
  void write_string(std::uint32_t field, std::string_view value);
  void write_bytes(std::uint32_t field, std::span<const std::uint8_t> value);
  // Writes a nested message, even an empty one: `fill` writes its fields, then their length is
  // put in front of them (the same bytes as writing them into a buffer of their own first).
  template <class Fill>
  void write_message(std::uint32_t field, Fill&& fill) {
    write_tag(field, WireType::length_delimited);
    const std::size_t body_start = buffer_.size();
    fill(*this);
    insert_length(body_start);
  }
  // One unpacked element per value, leaving out zeros.
  void write_repeated_uint32(std::uint32_t field, std::span<const std::uint32_t> values);
  // One field per element, leaving out empty elements.
  void write_repeated_string(std::uint32_t field, std::span<const std::string> values);

  const std::vector<std::uint8_t>& bytes() const noexcept { return buffer_; }
  std::vector<std::uint8_t> take() noexcept { return std::move(buffer_); }
  void reserve(std::size_t bytes) { buffer_.reserve(bytes); }

 private:
  void append_length_delimited(std::uint32_t field, std::span<const std::uint8_t> body);
  // Inserts the varint length of the bytes written since `body_start` in front of them.
  void insert_length(std::size_t body_start);

  std::vector<std::uint8_t> buffer_;
};

}  // namespace corvane::protocol
