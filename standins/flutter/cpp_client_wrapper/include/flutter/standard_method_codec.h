#pragma once
// StandardMethodCodec: Flutter's standard method-call format for EncodableValue. Stand-in for
// Flutter's header of the same name (never shipped).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encodable_value.h"
#include "method_codec.h"

namespace flutter {

// Flutter's extension point for custom value types; declared only (see GetInstance).
class StandardCodecSerializer;

// The standard method codec. A call is the method name (a string) followed by one argument value;
// a decoded call always has arguments, the null value when the sender passed none. A success answer
// is byte 0 and the result; an error answer is byte 1, the code, the message (null when empty) and
// the details (null when absent). When processing an answer, a null result or null details reach
// the MethodResult as "no value" (Success(), Error(code, message)). An empty answer is not valid
// here: the channel, not the codec, reads it as "not implemented".
class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The codec using serializer; only the standard serializer (null) exists in the stand-in.
  static const StandardMethodCodec& GetInstance(const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override = default;

  StandardMethodCodec(const StandardMethodCodec&) = delete;
  StandardMethodCodec& operator=(const StandardMethodCodec&) = delete;

 protected:
  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCallInternal(const uint8_t* message,
                                                                       size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCallInternal(
      const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelopeInternal(const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelopeInternal(const std::string& error_code,
                                                                    const std::string& error_message,
                                                                    const EncodableValue* error_details) const override;
  bool DecodeAndProcessResponseEnvelopeInternal(const uint8_t* response, size_t response_size,
                                                MethodResult<EncodableValue>* result) const override;

 private:
  StandardMethodCodec() = default;
};

}  // namespace flutter
