#pragma once
// MethodChannel: method calls in both directions on one named channel. Stand-in for Flutter's header
// of the same name (never shipped).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binary_messenger.h"
#include "engine_method_result.h"
#include "method_call.h"
#include "method_codec.h"
#include "method_result.h"

namespace flutter {

// Handles one method call from the application; the result must be answered exactly once (a result
// destroyed unanswered leaves the application's call waiting forever).
template <typename T>
using MethodCallHandler = std::function<void(const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

// A named channel carrying method calls encoded with a method codec.
template <typename T = EncodableValue>
class MethodChannel {
 public:
  // The channel name on messenger; messenger and codec must outlive the channel.
  MethodChannel(BinaryMessenger* messenger, const std::string& name, const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}

  ~MethodChannel() = default;

  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Calls method on the application. Without a result the call expects no answer; with one, the
  // answer reaches it on the platform thread (an empty or undecodable answer as NotImplemented).
  void InvokeMethod(const std::string& method, std::unique_ptr<T> arguments,
                    std::unique_ptr<MethodResult<T>> result = nullptr) {
    MethodCall<T> call(method, std::move(arguments));
    std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeMethodCall(call);
    if (!message) {
      std::cerr << "flutter: cannot encode a call of " << method << " on " << name_ << "\n";
      return;
    }
    if (!result) {
      messenger_->Send(name_, message->data(), message->size(), nullptr);
      return;
    }
    // BinaryReply is copyable, so the result is shared with the reply function.
    std::shared_ptr<MethodResult<T>> shared_result(std::move(result));
    const MethodCodec<T>* codec = codec_;
    std::string name = name_;
    BinaryReply reply = [shared_result, codec, name](const uint8_t* reply_bytes, size_t reply_size) {
      if (reply_size == 0) {
        shared_result->NotImplemented();
        return;
      }
      if (!codec->DecodeAndProcessResponseEnvelope(reply_bytes, reply_size, shared_result.get())) {
        std::cerr << "flutter: cannot decode an answer on " << name << "\n";
        shared_result->NotImplemented();
      }
    };
    messenger_->Send(name_, message->data(), message->size(), std::move(reply));
  }

  // Sets the handler of calls from the application; a null handler removes it, after which calls
  // are answered "not implemented".
  void SetMethodCallHandler(MethodCallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetMessageHandler(name_, nullptr);
      return;
    }
    const MethodCodec<T>* codec = codec_;
    std::string name = name_;
    BinaryMessageHandler binary_handler = [handler = std::move(handler), codec, name](
                                              const uint8_t* message, size_t message_size, BinaryReply reply) {
      auto result = std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
      std::unique_ptr<MethodCall<T>> call = codec->DecodeMethodCall(message, message_size);
      if (!call) {
        std::cerr << "flutter: cannot decode a method call on " << name << "\n";
        result->NotImplemented();
        return;
      }
      handler(*call, std::move(result));
    };
    messenger_->SetMessageHandler(name_, std::move(binary_handler));
  }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
