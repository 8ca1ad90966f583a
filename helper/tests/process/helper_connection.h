#pragma once
// Test helper: the real helper started as this test's child, and the client end of its pipe.

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "main/pipe_stream.h"
#include "protocol/frames.h"

namespace corvane::testing {

// A fresh random pipe ID (lower-case UUID text) and nonce.
struct LaunchSecrets {
  std::wstring pipe_id;
  std::array<std::uint8_t, 32> nonce{};
  std::wstring nonce_hex;
};
LaunchSecrets fresh_secrets();

// The pipe name for a pipe ID.
std::wstring pipe_name_for(const std::wstring& pipe_id);

// The helper under test and this test's connection to it.
class HelperConnection {
 public:
  // Starts the helper with fresh secrets and this process as its declared parent (or `parent_pid`);
  // `program` is the helper beside the test, or an absolute path to a copy laid out elsewhere.
  explicit HelperConnection(std::optional<DWORD> parent_pid = std::nullopt,
                            std::optional<LaunchSecrets> secrets = std::nullopt,
                            const std::wstring& program = L"corvane_media_helper.exe");

  // Opens the client end; waits (bounded) for the pipe to appear, giving up when the helper has ended.
  bool connect();
  // The Authenticate command that the helper expects.
  protocol::Authenticate valid_authenticate() const;
  // Connects, authenticates and checks the "authenticated" reply.
  bool connect_and_authenticate();

  bool send(const protocol::HelperEnvelope& envelope);
  bool send_raw(const std::vector<std::uint8_t>& bytes);
  // The next frame from the helper (blocking), or Disconnected, or the transport error.
  Expected<std::variant<protocol::HelperEnvelope, protocol::Disconnected>, protocol::TransportError> receive();
  // The next frame, waiting at most `limit_ms` (a guard, not a pass condition); nothing when none came.
  std::optional<protocol::HelperEnvelope> receive_within(DWORD limit_ms = 20000);
  // Sends a command and expects the next frame to be its reply.
  std::optional<protocol::HelperEnvelope> request(const protocol::HelperEnvelope& envelope);

  // Closes the client end.
  void close_pipe();
  // Closes the client end and waits for the helper to end.
  ChildOutcome finish();

  ChildProcess& helper() { return *helper_; }
  const LaunchSecrets& secrets() const { return secrets_; }
  HANDLE pipe_handle() const { return pipe_ ? pipe_->handle() : nullptr; }

 private:
  LaunchSecrets secrets_;
  std::unique_ptr<ChildProcess> helper_;
  std::unique_ptr<helper::PipeStream> pipe_;
};

// A StartBroadcast of `source` that an x264enc-only machine accepts: 960×540 at 30 frames per second,
// 1300 kbit/s, to https://live.example.com/whip with the key "stream_key_1234".
protocol::StartBroadcast x264_broadcast_of(const std::string& source);

// Frames a body: 4-byte little-endian length, then the bytes.
std::vector<std::uint8_t> framed(const std::vector<std::uint8_t>& body);

}  // namespace corvane::testing
