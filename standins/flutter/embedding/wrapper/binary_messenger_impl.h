#pragma once
// BinaryMessengerImpl: the wrapper's BinaryMessenger over the C messenger of flutter_windows.dll.

#include <flutter_messenger.h>

#include <map>
#include <string>

#include "flutter/binary_messenger.h"

namespace flutter {

// Sends through and receives from a FlutterDesktopMessengerRef; keeps the channel handlers alive
// for as long as they are registered.
class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // A messenger over core_messenger (not owned; it lives as long as its engine).
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef core_messenger) : messenger_(core_messenger) {}

  ~BinaryMessengerImpl() override = default;

  BinaryMessengerImpl(const BinaryMessengerImpl&) = delete;
  BinaryMessengerImpl& operator=(const BinaryMessengerImpl&) = delete;

  // Sends through FlutterDesktopMessengerSend, or SendWithReply when a reply is given.
  void Send(const std::string& channel, const uint8_t* message, size_t message_size,
            BinaryReply reply = nullptr) const override;

  // Stores the handler and registers it as the channel's C callback (null: removes both).
  void SetMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  // The C callback's user data points at the handler stored here (std::map keeps addresses stable).
  std::map<std::string, BinaryMessageHandler> handlers_;
};

}  // namespace flutter
