// The standard message format and the standard method codec built on it.
//
// A value is one type byte (tag) followed by its content, numbers in host byte order:
//   0 null, 1 true, 2 false, 3 int32, 4 int64, 5 large integer (hexadecimal text), 6 float64,
//   7 UTF-8 string, 8 uint8 list, 9 int32 list, 10 int64 list, 11 float64 list, 12 list, 13 map
//   (key, value, key, value, ...), 14 float32 list; 128 and above are application types.
// Strings, typed lists, lists and maps carry a size (bytes, elements or pairs) after the tag: below
// 254 one byte; 254 and a uint16; 255 and a uint32. A float64 and the elements of typed lists with
// 4- or 8-byte elements start at a multiple of their size, counted from the first byte of the whole
// message; zero bytes fill the gap (after the tag for a float64, after the size for a list).
//
// Decoding is strict, so that a test playing the other side learns about any byte it got wrong:
// truncation, unknown tags, application types, sizes running past the end, non-zero padding, bytes
// after the message, a map key given twice and nesting deeper than kMaxNesting are all rejected.
// Non-minimal size forms (254 with a uint16 below 254) are accepted: they are unambiguous, and the
// Dart reader accepts them too. Strings are carried as bytes, without checking their UTF-8.
// Tag 5 decodes as a string holding its text: this wrapper has no integer type wider than 64 bits,
// and a string keeps the value readable; it is encoded back as an ordinary string (tag 7).
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "flutter/standard_message_codec.h"
#include "flutter/standard_method_codec.h"

namespace flutter {
namespace {

enum class Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

// First byte of a method-call answer.
constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// Lists and maps nest at most this deep. The decoder recurses once per level, so the limit keeps a
// hostile message from exhausting the stack (and from building values whose destruction would);
// the encoder refuses deeper values, so whatever it writes decodes again.
constexpr size_t kMaxNesting = 128;

// Bounds-checked reading from a message; every read fails rather than passing the end.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data == nullptr ? 0 : size) {}

  bool AtEnd() const { return position_ == size_; }
  size_t remaining() const { return size_ - position_; }

  bool ReadByte(uint8_t& out) {
    if (remaining() < 1) {
      return false;
    }
    out = data_[position_++];
    return true;
  }

  bool ReadRaw(void* out, size_t count) {
    if (count > remaining()) {
      return false;
    }
    if (count > 0) {
      std::memcpy(out, data_ + position_, count);
      position_ += count;
    }
    return true;
  }

  bool ReadSize(size_t& out) {
    uint8_t first = 0;
    if (!ReadByte(first)) {
      return false;
    }
    if (first < 254) {
      out = first;
      return true;
    }
    if (first == 254) {
      uint16_t size = 0;
      if (!ReadRaw(&size, sizeof size)) {
        return false;
      }
      out = size;
      return true;
    }
    uint32_t size = 0;
    if (!ReadRaw(&size, sizeof size)) {
      return false;
    }
    out = size;
    return true;
  }

