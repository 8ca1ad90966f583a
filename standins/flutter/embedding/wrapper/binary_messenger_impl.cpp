// The wrapper's messenger: std::function handlers and replies over the C callbacks.
#include "binary_messenger_impl.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {
namespace {

// Delivers a C message to the BinaryMessageHandler that user_data points at.
void ForwardToHandler(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message, void* user_data) {
  // A copy: the handler may replace or remove itself while it runs.
  const BinaryMessageHandler handler = *static_cast<const BinaryMessageHandler*>(user_data);
  const FlutterDesktopMessageResponseHandle* response_handle = message->response_handle;
  BinaryReply reply = [messenger, response_handle](const uint8_t* reply_bytes, size_t reply_size) {
    FlutterDesktopMessengerSendResponse(messenger, response_handle, reply_bytes, reply_size);
  };
  handler(message->message, message->message_size, std::move(reply));
}

// Delivers the answer of a SendWithReply to the BinaryReply that user_data owns, and frees it.
void ForwardReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<BinaryReply> reply(static_cast<BinaryReply*>(user_data));
  (*reply)(data, data_size);
}

}  // namespace

void BinaryMessengerImpl::Send(const std::string& channel, const uint8_t* message, size_t message_size,
                               BinaryReply reply) const {
  if (!reply) {
    if (!FlutterDesktopMessengerSend(messenger_, channel.c_str(), message, message_size)) {
      std::cerr << "flutter: a message on " << channel << " was not delivered\n";
    }
    return;
  }
  auto owned_reply = std::make_unique<BinaryReply>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message, message_size, ForwardReply,
                                           owned_reply.get())) {
    // The engine hands it back to ForwardReply with the answer.
    owned_reply.release();
  } else {
    std::cerr << "flutter: a message on " << channel << " was not delivered\n";
  }
}

void BinaryMessengerImpl::SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  if (!handler) {
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr, nullptr);
    handlers_.erase(channel);
    return;
  }
  BinaryMessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), ForwardToHandler, &stored);
}

}  // namespace flutter
