#include "helper_connection.h"

#include <random>

#include "common/hex.h"
#include "common/unicode.h"

namespace corvane::testing {

namespace {

constexpr wchar_t kHex[] = L"0123456789abcdef";

}  // namespace

LaunchSecrets fresh_secrets() {
  std::random_device device;
  std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^ GetCurrentProcessId() ^
                            static_cast<std::uint64_t>(GetTickCount64()));
  LaunchSecrets secrets;
  for (int i = 0; i < 36; ++i) {
    secrets.pipe_id.push_back((i == 8 || i == 13 || i == 18 || i == 23) ? L'-' : kHex[generator() % 16]);
  }
  for (auto& byte : secrets.nonce) {
    byte = static_cast<std::uint8_t>(generator());
  }
  secrets.nonce_hex = utf8_to_utf16<wchar_t>(lower_hex(secrets.nonce));
  return secrets;
}

std::wstring pipe_name_for(const std::wstring& pipe_id) { return L"\\\\.\\pipe\\corvane-media-" + pipe_id; }

protocol::StartBroadcast x264_broadcast_of(const std::string& source) {
  protocol::StartBroadcast start;
  start.capture_source_id = source;
  start.whip_url = "https://live.example.com/whip";
  start.stream_key = "stream_key_1234";
  start.width = 960;
  start.height = 540;
  start.frame_rate = 30;
  start.video_bitrate_kbps = 1300;
  return start;
}

std::vector<std::uint8_t> framed(const std::vector<std::uint8_t>& body) {
  const auto size = static_cast<std::uint32_t>(body.size());
  std::vector<std::uint8_t> frame;
  frame.reserve(body.size() + 4);
  for (int shift = 0; shift < 32; shift += 8) {
    frame.push_back(static_cast<std::uint8_t>(size >> shift));
  }
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

HelperConnection::HelperConnection(std::optional<DWORD> parent_pid, std::optional<LaunchSecrets> secrets,
                                   const std::wstring& program)
    : secrets_(secrets ? *secrets : fresh_secrets()) {
  const DWORD parent = parent_pid ? *parent_pid : GetCurrentProcessId();
  helper_ = std::make_unique<ChildProcess>(
      program, std::vector<std::wstring>{L"--pipe-id", secrets_.pipe_id, L"--nonce", secrets_.nonce_hex,
                                         L"--parent-pid", std::to_wstring(parent)});
}

bool HelperConnection::connect() {
  const std::wstring name = pipe_name_for(secrets_.pipe_id);
  // Bounded: about 60 s in 50 ms steps, and never longer than the helper lives.
  for (int attempt = 0; attempt < 1200; ++attempt) {
    HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      pipe_ = std::make_unique<helper::PipeStream>(helper::UniqueFileHandle(pipe));
      return true;
    }
    if (helper_->exited()) {
      return false;
    }
    if (!WaitNamedPipeW(name.c_str(), 50)) {
      Sleep(GetLastError() == ERROR_FILE_NOT_FOUND ? 20 : 0);
    }
  }
  return false;
}

protocol::Authenticate HelperConnection::valid_authenticate() const {
  return protocol::Authenticate{std::vector<std::uint8_t>(secrets_.nonce.begin(), secrets_.nonce.end()),
                                GetCurrentProcessId()};
}

bool HelperConnection::connect_and_authenticate() {
  if (!connect()) {
    return false;
  }
  const auto reply = request(protocol::reply("auth", valid_authenticate()));
  if (!reply) {
    return false;
  }
  const auto* status = std::get_if<protocol::HelperStatus>(&reply->payload);
  return status != nullptr && status->ok && status->status == "authenticated" && reply->request_id == "auth";
}

bool HelperConnection::send(const protocol::HelperEnvelope& envelope) {
  return pipe_ && protocol::write_frame(*pipe_, envelope).ok();
}

bool HelperConnection::send_raw(const std::vector<std::uint8_t>& bytes) {
  if (!pipe_) {
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto written = pipe_->write(std::span(bytes).subspan(done));
    if (!written || *written == 0) {
      return false;
    }
    done += *written;
  }
  return true;
}

Expected<std::variant<protocol::HelperEnvelope, protocol::Disconnected>, protocol::TransportError>
HelperConnection::receive() {
  if (!pipe_) {
    return fail(protocol::TransportError{0, "not connected"});
  }
  auto frame = protocol::read_frame(*pipe_, protocol::Sender::helper);
  // After the helper disconnects its end, the client's read fails with "pipe not connected".
  if (!frame && frame.error().os_code == protocol::kErrorPipeNotConnected) {
    return std::variant<protocol::HelperEnvelope, protocol::Disconnected>(protocol::Disconnected{});
  }
  return frame;
}

std::optional<protocol::HelperEnvelope> HelperConnection::receive_within(DWORD limit_ms) {
  if (!pipe_) {
    return std::nullopt;
  }
  const ULONGLONG deadline = GetTickCount64() + limit_ms;
  for (;;) {
    auto ready = protocol::poll_frame(*pipe_);
    if (!ready) {
      return std::nullopt;
    }
    if (*ready == protocol::PollState::ready) {
      auto frame = receive();
      if (!frame || !std::holds_alternative<protocol::HelperEnvelope>(*frame)) {
        return std::nullopt;
      }
      return std::get<protocol::HelperEnvelope>(std::move(*frame));
    }
    if (GetTickCount64() >= deadline) {
      return std::nullopt;
    }
    Sleep(2);
  }
}

std::optional<protocol::HelperEnvelope> HelperConnection::request(const protocol::HelperEnvelope& envelope) {
  if (!send(envelope)) {
    return std::nullopt;
  }
  auto frame = receive();
  if (!frame || !std::holds_alternative<protocol::HelperEnvelope>(*frame)) {
    return std::nullopt;
  }
  return std::get<protocol::HelperEnvelope>(std::move(*frame));
}

void HelperConnection::close_pipe() {
  if (pipe_) {
    pipe_->close();
    pipe_.reset();
  }
}

ChildOutcome HelperConnection::finish() {
  close_pipe();
  return helper_->wait();
}

}  // namespace corvane::testing
