#pragma once
// StandardMessageCodec: Flutter's standard message format for EncodableValue. Stand-in for
// Flutter's header of the same name (never shipped).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "encodable_value.h"
#include "message_codec.h"

namespace flutter {

// Flutter's extension point for custom value types; declared only (see GetInstance).
class StandardCodecSerializer;

// The standard message codec. Decoding is strict: anything but exactly one well-formed value gives
// null (see standard_codec.cpp for the rules). An empty message decodes as the null value, because
// the Dart side sends a null message as no bytes. Encoding gives null for a value that holds a
// CustomEncodableValue or nests lists and maps deeper than the decoder accepts.
class StandardMessageCodec : public MessageCodec<EncodableValue> {
 public:
  // The codec using serializer; only the standard serializer (null) exists in the stand-in.
  static const StandardMessageCodec& GetInstance(const StandardCodecSerializer* serializer = nullptr);

  ~StandardMessageCodec() override = default;

  StandardMessageCodec(const StandardMessageCodec&) = delete;
  StandardMessageCodec& operator=(const StandardMessageCodec&) = delete;

 protected:
  std::unique_ptr<EncodableValue> DecodeMessageInternal(const uint8_t* binary_message,
                                                        size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMessageInternal(const EncodableValue& message) const override;

 private:
  StandardMessageCodec() = default;
};

}  // namespace flutter
