#include "protocol/proto.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "common/unicode.h"

namespace corvane::protocol {

std::string_view proto_error_message(ProtoError error) {
  switch (error) {
    case ProtoError::field_number_zero:
      return "protobuf field number is zero";
    case ProtoError::uint32_overflow:
      return "uint32 overflow";
    case ProtoError::unsupported_wire_type:
      return "unsupported protobuf wire type";
    case ProtoError::unexpected_wire_type:
      return "unexpected protobuf wire type";
    case ProtoError::invalid_utf8:
      return "invalid UTF-8";
    case ProtoError::varint_overflow:
      return "varint overflow";
    case ProtoError::truncated_varint:
      return "truncated varint";
    case ProtoError::truncated_field:
      return "truncated protobuf field";
    case ProtoError::length_overflow:
      return "length overflow";
    case ProtoError::truncated_message:
      return "truncated message";
    case ProtoError::envelope_command_missing:
      return "envelope command is missing";
  }
  return "unknown protobuf error";
}

ProtoStatus ProtoReader::read_varint(std::uint64_t& value) noexcept {
  // Fast path: a one-byte varint, the most common value on the wire.
  if (pos_ < end_ && data_[pos_] < 0x80) {
    value = data_[pos_++];
    return std::nullopt;
  }
  std::uint64_t result = 0;
  for (unsigned i = 0; i < 10; ++i) {
    if (pos_ >= end_) {
      return ProtoError::truncated_varint;
    }
    const std::uint8_t byte = data_[pos_++];
    if (i == 9 && byte > 1) {
      return ProtoError::varint_overflow;
    }
    result |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * i);
    if ((byte & 0x80) == 0) {
      value = result;
      return std::nullopt;
    }
  }
  return ProtoError::varint_overflow;  // unreachable: a tenth byte above 1 was refused
}

ProtoStatus ProtoReader::read_tag(FieldTag& tag) noexcept {
  std::uint64_t raw = 0;
  if (auto error = read_varint(raw)) {
    return error;
  }
  tag.field = raw >> 3;
  tag.wire_type = static_cast<std::uint8_t>(raw & 7);
  if (tag.field == 0) {
    return ProtoError::field_number_zero;
  }
  return std::nullopt;
}

ProtoStatus ProtoReader::read_uint32(std::uint32_t& value) noexcept {
  std::uint64_t raw = 0;
  if (auto error = read_varint(raw)) {
    return error;
  }
  if (raw > std::numeric_limits<std::uint32_t>::max()) {
    return ProtoError::uint32_overflow;
  }
  value = static_cast<std::uint32_t>(raw);
  return std::nullopt;
}

ProtoStatus ProtoReader::read_bool(bool& value) noexcept {
  std::uint32_t raw = 0;
  if (auto error = read_uint32(raw)) {
    return error;
  }
  value = raw != 0;
  return std::nullopt;
}

ProtoStatus ProtoReader::read_length(std::size_t& length, ProtoError past_end) noexcept {
  std::uint64_t raw = 0;
  if (auto error = read_varint(raw)) {
    return error;
  }
  if (raw > std::numeric_limits<std::size_t>::max() - pos_) {
    return ProtoError::length_overflow;
  }
  if (pos_ + raw > end_) {
    return past_end;
  }
  length = static_cast<std::size_t>(raw);
  return std::nullopt;
}

ProtoStatus ProtoReader::read_length_delimited(ProtoReader& nested) noexcept {
  std::size_t length = 0;
  if (auto error = read_length(length, ProtoError::truncated_message)) {
    return error;
  }
  nested = ProtoReader(data_, pos_, pos_ + length);
  pos_ += length;
  return std::nullopt;
}

ProtoStatus ProtoReader::read_string(std::string& value) {
  ProtoReader span(nullptr, 0, 0);
  if (auto error = read_length_delimited(span)) {
    return error;
  }
  const std::string_view text(reinterpret_cast<const char*>(data_ + span.pos_), span.end_ - span.pos_);
  if (!utf8_valid(text)) {
    return ProtoError::invalid_utf8;
  }
  value.assign(text);
  return std::nullopt;
}

ProtoStatus ProtoReader::read_bytes(std::vector<std::uint8_t>& value) {
  ProtoReader span(nullptr, 0, 0);
  if (auto error = read_length_delimited(span)) {
    return error;
  }
  value.assign(data_ + span.pos_, data_ + span.end_);
  return std::nullopt;
}

ProtoStatus ProtoReader::read_fixed64(std::uint64_t& value) noexcept {
  if (end_ - pos_ < 8) {
    return ProtoError::truncated_message;
  }
  std::uint64_t result = 0;
  for (unsigned i = 0; i < 8; ++i) {
    result |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
  }
  pos_ += 8;
  value = result;
  return std::nullopt;
}

ProtoStatus ProtoReader::skip_field(std::uint8_t wire_type) noexcept {
  switch (wire_type) {
    case 0: {
      std::uint64_t ignored = 0;
      return read_varint(ignored);
    }
    case 1:
    case 5: {
      const std::size_t width = wire_type == 1 ? 8 : 4;
      if (end_ - pos_ < width) {
        return ProtoError::truncated_field;
      }
      pos_ += width;
      return std::nullopt;
    }
    case 2: {
      std::size_t length = 0;
      if (auto error = read_length(length, ProtoError::truncated_field)) {
        return error;
      }
      pos_ += length;
      return std::nullopt;
    }
    default:
      return ProtoError::unsupported_wire_type;
  }
}

