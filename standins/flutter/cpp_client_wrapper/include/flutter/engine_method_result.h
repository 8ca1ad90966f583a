#pragma once
// EngineMethodResult: the MethodResult a method channel hands to its handler, answering through the
// messenger's reply. Stand-in for Flutter's header of the same name (never shipped).

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binary_messenger.h"
#include "method_codec.h"
#include "method_result.h"

namespace flutter {

// Answers one received method call exactly once; later answers are ignored. An answer that cannot
// be encoded replies empty ("not implemented"). A result destroyed without an answer sends nothing
// (only a warning), so the application's call never completes: the receiver must answer.
template <typename T>
class EngineMethodResult : public MethodResult<T> {
 public:
  // reply receives the encoded answer; codec encodes it (and must outlive this result).
  EngineMethodResult(BinaryReply reply, const MethodCodec<T>* codec) : reply_(std::move(reply)), codec_(codec) {}

  // Warns when no answer was given; the engine may be gone by now, so nothing is sent.
  ~EngineMethodResult() override {
    if (reply_) {
      std::cerr << "Warning: Failed to respond to a message. This is a memory leak.\n";
    }
  }

  EngineMethodResult(const EngineMethodResult&) = delete;
  EngineMethodResult& operator=(const EngineMethodResult&) = delete;

 protected:
  void SuccessInternal(const T* result) override { Reply(codec_->EncodeSuccessEnvelope(result)); }

  void ErrorInternal(const std::string& error_code, const std::string& error_message, const T* error_details) override {
    Reply(codec_->EncodeErrorEnvelope(error_code, error_message, error_details));
  }

  void NotImplementedInternal() override { Reply(nullptr); }

 private:
  // Sends the envelope (null: empty) once.
  void Reply(std::unique_ptr<std::vector<uint8_t>> envelope) {
    if (!reply_) {
      std::cerr << "flutter: a method call was answered more than once; ignoring the later answer\n";
      return;
    }
    BinaryReply reply = std::move(reply_);
    reply_ = nullptr;
    if (envelope) {
      reply(envelope->data(), envelope->size());
    } else {
      reply(nullptr, 0);
    }
  }

  BinaryReply reply_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter
