#pragma once
// BinaryMessenger: raw messages between the host and the Flutter application, per channel.
// Stand-in for Flutter's header of the same name (never shipped).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace flutter {

// Receives the answer to a sent message (reply_size 0: the application had no handler).
typedef std::function<void(const uint8_t* reply, size_t reply_size)> BinaryReply;

// Receives one message of a channel; reply must be called exactly once with the answer.
typedef std::function<void(const uint8_t* message, size_t message_size, BinaryReply reply)> BinaryMessageHandler;

// Sends messages to the application and routes the application's messages to handlers.
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Sends a message on channel; reply (when given) receives the answer on the platform thread.
  virtual void Send(const std::string& channel, const uint8_t* message, size_t message_size,
                    BinaryReply reply = nullptr) const = 0;

  // Sets the handler of channel's messages; a null handler removes it (messages are then answered
  // empty).
  virtual void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;
};

}  // namespace flutter