namespace {

bool has_wire_type(const FieldTag& tag, WireType expected) {
  return tag.wire_type == static_cast<std::uint8_t>(expected);
}

}  // namespace

ProtoStatus ProtoReader::uint32_field(const FieldTag& tag, std::uint32_t& value) noexcept {
  if (!has_wire_type(tag, WireType::varint)) {
    return ProtoError::unexpected_wire_type;
  }
  return read_uint32(value);
}

ProtoStatus ProtoReader::uint64_field(const FieldTag& tag, std::uint64_t& value) noexcept {
  if (!has_wire_type(tag, WireType::varint)) {
    return ProtoError::unexpected_wire_type;
  }
  return read_varint(value);
}

ProtoStatus ProtoReader::bool_field(const FieldTag& tag, bool& value) noexcept {
  if (!has_wire_type(tag, WireType::varint)) {
    return ProtoError::unexpected_wire_type;
  }
  return read_bool(value);
}

ProtoStatus ProtoReader::double_field(const FieldTag& tag, double& value) noexcept {
  if (!has_wire_type(tag, WireType::fixed64)) {
    return ProtoError::unexpected_wire_type;
  }
  std::uint64_t bits = 0;
  if (auto error = read_fixed64(bits)) {
    return error;
  }
  value = std::bit_cast<double>(bits);
  return std::nullopt;
}

ProtoStatus ProtoReader::string_field(const FieldTag& tag, std::string& value) {
  if (!has_wire_type(tag, WireType::length_delimited)) {
    return ProtoError::unexpected_wire_type;
  }
  return read_string(value);
}

ProtoStatus ProtoReader::bytes_field(const FieldTag& tag, std::vector<std::uint8_t>& value) {
  if (!has_wire_type(tag, WireType::length_delimited)) {
    return ProtoError::unexpected_wire_type;
  }
  return read_bytes(value);
}

ProtoStatus ProtoReader::message_field(const FieldTag& tag, ProtoReader& nested) noexcept {
  if (!has_wire_type(tag, WireType::length_delimited)) {
    return ProtoError::unexpected_wire_type;
  }
  return read_length_delimited(nested);
}

ProtoStatus ProtoReader::repeated_uint32_field(const FieldTag& tag, std::vector<std::uint32_t>& values) {
  std::uint32_t value = 0;
  if (auto error = uint32_field(tag, value)) {
    return error;
  }
  values.push_back(value);
  return std::nullopt;
}

ProtoStatus ProtoReader::repeated_string_field(const FieldTag& tag, std::vector<std::string>& values) {
  std::string value;
  if (auto error = string_field(tag, value)) {
    return error;
  }
  values.push_back(std::move(value));
  return std::nullopt;
}

void ProtoWriter::write_varint(std::uint64_t value) {
  while (value >= 0x80) {
    buffer_.push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  buffer_.push_back(static_cast<std::uint8_t>(value));
}

void ProtoWriter::write_tag(std::uint32_t field, WireType wire_type) {
  write_varint((static_cast<std::uint64_t>(field) << 3) | static_cast<std::uint64_t>(wire_type));
}

void ProtoWriter::write_uint32(std::uint32_t field, std::uint32_t value) { write_uint64(field, value); }

void ProtoWriter::write_uint64(std::uint32_t field, std::uint64_t value) {
  if (value != 0) {
    write_tag(field, WireType::varint);
    write_varint(value);
  }
}

void ProtoWriter::write_bool(std::uint32_t field, bool value) {
  if (value) {
    write_tag(field, WireType::varint);
    buffer_.push_back(1);
  }
}

void ProtoWriter::write_double(std::uint32_t field, double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (bits == 0) {
    return;
  }
  write_tag(field, WireType::fixed64);
  for (unsigned i = 0; i < 8; ++i) {
    buffer_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
}

void ProtoWriter::write_string(std::uint32_t field, std::string_view value) {
  if (!value.empty()) {
    append_length_delimited(field, std::span(reinterpret_cast<const std::uint8_t*>(value.data()), value.size()));
  }
}

void ProtoWriter::write_bytes(std::uint32_t field, std::span<const std::uint8_t> value) {
  if (!value.empty()) {
    append_length_delimited(field, value);
  }
}

void ProtoWriter::write_repeated_uint32(std::uint32_t field, std::span<const std::uint32_t> values) {
  for (const std::uint32_t value : values) {
    write_uint32(field, value);
  }
}

void ProtoWriter::write_repeated_string(std::uint32_t field, std::span<const std::string> values) {
  for (const std::string& value : values) {
    write_string(field, value);
  }
}

void ProtoWriter::insert_length(std::size_t body_start) {
  std::uint64_t length = buffer_.size() - body_start;
  std::array<std::uint8_t, 10> varint{};
  std::size_t width = 0;
  while (length >= 0x80) {
    varint[width++] = static_cast<std::uint8_t>(length | 0x80);
    length >>= 7;
  }
  varint[width++] = static_cast<std::uint8_t>(length);
  buffer_.insert(buffer_.begin() + static_cast<std::ptrdiff_t>(body_start), varint.begin(),
                 varint.begin() + static_cast<std::ptrdiff_t>(width));
}

void ProtoWriter::append_length_delimited(std::uint32_t field, std::span<const std::uint8_t> body) {
  write_tag(field, WireType::length_delimited);
  write_varint(body.size());
  buffer_.insert(buffer_.end(), body.begin(), body.end());
}

}  // namespace corvane::protocol
