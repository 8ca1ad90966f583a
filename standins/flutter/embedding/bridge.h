#pragma once
// The engine's end of the test bridge: one loopback TCP connection carrying frames (a 4-byte
// little-endian length, then one EncodableList encoded with the standard message codec).

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "flutter/encodable_value.h"

namespace flutter_standin {

// A connected bridge: a reader thread hands every received frame to a function, and Send writes
// frames from any thread, one at a time. When the peer closes, reading stops and sends fail.
class Bridge {
 public:
  // Receives each frame, on the reader thread.
  using FrameHandler = std::function<void(flutter::EncodableList frame)>;

  // Connects to 127.0.0.1:port and starts reading; null (with the reason on standard error) when
  // the connection cannot be made.
  static std::unique_ptr<Bridge> Connect(uint16_t port, FrameHandler on_frame);

  // Closes the connection and waits for the reader thread.
  ~Bridge();

  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Writes one frame; false when it cannot be encoded or the connection is gone.
  bool Send(const flutter::EncodableList& frame);

 private:
  Bridge(SOCKET socket, HANDLE read_event, HANDLE stop_event, FrameHandler on_frame);

  // The reader thread: frames until the connection ends or the bridge is destroyed.
  void ReadFrames();

  // Reads what is available (at least one byte) into received; false when the connection ended or
  // the bridge is being destroyed.
  bool ReadSome(std::vector<uint8_t>& received);

  SOCKET socket_;
  // Overlapped reads complete on read_event_; stop_event_ ends a read in progress (a blocking recv
  // cannot be woken from another thread reliably: under Wine, shutdown does not wake it).
  HANDLE read_event_;
  HANDLE stop_event_;
  FrameHandler on_frame_;
  std::mutex write_mutex_;
  std::thread reader_;
};

}  // namespace flutter_standin
