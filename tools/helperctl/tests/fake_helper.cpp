// A stand-in for corvane_media_helper.exe for helperctl's process tests. It takes the helper's command
// line, checks it with the helper's own rules, serves the pipe the way the helper does, and then plays
// the behaviour named by the environment variable HELPERCTL_FAKE_SCENARIO:
//   exit      writes one line to standard error and exits with 1 without opening the pipe;
//   serve     answers each command, with an event and a stray reply before some replies and an
//             event right after the StopBroadcast reply; exits with 5 when the client has gone;
//   vanish    on the first command writes one event and exits with 4, never replying;
//   report    on the first command writes its reply and two key-chord events, then exits with 3;
//   garbage   on the first command writes a frame whose body does not decode, then waits for the
//             client to go and exits with 0.

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/unicode.h"
#include "main/launch_config.h"
#include "main/pipe_server.h"
#include "main/pipe_stream.h"
#include "protocol/frames.h"
#include "protocol/messages.h"

namespace {

namespace p = corvane::protocol;
using corvane::helper::PipeStream;

void write_error_line(std::string_view text) {
  std::string line = "fake-helper: ";
  line.append(text);
  line.push_back('\n');
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::vector<std::uint8_t> frame_bytes(const p::HelperEnvelope& envelope) {
  const auto body = p::encode_envelope(envelope);
  const auto size = static_cast<std::uint32_t>(body.size());
  std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                     static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
  bytes.insert(bytes.end(), body.begin(), body.end());
  return bytes;
}

// Writes several frames with one write, so the reader finds all of them once it sees the first.
bool write_together(PipeStream& stream, const std::vector<p::HelperEnvelope>& envelopes) {
  std::vector<std::uint8_t> bytes;
  for (const auto& envelope : envelopes) {
    const auto frame = frame_bytes(envelope);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  }
  std::span<const std::uint8_t> left(bytes);
  while (!left.empty()) {
    const auto written = stream.write(left);
    if (!written) {
      return false;
    }
    left = left.subspan(*written);
  }
  return true;
}

// Waits until the client has read everything, then exits with `code` (the pipe closes with the process).
int leave(PipeStream& stream, int code) {
  FlushFileBuffers(stream.handle());
  return code;
}

p::HelperEnvelope stats_event() {
  p::BroadcastStats stats;
  stats.frames_per_second = 29.97;
  stats.bitrate_bps = 2500000;
  stats.encoder = "x264enc";
  return p::event(stats);
}

p::HelperEnvelope ptt_event(bool pressed, std::uint64_t timestamp) {
  p::GlobalPttEvent event;
  event.pressed = pressed;
  event.timestamp_unix_ms = timestamp;
  return p::event(event);
}

// Answers one command in the `serve` scenario.
bool serve_one(PipeStream& stream, const p::HelperEnvelope& command) {
  const std::string& id = command.request_id;
  if (std::holds_alternative<p::GetMediaCapabilities>(command.payload)) {
    p::MediaCapabilities caps;
    caps.ok = true;
    caps.always_true = true;
    caps.usable_encoders = {"x264enc"};
    return write_together(stream, {stats_event(), p::status_reply("stray", "unrelated"), p::reply(id, caps)});
  }
  if (std::holds_alternative<p::ListCaptureSources>(command.payload)) {
    p::CaptureSourceList list;
    list.sources = {{"monitor:0", "monitor", "Caf\xC3\xA9 \"1\"", "1920x1080"}};
    return write_together(stream, {p::reply(id, list)});
  }
  if (std::holds_alternative<p::StopBroadcast>(command.payload)) {
    return write_together(stream, {p::status_reply(id, p::status_word::idle), p::status_event(p::status_word::ended)});
  }
  if (const auto* ptt = std::get_if<p::ConfigureGlobalPtt>(&command.payload)) {
    std::string keys;
    for (const auto key : ptt->virtual_key_codes) {
      keys += (keys.empty() ? "" : " ") + std::to_string(key);
    }
    return write_together(stream,
                          {p::status_reply(id, ptt->enabled ? "global-ptt-enabled" : "global-ptt-disabled", keys)});
  }
  return write_together(stream, {p::reply(id, p::HelperError{"FAKE_UNKNOWN_COMMAND", "not served here", false})});
}

int run(const corvane::helper::LaunchConfig& config, std::string_view scenario) {
  using namespace corvane::helper;
  const auto parent = verify_parent(config.parent_pid);
  if (!parent) {
    write_error_line(parent.error());
    return 9;
  }
  auto pipe = create_restricted_pipe(config.pipe_id);
  if (!pipe) {
    write_error_line(pipe.error());
    return 9;
  }
  auto client = accept_parent_client(std::move(pipe).value(), *parent);
  if (!client) {
    write_error_line(client.error());
    return 9;
  }
  PipeStream stream(std::move(client).value());

  const auto first = p::read_frame(stream, p::Sender::client);
  const auto* auth_envelope = first ? std::get_if<p::HelperEnvelope>(&*first) : nullptr;
  const auto* auth = auth_envelope ? std::get_if<p::Authenticate>(&auth_envelope->payload) : nullptr;
  if (auth == nullptr || auth_envelope->request_id != "auth" || auth->parent_process_id != config.parent_pid ||
      auth->nonce != std::vector<std::uint8_t>(config.nonce.begin(), config.nonce.end())) {
    write_error_line("the first frame is not the expected Authenticate");
    return 8;
  }
  if (!write_together(stream, {p::status_reply("auth", p::status_word::authenticated)})) {
    return 7;
  }

  while (true) {
    const auto frame = p::read_frame(stream, p::Sender::client);
    if (!frame || std::holds_alternative<p::Disconnected>(*frame)) {
      return 5;
    }
    const auto& command = std::get<p::HelperEnvelope>(*frame);
    if (scenario == "vanish") {
      write_together(stream, {stats_event()});
      return leave(stream, 4);
    }
    if (scenario == "report") {
      write_together(stream, {p::status_reply(command.request_id, "reported"), ptt_event(true, 1733600000123ULL),
                              ptt_event(false, 1733600000456ULL)});
      return leave(stream, 3);
    }
    if (scenario == "garbage") {
      const std::vector<std::uint8_t> bytes = {0x03, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
      static_cast<void>(stream.write(bytes));  // what follows shows whether the client saw it
      while (true) {
        const auto next = p::read_frame(stream, p::Sender::client);
        if (!next || std::holds_alternative<p::Disconnected>(*next)) {
          return 0;
        }
      }
    }
    if (!serve_one(stream, command)) {
      return 6;
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<corvane::helper::CommandLineArgument> arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.push_back({corvane::utf16_to_utf8_lossy(std::wstring_view(argv[i])), true});
  }
  const auto config = corvane::helper::parse_launch_config(arguments);
  if (!config) {
    write_error_line(config.error());
    return 9;
  }
  std::wstring scenario(64, L'\0');
  const DWORD length =
      GetEnvironmentVariableW(L"HELPERCTL_FAKE_SCENARIO", scenario.data(), static_cast<DWORD>(scenario.size()));
  scenario.resize(length < scenario.size() ? length : 0);
  const std::string name = corvane::utf16_to_utf8_lossy(std::wstring_view(scenario));
  if (name == "exit") {
    write_error_line("leaving at once");
    return 1;
  }
  return run(*config, name);
}
