// Test program: a stand-in for the client application, the media helper's parent, that misbehaves.
//
//   parent_stub.exe <helper path> <scenario> <tag>
//
// It starts the helper with its own process ID (the helper inherits its standard output and error),
// waits until the helper's pipe exists, sets the scene of the scenario, signals the event
// "Local\<tag>-ready", waits (at most 60 s) for "Local\<tag>-go" and then misbehaves:
//   exit-before-connect       exits without ever connecting
//   half-frame                connects, authenticates and turns both key chords on; writes half a
//                             frame and exits
//   half-frame-broadcasting   the same with a broadcast of the first capture source instead
//   close-mid-frame           connects and authenticates; writes half a frame, closes its end of the
//                             pipe and stays until the helper has ended
//   unread-reply              connects and authenticates, sends StopBroadcast and leaves the reply
//                             unread; a copy of itself ("hold") keeps the pipe open until the helper
//                             has ended; exits
// Exit code 0 when the scene was set, 2 for a bad command line, 3 when the scene could not be set.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "helper_connection.h"
#include "main/pipe_stream.h"
#include "protocol/frames.h"

namespace {

using corvane::helper::PipeStream;
using corvane::helper::UniqueFileHandle;
namespace protocol = corvane::protocol;

constexpr DWORD kPatienceMs = 60000;  // a guard: the test fails long before

HANDLE start_helper(const std::wstring& helper, const corvane::testing::LaunchSecrets& secrets) {
  std::wstring command_line = corvane::testing::quote_argument(helper);
  for (const std::wstring& argument :
       {std::wstring(L"--pipe-id"), secrets.pipe_id, std::wstring(L"--nonce"), secrets.nonce_hex,
        std::wstring(L"--parent-pid"), std::to_wstring(GetCurrentProcessId())}) {
    command_line += L' ' + corvane::testing::quote_argument(argument);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(helper.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

// Waits until the pipe exists (without connecting), or the helper has ended.
bool pipe_exists(const std::wstring& name, HANDLE helper) {
  const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
  while (GetTickCount64() < deadline && WaitForSingleObject(helper, 0) == WAIT_TIMEOUT) {
    if (WaitNamedPipeW(name.c_str(), 50)) {
      return true;
    }
    Sleep(20);
  }
  return false;
}

// Sends a command and reads the next frame, which must be its reply.
bool request(PipeStream& pipe, const protocol::HelperEnvelope& command, protocol::HelperEnvelope& reply) {
  if (!protocol::write_frame(pipe, command)) {
    return false;
  }
  auto frame = protocol::read_frame(pipe, protocol::Sender::helper);
  if (!frame || !std::holds_alternative<protocol::HelperEnvelope>(*frame)) {
    return false;
  }
  reply = std::get<protocol::HelperEnvelope>(std::move(*frame));
  return reply.request_id == command.request_id;
}

bool status_is(const protocol::HelperEnvelope& reply, const std::string& word) {
  const auto* status = std::get_if<protocol::HelperStatus>(&reply.payload);
  return status != nullptr && status->status == word;
}

bool authenticate(PipeStream& pipe, const corvane::testing::LaunchSecrets& secrets) {
  protocol::HelperEnvelope reply;
  const protocol::Authenticate command{std::vector<std::uint8_t>(secrets.nonce.begin(), secrets.nonce.end()),
                                       GetCurrentProcessId()};
  return request(pipe, protocol::reply("auth", command), reply) && status_is(reply, "authenticated");
}

bool both_chords_on(PipeStream& pipe) {
  protocol::ConfigureGlobalPtt ptt;
  ptt.enabled = true;
  ptt.virtual_key_codes = {0x11, 0x7A};
  protocol::ConfigureMicrophoneShortcut microphone;
  microphone.enabled = true;
  microphone.virtual_key_codes = {0x11, 0x7B};
  protocol::HelperEnvelope reply;
  return request(pipe, protocol::reply("ptt", ptt), reply) && status_is(reply, "global-ptt-enabled") &&
         request(pipe, protocol::reply("mic", microphone), reply) && status_is(reply, "microphone-shortcut-enabled");
}

bool broadcast_first_source(PipeStream& pipe) {
  protocol::HelperEnvelope reply;
  if (!request(pipe, protocol::reply("sources", protocol::ListCaptureSources{}), reply)) {
    return false;
  }
  const auto* list = std::get_if<protocol::CaptureSourceList>(&reply.payload);
  if (list == nullptr || list->sources.empty()) {
    return false;
  }
  return request(pipe, protocol::reply("start", corvane::testing::x264_broadcast_of(list->sources.front().id)),
                 reply) &&
         status_is(reply, "broadcasting");
}

// Writes the first half of a StopBroadcast frame: its header and part of its body.
bool write_half_a_frame(PipeStream& pipe) {
  const auto frame =
      corvane::testing::framed(protocol::encode_envelope(protocol::reply("x", protocol::StopBroadcast{})));
  const auto written = pipe.write(std::span(frame).first(frame.size() / 2));
  return written && *written == frame.size() / 2;
}

// Sends StopBroadcast and waits until its reply is there, without reading it.
bool leave_a_reply_unread(PipeStream& pipe) {
  if (!protocol::write_frame(pipe, protocol::reply("stop", protocol::StopBroadcast{}))) {
    return false;
  }
  const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
  while (GetTickCount64() < deadline) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe.handle(), nullptr, 0, nullptr, &available, nullptr)) {
      return false;
    }
    if (available > 0) {
      return true;
    }
    Sleep(5);
  }
  return false;
}

// Starts "parent_stub.exe hold <pipe handle> <helper pid>", which inherits only the pipe handle.
bool start_holder(HANDLE pipe, DWORD helper_pid) {
  for (const DWORD stream : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    SetHandleInformation(GetStdHandle(stream), HANDLE_FLAG_INHERIT, 0);
  }
  std::wstring self(MAX_PATH, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  std::wstring command_line = corvane::testing::quote_argument(self) + L" hold " +
                              std::to_wstring(reinterpret_cast<std::uintptr_t>(pipe)) + L" " +
                              std::to_wstring(helper_pid);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;  // none: the test's output pipes must not be held
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(self.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

// "hold": keeps the inherited pipe handle open until the helper has ended.
int hold(const wchar_t* pipe_text, const wchar_t* helper_pid_text) {
  const auto pipe = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::stoull(pipe_text)));
  HANDLE helper = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::stoul(helper_pid_text)));
  if (helper != nullptr) {
    WaitForSingleObject(helper, kPatienceMs);
    CloseHandle(helper);
  }
  CloseHandle(pipe);
  return 0;
}

