// The test's end of the stand-in engine's bridge.
#include "bridge_peer.h"

#include <ws2tcpip.h>

#include <utility>

#include "flutter/method_call.h"
#include "flutter/method_result.h"
#include "flutter/standard_message_codec.h"
#include "flutter/standard_method_codec.h"

namespace flutter_bridge {
namespace {

// Frames larger than this mean a broken stream.
constexpr uint32_t kMaxFrameSize = 64u * 1024u * 1024u;

// How long a send may wait for the engine to take bytes (a guard against a stuck engine).
constexpr int kSendGuardMs = 10000;

uint64_t DeadlineAfter(int ms) { return GetTickCount64() + static_cast<uint64_t>(ms > 0 ? ms : 0); }

DWORD Remaining(uint64_t deadline) {
  const uint64_t now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

// Dispatches every queued window message of this thread.
void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Records the one answer that DecodeAndProcessResponseEnvelope passes.
class EnvelopeRecorder : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit EnvelopeRecorder(Envelope& out) : out_(out) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override {
    out_.kind = Envelope::Kind::kSuccess;
    out_.value = result != nullptr ? *result : flutter::EncodableValue();
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const flutter::EncodableValue* error_details) override {
    out_.kind = Envelope::Kind::kError;
    out_.code = error_code;
    out_.message = error_message;
    out_.value = error_details != nullptr ? *error_details : flutter::EncodableValue();
  }
  void NotImplementedInternal() override { out_.kind = Envelope::Kind::kNotImplemented; }

 private:
  Envelope& out_;
};

}  // namespace

Envelope DecodeEnvelope(const std::vector<uint8_t>& bytes) {
  Envelope envelope;
  envelope.bytes = bytes;
  if (bytes.empty()) {
    envelope.kind = Envelope::Kind::kNotImplemented;
    return envelope;
  }
  EnvelopeRecorder recorder(envelope);
  if (!flutter::StandardMethodCodec::GetInstance().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(),
                                                                                    &recorder)) {
    envelope.kind = Envelope::Kind::kMalformed;
  }
  return envelope;
}

BridgePeer::BridgePeer() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    last_error_ = "WSAStartup failed";
    return;
  }
  winsock_started_ = true;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) {
    last_error_ = "socket failed";
    return;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    last_error_ = "bind or listen failed";
    closesocket(listener);
    return;
  }
  listener_event_ = WSACreateEvent();
  if (listener_event_ == WSA_INVALID_EVENT || WSAEventSelect(listener, listener_event_, FD_ACCEPT) != 0) {
    last_error_ = "WSAEventSelect failed";
    closesocket(listener);
    return;
  }
  listener_ = listener;
  port_ = ntohs(address.sin_port);
}

BridgePeer::~BridgePeer() {
  close();
  if (listener_ != INVALID_SOCKET) {
    closesocket(listener_);
  }
  if (listener_event_ != nullptr && listener_event_ != WSA_INVALID_EVENT) {
    WSACloseEvent(listener_event_);
  }
  if (winsock_started_) {
    WSACleanup();
  }
}

bool BridgePeer::wait_signalled(HANDLE event, uint64_t deadline) {
  for (;;) {
    const DWORD remaining = Remaining(deadline);
    if (!pump_messages_) {
      return WaitForSingleObject(event, remaining) == WAIT_OBJECT_0;
    }
    const DWORD woken = MsgWaitForMultipleObjectsEx(1, &event, remaining, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_OBJECT_0) {
      return true;
    }
    if (woken != WAIT_OBJECT_0 + 1) {
      return false;
    }
    PumpMessages();
  }
}

bool BridgePeer::accept_within(int ms) {
  if (listener_ == INVALID_SOCKET || connection_ != INVALID_SOCKET) {
    return false;
  }
  const uint64_t deadline = DeadlineAfter(ms);
  for (;;) {
    SOCKET accepted = accept(listener_, nullptr, nullptr);
    if (accepted != INVALID_SOCKET) {
      // The accepted socket inherits the listener's event selection; give it its own.
      connection_event_ = WSACreateEvent();
      WSAEventSelect(accepted, connection_event_, FD_READ | FD_WRITE | FD_CLOSE);
      const BOOL no_delay = TRUE;
      setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
      connection_ = accepted;
      peer_closed_ = false;
      return true;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      last_error_ = "accept failed";
      return false;
    }
    if (!wait_signalled(listener_event_, deadline)) {
      last_error_ = "the engine did not connect in time";
      return false;
    }
    WSAResetEvent(listener_event_);
  }
}

