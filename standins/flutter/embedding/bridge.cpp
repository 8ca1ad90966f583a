// The engine's end of the test bridge.
#include "bridge.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "flutter/standard_message_codec.h"

namespace flutter_standin {
namespace {

// Frames larger than this are taken as a broken peer rather than allocated.
constexpr uint32_t kMaxFrameSize = 64u * 1024u * 1024u;

// Writes all bytes; false when the connection is gone.
bool WriteAll(SOCKET socket, const uint8_t* data, size_t size) {
  while (size > 0) {
    const int chunk = size > 65536 ? 65536 : static_cast<int>(size);
    const int sent = send(socket, reinterpret_cast<const char*>(data), chunk, 0);
    if (sent <= 0) {
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

std::unique_ptr<Bridge> Bridge::Connect(uint16_t port, FrameHandler on_frame) {
  WSADATA data;
  const int started = WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) {
    std::fprintf(stderr, "flutter stand-in: bridge: WSAStartup failed (os error %d)\n", started);
    return nullptr;
  }
  const SOCKET socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (socket == INVALID_SOCKET) {
    std::fprintf(stderr, "flutter stand-in: bridge: socket failed (os error %d)\n", WSAGetLastError());
    WSACleanup();
    return nullptr;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "flutter stand-in: bridge: connect to 127.0.0.1:%u failed (os error %d)\n",
                 static_cast<unsigned>(port), WSAGetLastError());
    closesocket(socket);
    WSACleanup();
    return nullptr;
  }
  // Small frames go out at once rather than waiting for more data.
  const BOOL no_delay = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
  const HANDLE read_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (read_event == nullptr || stop_event == nullptr) {
    std::fprintf(stderr, "flutter stand-in: bridge: CreateEvent failed (os error %lu)\n", GetLastError());
    if (read_event != nullptr) {
      CloseHandle(read_event);
    }
    if (stop_event != nullptr) {
      CloseHandle(stop_event);
    }
    closesocket(socket);
    WSACleanup();
    return nullptr;
  }
  return std::unique_ptr<Bridge>(new Bridge(socket, read_event, stop_event, std::move(on_frame)));
}

Bridge::Bridge(SOCKET socket, HANDLE read_event, HANDLE stop_event, FrameHandler on_frame)
    : socket_(socket), read_event_(read_event), stop_event_(stop_event), on_frame_(std::move(on_frame)) {
  reader_ = std::thread([this] { ReadFrames(); });
}

Bridge::~Bridge() {
  SetEvent(stop_event_);
  if (reader_.joinable()) {
    reader_.join();
  }
  shutdown(socket_, SD_BOTH);
  closesocket(socket_);
  CloseHandle(read_event_);
  CloseHandle(stop_event_);
  WSACleanup();
}

bool Bridge::Send(const flutter::EncodableList& frame) {
  const std::unique_ptr<std::vector<uint8_t>> body =
      flutter::StandardMessageCodec::GetInstance().EncodeMessage(flutter::EncodableValue(frame));
  if (!body || body->size() > kMaxFrameSize) {
    std::fprintf(stderr, "flutter stand-in: bridge: a frame cannot be encoded\n");
    return false;
  }
  const auto size = static_cast<uint32_t>(body->size());
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
  bytes.insert(bytes.end(), body->begin(), body->end());
  const std::lock_guard<std::mutex> lock(write_mutex_);
  return WriteAll(socket_, bytes.data(), bytes.size());
}

bool Bridge::ReadSome(std::vector<uint8_t>& received) {
  char chunk[65536];
  WSABUF buffer = {sizeof chunk, chunk};
  WSAOVERLAPPED overlapped = {};
  overlapped.hEvent = read_event_;
  ResetEvent(read_event_);
  DWORD got = 0;
  DWORD flags = 0;
  if (WSARecv(socket_, &buffer, 1, &got, &flags, &overlapped, nullptr) != 0) {
    if (WSAGetLastError() != WSA_IO_PENDING) {
      return false;
    }
    const HANDLE events[] = {read_event_, stop_event_};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
      // Destroyed while reading: the read must end before its buffer goes away.
      CancelIoEx(reinterpret_cast<HANDLE>(socket_), &overlapped);
      WSAGetOverlappedResult(socket_, &overlapped, &got, TRUE, &flags);
      return false;
    }
    if (!WSAGetOverlappedResult(socket_, &overlapped, &got, FALSE, &flags)) {
      return false;
    }
  }
  if (got == 0 || WaitForSingleObject(stop_event_, 0) == WAIT_OBJECT_0) {
    return false;  // the peer closed, or we are being destroyed
  }
  received.insert(received.end(), chunk, chunk + got);
  return true;
}

void Bridge::ReadFrames() {
  std::vector<uint8_t> received;
  for (;;) {
    if (received.size() < 4) {
      if (!ReadSome(received)) {
        break;
      }
      continue;
    }
    const uint32_t size = static_cast<uint32_t>(received[0]) | static_cast<uint32_t>(received[1]) << 8 |
                          static_cast<uint32_t>(received[2]) << 16 | static_cast<uint32_t>(received[3]) << 24;
    if (size > kMaxFrameSize) {
      std::fprintf(stderr, "flutter stand-in: bridge: a frame of %u bytes is too large; closing\n", size);
      break;
    }
    if (received.size() - 4 < size) {
      if (!ReadSome(received)) {
        break;
      }
      continue;
    }
    std::unique_ptr<flutter::EncodableValue> value =
        flutter::StandardMessageCodec::GetInstance().DecodeMessage(received.data() + 4, size);
    received.erase(received.begin(), received.begin() + 4 + static_cast<std::ptrdiff_t>(size));
    auto* list = value ? std::get_if<flutter::EncodableList>(value.get()) : nullptr;
    if (list == nullptr || list->empty() || !std::holds_alternative<std::string>(list->front())) {
      std::fprintf(stderr, "flutter stand-in: bridge: ignoring a frame that is not a list starting with its kind\n");
      continue;
    }
    on_frame_(std::move(*list));
  }
  if (WaitForSingleObject(stop_event_, 0) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "flutter stand-in: bridge: connection closed by the peer\n");
  }
}

}  // namespace flutter_standin
