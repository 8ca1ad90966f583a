#pragma once
// MessageCodec: translation between message values and bytes. Stand-in for Flutter's header of the
// same name (never shipped).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace flutter {

// A message codec for values of type T; implementations supply the protected functions.
template <typename T>
class MessageCodec {
 public:
  MessageCodec() = default;
  virtual ~MessageCodec() = default;

  MessageCodec(const MessageCodec&) = delete;
  MessageCodec& operator=(const MessageCodec&) = delete;

  // The message in these bytes, or null when they do not hold exactly one valid message.
  std::unique_ptr<T> DecodeMessage(const uint8_t* binary_message, size_t message_size) const {
    return DecodeMessageInternal(binary_message, message_size);
  }

  std::unique_ptr<T> DecodeMessage(const std::vector<uint8_t>& binary_message) const {
    return DecodeMessageInternal(binary_message.data(), binary_message.size());
  }

  // The bytes of a message, or null when the value cannot be encoded.
  std::unique_ptr<std::vector<uint8_t>> EncodeMessage(const T& message) const { return EncodeMessageInternal(message); }

 protected:
  virtual std::unique_ptr<T> DecodeMessageInternal(const uint8_t* binary_message, size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeMessageInternal(const T& message) const = 0;
};

}  // namespace flutter