  // Passes the zero bytes that bring the position to a multiple of alignment.
  bool SkipPadding(size_t alignment) {
    const size_t misalignment = position_ % alignment;
    if (misalignment == 0) {
      return true;
    }
    const size_t count = alignment - misalignment;
    if (count > remaining()) {
      return false;
    }
    for (size_t i = 0; i < count; ++i) {
      if (data_[position_ + i] != 0) {
        return false;
      }
    }
    position_ += count;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// Appends to a message that starts at the beginning of the vector (alignment counts from there).
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

  void PutByte(uint8_t byte) { out_.push_back(byte); }
  void PutTag(Tag tag) { PutByte(static_cast<uint8_t>(tag)); }

  void PutRaw(const void* data, size_t count) {
    if (count > 0) {
      const auto* bytes = static_cast<const uint8_t*>(data);
      out_.insert(out_.end(), bytes, bytes + count);
    }
  }

  // False when the size does not fit the format's 32 bits.
  bool PutSize(size_t size) {
    if (size < 254) {
      PutByte(static_cast<uint8_t>(size));
    } else if (size <= std::numeric_limits<uint16_t>::max()) {
      PutByte(254);
      const auto narrow = static_cast<uint16_t>(size);
      PutRaw(&narrow, sizeof narrow);
    } else if (size <= std::numeric_limits<uint32_t>::max()) {
      PutByte(255);
      const auto narrow = static_cast<uint32_t>(size);
      PutRaw(&narrow, sizeof narrow);
    } else {
      return false;
    }
    return true;
  }

  void PutPadding(size_t alignment) {
    const size_t misalignment = out_.size() % alignment;
    if (misalignment != 0) {
      out_.insert(out_.end(), alignment - misalignment, uint8_t{0});
    }
  }

 private:
  std::vector<uint8_t>& out_;
};

// --- decoding ---

bool ReadValue(ByteReader& reader, size_t nesting, EncodableValue& out);

// The content of a string (tag 7 or 5), after its tag.
bool ReadText(ByteReader& reader, std::string& out) {
  size_t length = 0;
  if (!reader.ReadSize(length) || length > reader.remaining()) {
    return false;
  }
  out.resize(length);
  return reader.ReadRaw(out.data(), length);
}

// A value that must be a string (tag 7), such as a method name or an error code.
bool ReadString(ByteReader& reader, std::string& out) {
  uint8_t tag = 0;
  return reader.ReadByte(tag) && tag == static_cast<uint8_t>(Tag::kString) && ReadText(reader, out);
}

// A value that must be a string or null, such as an error message; null reads as no text.
bool ReadStringOrNull(ByteReader& reader, std::optional<std::string>& out) {
  uint8_t tag = 0;
  if (!reader.ReadByte(tag)) {
    return false;
  }
  if (tag == static_cast<uint8_t>(Tag::kNull)) {
    out.reset();
    return true;
  }
  out.emplace();
  return tag == static_cast<uint8_t>(Tag::kString) && ReadText(reader, *out);
}

// The content of a typed list, after its tag; elements are aligned to their own size.
template <typename Element>
bool ReadElements(ByteReader& reader, EncodableValue& out) {
  size_t count = 0;
  if (!reader.ReadSize(count) || !reader.SkipPadding(sizeof(Element)) || count > reader.remaining() / sizeof(Element)) {
    return false;
  }
  std::vector<Element> elements(count);
  if (!reader.ReadRaw(elements.data(), count * sizeof(Element))) {
    return false;
  }
  out = EncodableValue(std::move(elements));
  return true;
}

template <typename Number>
bool ReadNumber(ByteReader& reader, EncodableValue& out) {
  Number number{};
  if (!reader.ReadRaw(&number, sizeof number)) {
    return false;
  }
  out = EncodableValue(number);
  return true;
}

bool ReadList(ByteReader& reader, size_t nesting, EncodableValue& out) {
  size_t count = 0;
  // Each element takes at least its tag byte: a larger count cannot be honest, and checking it
  // first keeps a short message from reserving a huge list.
  if (nesting >= kMaxNesting || !reader.ReadSize(count) || count > reader.remaining()) {
    return false;
  }
  EncodableList list(count);
  for (EncodableValue& element : list) {
    if (!ReadValue(reader, nesting + 1, element)) {
      return false;
    }
  }
  out = EncodableValue(std::move(list));
  return true;
}

bool ReadMap(ByteReader& reader, size_t nesting, EncodableValue& out) {
  size_t count = 0;
  if (nesting >= kMaxNesting || !reader.ReadSize(count) || count > reader.remaining() / 2) {
    return false;
  }
  EncodableMap map;
  for (size_t i = 0; i < count; ++i) {
    EncodableValue key;
    EncodableValue value;
    if (!ReadValue(reader, nesting + 1, key) || !ReadValue(reader, nesting + 1, value)) {
      return false;
    }
    if (!map.emplace(std::move(key), std::move(value)).second) {
      return false;  // a key given twice
    }
  }
  out = EncodableValue(std::move(map));
  return true;
}

// One value; nesting counts the lists and maps around it.
bool ReadValue(ByteReader& reader, size_t nesting, EncodableValue& out) {
  uint8_t tag = 0;
  if (!reader.ReadByte(tag)) {
    return false;
  }
  switch (static_cast<Tag>(tag)) {
    case Tag::kNull:
      out = EncodableValue();
      return true;
    case Tag::kTrue:
      out = EncodableValue(true);
      return true;
    case Tag::kFalse:
      out = EncodableValue(false);
      return true;
    case Tag::kInt32:
      return ReadNumber<int32_t>(reader, out);
    case Tag::kInt64:
      return ReadNumber<int64_t>(reader, out);
    case Tag::kFloat64:
      return reader.SkipPadding(sizeof(double)) && ReadNumber<double>(reader, out);
    case Tag::kLargeInt:
    case Tag::kString: {
      std::string text;
      if (!ReadText(reader, text)) {
        return false;
      }
      out = EncodableValue(std::move(text));
      return true;
    }
    case Tag::kUint8List:
      return ReadElements<uint8_t>(reader, out);
    case Tag::kInt32List:
      return ReadElements<int32_t>(reader, out);
    case Tag::kInt64List:
      return ReadElements<int64_t>(reader, out);
    case Tag::kFloat64List:
      return ReadElements<double>(reader, out);
    case Tag::kFloat32List:
      return ReadElements<float>(reader, out);
    case Tag::kList:
      return ReadList(reader, nesting, out);
    case Tag::kMap:
      return ReadMap(reader, nesting, out);
  }
  return false;  // an unknown tag, or an application type (128 and above), which we cannot read
}

// --- encoding ---

bool WriteValue(ByteWriter& writer, const EncodableValue& value, size_t nesting);

bool WriteText(ByteWriter& writer, const std::string& text) {
  writer.PutTag(Tag::kString);
  if (!writer.PutSize(text.size())) {
    return false;
  }
  writer.PutRaw(text.data(), text.size());
  return true;
}

template <typename Element>
bool WriteElements(ByteWriter& writer, Tag tag, const std::vector<Element>& elements) {
  writer.PutTag(tag);
  if (!writer.PutSize(elements.size())) {
    return false;
  }
  writer.PutPadding(sizeof(Element));
  writer.PutRaw(elements.data(), elements.size() * sizeof(Element));
  return true;
}

template <typename Alternative>
bool WriteAlternative(ByteWriter& writer, const Alternative& value, size_t nesting) {
  if constexpr (std::is_same_v<Alternative, std::monostate>) {
    writer.PutTag(Tag::kNull);
  } else if constexpr (std::is_same_v<Alternative, bool>) {
    writer.PutTag(value ? Tag::kTrue : Tag::kFalse);
  } else if constexpr (std::is_same_v<Alternative, int32_t>) {
    writer.PutTag(Tag::kInt32);
    writer.PutRaw(&value, sizeof value);
  } else if constexpr (std::is_same_v<Alternative, int64_t>) {
    writer.PutTag(Tag::kInt64);
    writer.PutRaw(&value, sizeof value);
  } else if constexpr (std::is_same_v<Alternative, double>) {
    writer.PutTag(Tag::kFloat64);
    writer.PutPadding(sizeof value);
    writer.PutRaw(&value, sizeof value);
  } else if constexpr (std::is_same_v<Alternative, std::string>) {
    return WriteText(writer, value);
  } else if constexpr (std::is_same_v<Alternative, std::vector<uint8_t>>) {
    return WriteElements(writer, Tag::kUint8List, value);
  } else if constexpr (std::is_same_v<Alternative, std::vector<int32_t>>) {
    return WriteElements(writer, Tag::kInt32List, value);
  } else if constexpr (std::is_same_v<Alternative, std::vector<int64_t>>) {
    return WriteElements(writer, Tag::kInt64List, value);
  } else if constexpr (std::is_same_v<Alternative, std::vector<double>>) {
    return WriteElements(writer, Tag::kFloat64List, value);
  } else if constexpr (std::is_same_v<Alternative, std::vector<float>>) {
    return WriteElements(writer, Tag::kFloat32List, value);
  } else if constexpr (std::is_same_v<Alternative, EncodableList>) {
    writer.PutTag(Tag::kList);
    if (nesting >= kMaxNesting || !writer.PutSize(value.size())) {
      return false;
    }
    return std::all_of(value.begin(), value.end(), [&writer, nesting](const EncodableValue& element) {
      return WriteValue(writer, element, nesting + 1);
    });
  } else if constexpr (std::is_same_v<Alternative, EncodableMap>) {
    writer.PutTag(Tag::kMap);
    if (nesting >= kMaxNesting || !writer.PutSize(value.size())) {
      return false;
    }
    return std::all_of(value.begin(), value.end(), [&writer, nesting](const auto& entry) {
      return WriteValue(writer, entry.first, nesting + 1) && WriteValue(writer, entry.second, nesting + 1);
    });
  } else if constexpr (std::is_same_v<Alternative, CustomEncodableValue>) {
    return false;  // application types need a codec that knows them
  } else {
    static_assert(!std::is_same_v<Alternative, Alternative>, "an EncodableValue alternative is not encoded");
  }
  return true;
}

bool WriteValue(ByteWriter& writer, const EncodableValue& value, size_t nesting) {
  return std::visit(
      [&writer, nesting](const auto& alternative) { return WriteAlternative(writer, alternative, nesting); },
      static_cast<const EncodableValue::super&>(value));
}

// Null when the value cannot be encoded.
std::unique_ptr<std::vector<uint8_t>> Finish(bool written, std::vector<uint8_t> bytes) {
  if (!written) {
    return nullptr;
  }
  return std::make_unique<std::vector<uint8_t>>(std::move(bytes));
}

}  // namespace

// --- StandardMessageCodec ---

// The serializer is ignored: the stand-in declares no serializer other than the standard one.
const StandardMessageCodec& StandardMessageCodec::GetInstance(const StandardCodecSerializer* /*serializer*/) {
  static const StandardMessageCodec instance;
  return instance;
}

std::unique_ptr<EncodableValue> StandardMessageCodec::DecodeMessageInternal(const uint8_t* binary_message,
                                                                            size_t message_size) const {
  if (message_size == 0) {
    return std::make_unique<EncodableValue>();
  }
  if (binary_message == nullptr) {
    return nullptr;
  }
  ByteReader reader(binary_message, message_size);
  auto value = std::make_unique<EncodableValue>();
  if (!ReadValue(reader, 0, *value) || !reader.AtEnd()) {
    return nullptr;
  }
  return value;
}

std::unique_ptr<std::vector<uint8_t>> StandardMessageCodec::EncodeMessageInternal(const EncodableValue& message) const {
  std::vector<uint8_t> bytes;
  ByteWriter writer(bytes);
  const bool written = WriteValue(writer, message, 0);
  return Finish(written, std::move(bytes));
}

// --- StandardMethodCodec ---

// The serializer is ignored: the stand-in declares no serializer other than the standard one.
const StandardMethodCodec& StandardMethodCodec::GetInstance(const StandardCodecSerializer* /*serializer*/) {
  static const StandardMethodCodec instance;
  return instance;
}

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeMethodCallInternal(const uint8_t* message,
                                                                                          size_t message_size) const {
  ByteReader reader(message, message_size);  // a null pointer reads as no bytes: the name is missing
  std::string method_name;
  auto arguments = std::make_unique<EncodableValue>();
  if (!ReadString(reader, method_name) || !ReadValue(reader, 0, *arguments) || !reader.AtEnd()) {
    return nullptr;
  }
  return std::make_unique<MethodCall<EncodableValue>>(method_name, std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeMethodCallInternal(
    const MethodCall<EncodableValue>& method_call) const {
  std::vector<uint8_t> bytes;
  ByteWriter writer(bytes);
  const EncodableValue* arguments = method_call.arguments();
  const bool written = WriteText(writer, method_call.method_name()) &&
                       WriteValue(writer, arguments != nullptr ? *arguments : EncodableValue(), 0);
  return Finish(written, std::move(bytes));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccessEnvelopeInternal(
    const EncodableValue* result) const {
  std::vector<uint8_t> bytes;
  ByteWriter writer(bytes);
  writer.PutByte(kSuccessEnvelope);
  const bool written = WriteValue(writer, result != nullptr ? *result : EncodableValue(), 0);
  return Finish(written, std::move(bytes));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeErrorEnvelopeInternal(
    const std::string& error_code, const std::string& error_message, const EncodableValue* error_details) const {
  std::vector<uint8_t> bytes;
  ByteWriter writer(bytes);
  writer.PutByte(kErrorEnvelope);
  bool written = WriteText(writer, error_code);
  if (written) {
    // The Dart side reads the message as String?: an empty message travels as null.
    written = error_message.empty() ? WriteValue(writer, EncodableValue(), 0) : WriteText(writer, error_message);
  }
  if (written) {
    written = WriteValue(writer, error_details != nullptr ? *error_details : EncodableValue(), 0);
  }
  return Finish(written, std::move(bytes));
}

bool StandardMethodCodec::DecodeAndProcessResponseEnvelopeInternal(const uint8_t* response, size_t response_size,
                                                                   MethodResult<EncodableValue>* result) const {
  ByteReader reader(response, response_size);
  uint8_t kind = 0;
  if (!reader.ReadByte(kind)) {
    return false;
  }
  if (kind == kSuccessEnvelope) {
    EncodableValue value;
    if (!ReadValue(reader, 0, value) || !reader.AtEnd()) {
      return false;
    }
    if (result != nullptr) {
      if (value.IsNull()) {
        result->Success();
      } else {
        result->Success(value);
      }
    }
    return true;
  }
  if (kind != kErrorEnvelope) {
    return false;
  }
  std::string code;
  std::optional<std::string> message;
  EncodableValue details;
  if (!ReadString(reader, code) || !ReadStringOrNull(reader, message) || !ReadValue(reader, 0, details) ||
      !reader.AtEnd()) {
    return false;
  }
  if (result != nullptr) {
    const std::string message_or_empty = message.value_or(std::string());
    if (details.IsNull()) {
      result->Error(code, message_or_empty);
    } else {
      result->Error(code, message_or_empty, details);
    }
  }
  return true;
}

}  // namespace flutter
