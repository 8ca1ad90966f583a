#pragma once
// MethodCodec: translation between method calls, their answers and bytes. Stand-in for Flutter's
// header of the same name (never shipped).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "method_call.h"
#include "method_result.h"

namespace flutter {

// A method codec for arguments and results of type T; implementations supply the protected functions.
template <typename T>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // The method call in these bytes, or null when they do not hold exactly one valid call.
  std::unique_ptr<MethodCall<T>> DecodeMethodCall(const uint8_t* message, size_t message_size) const {
    return DecodeMethodCallInternal(message, message_size);
  }

  std::unique_ptr<MethodCall<T>> DecodeMethodCall(const std::vector<uint8_t>& message) const {
    return DecodeMethodCallInternal(message.data(), message.size());
  }

  // The bytes of a method call, or null when its arguments cannot be encoded.
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCall(const MethodCall<T>& method_call) const {
    return EncodeMethodCallInternal(method_call);
  }

  // The bytes of a success answer (result null: no value), or null when the result cannot be encoded.
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelope(const T* result = nullptr) const {
    return EncodeSuccessEnvelopeInternal(result);
  }

  // The bytes of an error answer, or null when the details cannot be encoded.
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelope(const std::string& error_code,
                                                            const std::string& error_message = "",
                                                            const T* error_details = nullptr) const {
    return EncodeErrorEnvelopeInternal(error_code, error_message, error_details);
  }

  // Decodes an answer and, when it is valid, passes it to result (if not null) and returns true.
  // Invalid bytes return false and leave result untouched.
  bool DecodeAndProcessResponseEnvelope(const uint8_t* response, size_t response_size, MethodResult<T>* result) const {
    return DecodeAndProcessResponseEnvelopeInternal(response, response_size, result);
  }

 protected:
  virtual std::unique_ptr<MethodCall<T>> DecodeMethodCallInternal(const uint8_t* message,
                                                                  size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMethodCallInternal(const MethodCall<T>& method_call) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelopeInternal(const T* result) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelopeInternal(const std::string& error_code,
                                                                            const std::string& error_message,
                                                                            const T* error_details) const = 0;
  virtual bool DecodeAndProcessResponseEnvelopeInternal(const uint8_t* response, size_t response_size,
                                                        MethodResult<T>* result) const = 0;
};

}  // namespace flutter