HANDLE event_named(const std::wstring& tag, const wchar_t* suffix) {
  return CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + tag + suffix).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"hold") {
    return hold(argv[2], argv[3]);
  }
  if (argc != 4) {
    return 2;
  }
  const std::wstring helper_path = argv[1];
  const std::wstring scenario = argv[2];
  const std::wstring tag = argv[3];
  HANDLE ready = event_named(tag, L"-ready");
  HANDLE go = event_named(tag, L"-go");
  const auto secrets = corvane::testing::fresh_secrets();
  const std::wstring name = corvane::testing::pipe_name_for(secrets.pipe_id);
  HANDLE helper = start_helper(helper_path, secrets);
  if (ready == nullptr || go == nullptr || helper == nullptr || !pipe_exists(name, helper)) {
    return 3;
  }

  std::unique_ptr<PipeStream> pipe;
  if (scenario != L"exit-before-connect") {
    // Inheritable only where a holder must keep it open.
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, scenario == L"unread-reply"};
    HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &attributes, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (client == INVALID_HANDLE_VALUE) {
      return 3;
    }
    pipe = std::make_unique<PipeStream>(UniqueFileHandle(client));
    if (!authenticate(*pipe, secrets)) {
      return 3;
    }
  }
  bool scene_set = true;
  if (scenario == L"half-frame") {
    scene_set = both_chords_on(*pipe);
  } else if (scenario == L"half-frame-broadcasting") {
    scene_set = broadcast_first_source(*pipe);
  } else if (scenario == L"unread-reply") {
    scene_set = leave_a_reply_unread(*pipe) && start_holder(pipe->handle(), GetProcessId(helper));
  } else if (scenario != L"exit-before-connect" && scenario != L"close-mid-frame") {
    return 2;
  }
  if (!scene_set) {
    return 3;
  }
  SetEvent(ready);
  if (WaitForSingleObject(go, kPatienceMs) != WAIT_OBJECT_0) {
    return 3;
  }

  if (scenario == L"half-frame" || scenario == L"half-frame-broadcasting") {
    return write_half_a_frame(*pipe) ? 0 : 3;
  }
  if (scenario == L"close-mid-frame") {
    if (!write_half_a_frame(*pipe)) {
      return 3;
    }
    pipe->close();
    WaitForSingleObject(helper, kPatienceMs);
  }
  return 0;
}
