// The bridge's bytes on the wire, written out by hand rather than produced by our own encoder: a
// 4-byte little-endian length, then one list in the standard message codec. Also what the engine
// does with frames it cannot use: it skips them and keeps reading.
#include <winsock2.h>

#include <flutter/flutter_view_controller.h>
#include <flutter_windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "embedding_test_support.h"

namespace {

using embedding_test::BridgedTest;
using embedding_test::FlushPostedMessages;
using embedding_test::kWaitMs;
using embedding_test::PumpUntil;
using embedding_test::ScopedEnvironment;
using flutter::EncodableList;
using flutter::EncodableValue;

using Bytes = std::vector<uint8_t>;

// A plain blocking loopback listener, so that the engine's bytes are read without BridgePeer.
class RawListener {
 public:
  RawListener() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener_ != INVALID_SOCKET && bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener_, 1) == 0 && getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~RawListener() {
    if (connection_ != INVALID_SOCKET) {
      closesocket(connection_);
    }
    if (listener_ != INVALID_SOCKET) {
      closesocket(listener_);
    }
    if (started_) {
      WSACleanup();
    }
  }
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  uint16_t port() const { return port_; }

  // Accepts the connection (which has already been made: connect completes through the backlog).
  bool Accept() {
    if (!Readable(listener_)) {
      return false;
    }
    connection_ = accept(listener_, nullptr, nullptr);
    return connection_ != INVALID_SOCKET;
  }

  // Exactly count bytes, each read guarded by the wait bound; none when they do not come.
  std::optional<Bytes> Read(size_t count) {
    Bytes bytes(count);
    size_t got = 0;
    while (got < count) {
      if (!Readable(connection_)) {
        return std::nullopt;
      }
      const int read = recv(connection_, reinterpret_cast<char*>(bytes.data() + got), static_cast<int>(count - got), 0);
      if (read <= 0) {
        return std::nullopt;
      }
      got += static_cast<size_t>(read);
    }
    return bytes;
  }

 private:
  static bool Readable(SOCKET socket) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval guard = {kWaitMs / 1000, 0};
    return select(0, &set, nullptr, nullptr, &guard) == 1;
  }

  bool started_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET connection_ = INVALID_SOCKET;
  uint16_t port_ = 0;
};

TEST(WireTest, TheEnginesFirstFrameIsTheHelloInExactlyTheseBytes) {
  RawListener listener;
  ASSERT_NE(listener.port(), 0);
  const ScopedEnvironment port(L"CORVANE_FLUTTER_BRIDGE_PORT", std::to_wstring(listener.port()));
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = L"a";
  const char* arguments[] = {"x"};
  properties.dart_entrypoint_argc = 1;
  properties.dart_entrypoint_argv = arguments;
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine, nullptr);
  ASSERT_TRUE(FlutterDesktopEngineRun(engine, nullptr));
  ASSERT_TRUE(listener.Accept());

  // ["hello", "a", "", "", ["x"]]: list of 5 (0C 05), strings (07, size, UTF-8), a list of 1.
  const Bytes expected = {0x15, 0x00, 0x00, 0x00,                 // 21 bytes follow
                          0x0C, 0x05,                             // a list of 5
                          0x07, 0x05, 'h',  'e',  'l', 'l', 'o',  // "hello"
                          0x07, 0x01, 'a',                        // assets path
                          0x07, 0x00, 0x07, 0x00,                 // no ICU data, no library
                          0x0C, 0x01, 0x07, 0x01, 'x'};           // the arguments
  const std::optional<Bytes> received = listener.Read(expected.size());
  ASSERT_TRUE(received);
  EXPECT_EQ(*received, expected);
  FlutterDesktopEngineDestroy(engine);
}

using RawFrameTest = BridgedTest;

TEST_F(RawFrameTest, AHandWrittenFrameReachesTheEngine) {
  const ScopedEnvironment hold(L"CORVANE_FLUTTER_HOLD_FIRST_FRAME", L"1");
  flutter::FlutterViewController controller(320, 200, flutter::DartProject(L"data"));
  ConnectAndSkipHello();
  int calls = 0;
  controller.engine()->SetNextFrameCallback([&calls] { ++calls; });
  ASSERT_TRUE(FlushPostedMessages());
  ASSERT_EQ(calls, 0);
  // ["first-frame"]: 15 bytes: a list of 1, the string of 11 bytes.
  ASSERT_TRUE(peer_.send_raw(
      {0x0F, 0x00, 0x00, 0x00, 0x0C, 0x01, 0x07, 0x0B, 'f', 'i', 'r', 's', 't', '-', 'f', 'r', 'a', 'm', 'e'}));
  EXPECT_TRUE(PumpUntil([&calls] { return calls == 1; }));
}

TEST_F(RawFrameTest, FramesTheEngineCannotUseAreSkippedAndTheBridgeKeepsWorking) {
  flutter::FlutterViewController controller(320, 200, flutter::DartProject(L"data"));
  ConnectAndSkipHello();
  const Bytes not_a_list = {0x03, 0x00, 0x00, 0x00, 0x07, 0x01, 'x'};
  const Bytes kind_not_a_string = {0x04, 0x00, 0x00, 0x00, 0x0C, 0x02, 0x00, 0x00};
  const Bytes empty_list = {0x02, 0x00, 0x00, 0x00, 0x0C, 0x00};
  const Bytes not_decodable = {0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF};
  for (const Bytes& frame : {not_a_list, kind_not_a_string, empty_list, not_decodable}) {
    ASSERT_TRUE(peer_.send_raw(frame));
  }
  ASSERT_TRUE(peer_.send(EncodableList{EncodableValue("no-such-kind")}));
  ASSERT_TRUE(peer_.send(EncodableList{EncodableValue("message"), EncodableValue("corvane/remote_input")}));
  ASSERT_TRUE(peer_.send(
      EncodableList{EncodableValue("response"), EncodableValue(int64_t{999}), EncodableValue(std::vector<uint8_t>{})}));

  const std::optional<flutter_bridge::Envelope> answer =
      peer_.await_response(peer_.invoke("corvane/remote_input", "screenInfo"), kWaitMs);
  ASSERT_TRUE(answer) << peer_.last_error();
  EXPECT_EQ(answer->kind, flutter_bridge::Envelope::Kind::kNotImplemented);
}

}  // namespace
