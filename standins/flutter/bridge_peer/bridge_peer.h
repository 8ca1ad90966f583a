#pragma once
// BridgePeer: the test's end of the stand-in engine's bridge. It plays the Flutter application: it
// listens on loopback, the engine connects to it (CORVANE_FLUTTER_BRIDGE_PORT), and frames go both
// ways (a 4-byte little-endian length, then one EncodableList in the standard message codec, its
// first element the kind). standins/flutter/README.md lists the kinds.

#include <winsock2.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flutter/encodable_value.h"

namespace flutter_bridge {

// The application's view of an answer to a method call it made.
struct Envelope {
  enum class Kind {
    kSuccess,         // value: the result (null for Success() without a value)
    kError,           // code, message, value: the details (null when none)
    kNotImplemented,  // an empty answer
    kMalformed,       // bytes that are no valid envelope (kept in bytes)
  };
  Kind kind = Kind::kMalformed;
  flutter::EncodableValue value;
  std::string code;
  std::string message;
  std::vector<uint8_t> bytes;
};

// A listening, then connected, bridge peer. Every wait is bounded by the milliseconds given; with
// message pumping on, waits also dispatch the calling thread's window messages (for a test whose
// thread is the engine's platform thread).
class BridgePeer {
 public:
  // Listens on 127.0.0.1, port chosen by the system; check listening().
  BridgePeer();
  ~BridgePeer();

  BridgePeer(const BridgePeer&) = delete;
  BridgePeer& operator=(const BridgePeer&) = delete;

  // True when the listening socket is ready.
  bool listening() const { return listener_ != INVALID_SOCKET; }

  // The port to put in CORVANE_FLUTTER_BRIDGE_PORT.
  uint16_t port() const { return port_; }

  // Makes waits dispatch the calling thread's window messages (or not).
  void set_pump_messages(bool pump) { pump_messages_ = pump; }

  // Waits for the engine to connect; false when it did not within ms.
  bool accept_within(int ms);

  // True once accepted and until the engine's side closed or close() was called.
  bool connected() const { return connection_ != INVALID_SOCKET && !peer_closed_; }

  // Closes the connection (the engine sees the bridge close).
  void close();

  // Sends one frame; false when not connected or the frame cannot be encoded.
  bool send(const flutter::EncodableList& frame);

  // Sends these bytes as they are, no framing added (wire-format and robustness tests).
  bool send_raw(const std::vector<uint8_t>& bytes);

  // The next frame (kept frames first); none when none arrived within ms, the connection ended, or a
  // frame was not a list starting with a string (see last_error()).
  std::optional<flutter::EncodableList> receive_within(int ms);

  // The next frame of this kind; frames of other kinds are kept for receive_within, in order.
  std::optional<flutter::EncodableList> receive_kind_within(const std::string& kind, int ms);

  // Calls method on channel as the application: sends ["message", channel, call, id] and returns id
  // (0 when sending failed). Arguments may be null (no arguments).
  int64_t invoke(const std::string& channel, const std::string& method,
                 std::unique_ptr<flutter::EncodableValue> arguments = nullptr);
  int64_t invoke(const std::string& channel, const std::string& method, const flutter::EncodableValue& arguments);

  // Sends a raw message as the application: ["message", channel, bytes, reply_id].
  bool send_message(const std::string& channel, const std::vector<uint8_t>& bytes, int64_t reply_id);

  // Answers the host's message reply_id: ["response", reply_id, bytes].
  bool respond(int64_t reply_id, const std::vector<uint8_t>& bytes);

  // Waits for ["response", reply_id, bytes] and decodes the envelope; frames of other kinds and other
  // responses are kept for later. None when it did not come within ms.
  std::optional<Envelope> await_response(int64_t reply_id, int ms);

  // Why the last receive gave nothing.
  const std::string& last_error() const { return last_error_; }

 private:
  // Reads one frame from the connection (not from the kept frames).
  std::optional<flutter::EncodableList> read_frame(uint64_t deadline);

  // Waits until the socket's event is signalled or the deadline passes; false on timeout.
  bool wait_signalled(HANDLE event, uint64_t deadline);

  SOCKET listener_ = INVALID_SOCKET;
  SOCKET connection_ = INVALID_SOCKET;
  HANDLE listener_event_ = nullptr;
  HANDLE connection_event_ = nullptr;
  uint16_t port_ = 0;
  bool pump_messages_ = false;
  bool peer_closed_ = false;
  bool winsock_started_ = false;
  int64_t next_reply_id_ = 1;
  std::vector<uint8_t> received_;
  std::deque<flutter::EncodableList> kept_;
  std::string last_error_;
};

// The envelope in an answer's bytes (empty: not implemented).
Envelope DecodeEnvelope(const std::vector<uint8_t>& bytes);

}  // namespace flutter_bridge