void BridgePeer::close() {
  if (connection_ != INVALID_SOCKET) {
    shutdown(connection_, SD_BOTH);
    closesocket(connection_);
    connection_ = INVALID_SOCKET;
  }
  if (connection_event_ != nullptr && connection_event_ != WSA_INVALID_EVENT) {
    WSACloseEvent(connection_event_);
  }
  connection_event_ = nullptr;
  received_.clear();
}

bool BridgePeer::send(const flutter::EncodableList& frame) {
  if (connection_ == INVALID_SOCKET) {
    return false;
  }
  const std::unique_ptr<std::vector<uint8_t>> body =
      flutter::StandardMessageCodec::GetInstance().EncodeMessage(flutter::EncodableValue(frame));
  if (!body) {
    return false;
  }
  const auto size = static_cast<uint32_t>(body->size());
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(size & 0xFF), static_cast<uint8_t>((size >> 8) & 0xFF),
                                static_cast<uint8_t>((size >> 16) & 0xFF), static_cast<uint8_t>(size >> 24)};
  bytes.insert(bytes.end(), body->begin(), body->end());
  return send_raw(bytes);
}

bool BridgePeer::send_raw(const std::vector<uint8_t>& bytes) {
  if (connection_ == INVALID_SOCKET) {
    return false;
  }
  size_t offset = 0;
  const uint64_t deadline = DeadlineAfter(kSendGuardMs);
  while (offset < bytes.size()) {
    const int chunk = static_cast<int>(bytes.size() - offset > 65536 ? 65536 : bytes.size() - offset);
    const int sent = ::send(connection_, reinterpret_cast<const char*>(bytes.data() + offset), chunk, 0);
    if (sent > 0) {
      offset += static_cast<size_t>(sent);
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
      // The socket is non-blocking (event selection): wait for FD_WRITE. A reset FD_READ is not lost,
      // because reading always tries recv before it waits.
      WSAResetEvent(connection_event_);
      if (!wait_signalled(connection_event_, deadline)) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

std::optional<flutter::EncodableList> BridgePeer::read_frame(uint64_t deadline) {
  for (;;) {
    if (received_.size() >= 4) {
      const uint32_t size = static_cast<uint32_t>(received_[0]) | static_cast<uint32_t>(received_[1]) << 8 |
                            static_cast<uint32_t>(received_[2]) << 16 | static_cast<uint32_t>(received_[3]) << 24;
      if (size > kMaxFrameSize) {
        last_error_ = "a frame length beyond the limit";
        return std::nullopt;
      }
      if (received_.size() >= 4 + static_cast<size_t>(size)) {
        std::unique_ptr<flutter::EncodableValue> value =
            flutter::StandardMessageCodec::GetInstance().DecodeMessage(received_.data() + 4, size);
        received_.erase(received_.begin(), received_.begin() + 4 + static_cast<std::ptrdiff_t>(size));
        auto* list = value ? std::get_if<flutter::EncodableList>(value.get()) : nullptr;
        if (list == nullptr || list->empty() || !std::holds_alternative<std::string>(list->front())) {
          last_error_ = "a frame that is not a list starting with its kind";
          return std::nullopt;
        }
        return std::move(*list);
      }
    }
    if (connection_ == INVALID_SOCKET || peer_closed_) {
      last_error_ = "the connection is closed";
      return std::nullopt;
    }
    char buffer[65536];
    const int got = recv(connection_, buffer, sizeof buffer, 0);
    if (got > 0) {
      received_.insert(received_.end(), buffer, buffer + got);
      continue;
    }
    if (got == 0) {
      peer_closed_ = true;
      continue;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      peer_closed_ = true;
      continue;
    }
    if (!wait_signalled(connection_event_, deadline)) {
      last_error_ = "no frame in time";
      return std::nullopt;
    }
    WSAResetEvent(connection_event_);
  }
}

std::optional<flutter::EncodableList> BridgePeer::receive_within(int ms) {
  if (!kept_.empty()) {
    flutter::EncodableList frame = std::move(kept_.front());
    kept_.pop_front();
    return frame;
  }
  return read_frame(DeadlineAfter(ms));
}

std::optional<flutter::EncodableList> BridgePeer::receive_kind_within(const std::string& kind, int ms) {
  for (auto kept = kept_.begin(); kept != kept_.end(); ++kept) {
    if (std::get<std::string>(kept->front()) == kind) {
      flutter::EncodableList frame = std::move(*kept);
      kept_.erase(kept);
      return frame;
    }
  }
  const uint64_t deadline = DeadlineAfter(ms);
  for (;;) {
    std::optional<flutter::EncodableList> frame = read_frame(deadline);
    if (!frame) {
      return std::nullopt;
    }
    if (std::get<std::string>(frame->front()) == kind) {
      return frame;
    }
    kept_.push_back(std::move(*frame));
  }
}

int64_t BridgePeer::invoke(const std::string& channel, const std::string& method,
                           std::unique_ptr<flutter::EncodableValue> arguments) {
  const flutter::MethodCall<flutter::EncodableValue> call(method, std::move(arguments));
  const std::unique_ptr<std::vector<uint8_t>> bytes =
      flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(call);
  if (!bytes) {
    last_error_ = "the call cannot be encoded";
    return 0;
  }
  const int64_t reply_id = next_reply_id_++;
  return send_message(channel, *bytes, reply_id) ? reply_id : 0;
}

int64_t BridgePeer::invoke(const std::string& channel, const std::string& method,
                           const flutter::EncodableValue& arguments) {
  return invoke(channel, method, std::make_unique<flutter::EncodableValue>(arguments));
}

bool BridgePeer::send_message(const std::string& channel, const std::vector<uint8_t>& bytes, int64_t reply_id) {
  return send(flutter::EncodableList{flutter::EncodableValue("message"), flutter::EncodableValue(channel),
                                     flutter::EncodableValue(bytes), flutter::EncodableValue(reply_id)});
}

bool BridgePeer::respond(int64_t reply_id, const std::vector<uint8_t>& bytes) {
  return send(flutter::EncodableList{flutter::EncodableValue("response"), flutter::EncodableValue(reply_id),
                                     flutter::EncodableValue(bytes)});
}

std::optional<Envelope> BridgePeer::await_response(int64_t reply_id, int ms) {
  if (reply_id == 0) {
    last_error_ = "reply id 0 expects no response";
    return std::nullopt;
  }
  const auto matches = [reply_id](const flutter::EncodableList& frame) -> const std::vector<uint8_t>* {
    if (std::get<std::string>(frame.front()) != "response" || frame.size() < 3) {
      return nullptr;
    }
    const auto* small = std::get_if<int32_t>(&frame[1]);
    const auto* large = std::get_if<int64_t>(&frame[1]);
    const int64_t id = small != nullptr ? *small : large != nullptr ? *large : 0;
    return id == reply_id ? std::get_if<std::vector<uint8_t>>(&frame[2]) : nullptr;
  };
  for (auto kept = kept_.begin(); kept != kept_.end(); ++kept) {
    if (const std::vector<uint8_t>* bytes = matches(*kept)) {
      Envelope envelope = DecodeEnvelope(*bytes);
      kept_.erase(kept);
      return envelope;
    }
  }
  const uint64_t deadline = DeadlineAfter(ms);
  for (;;) {
    std::optional<flutter::EncodableList> frame = read_frame(deadline);
    if (!frame) {
      return std::nullopt;
    }
    if (const std::vector<uint8_t>* bytes = matches(*frame)) {
      return DecodeEnvelope(*bytes);
    }
    kept_.push_back(std::move(*frame));
  }
}

}  // namespace flutter_bridge
