#include "host_session.h"

#include <filesystem>

namespace corvane::testing {

namespace fs = std::filesystem;
using flutter::EncodableList;
using flutter::EncodableValue;
using flutter_bridge::Envelope;

HWND WindowOfProcess(DWORD pid, const std::wstring& class_name) {
  struct Search {
    DWORD pid;
    const std::wstring& class_name;
    HWND found;
  } search{pid, class_name, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner == wanted->pid && wanted->class_name == name) {
          wanted->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND HostWindowOf(DWORD pid) { return WindowOfProcess(pid, L"FLUTTER_RUNNER_WIN32_WINDOW"); }

HostSession::HostSession(flutter_bridge::BridgePeer& peer, const std::vector<std::wstring>& arguments, int wait_ms,
                         const std::wstring& host)
    : peer_(peer), wait_ms_(wait_ms) {
  if (!peer_.listening()) {
    error_ = "the bridge does not listen";
    return;
  }
  SetEnvironmentVariableW(L"CORVANE_FLUTTER_BRIDGE_PORT", std::to_wstring(peer_.port()).c_str());
  SetEnvironmentVariableW(L"CORVANE_FLUTTER_HOLD_FIRST_FRAME", L"1");
  const fs::path bin = fs::path(executable_directory()).parent_path();
  process_ = std::make_unique<ChildProcess>(
      host.empty() ? (bin.parent_path() / "client_bundle" / "corvane_client.exe").wstring() : host, arguments);
  SetEnvironmentVariableW(L"CORVANE_FLUTTER_BRIDGE_PORT", nullptr);
  SetEnvironmentVariableW(L"CORVANE_FLUTTER_HOLD_FIRST_FRAME", nullptr);
  if (!process_->started()) {
    error_ = "the host did not start: " + process_->start_error();
  } else if (!peer_.accept_within(wait_ms_)) {
    error_ = "the engine did not connect to the bridge";
  } else if (!(hello_ = peer_.receive_kind_within("hello", wait_ms_))) {
    error_ = "no hello from the engine: " + peer_.last_error();
  } else if ((window_ = HostWindowOf(process_->pid())) == nullptr) {
    // The window exists before the engine: it is created first and hosts the view.
    error_ = "the host has no window";
  }
}

bool HostSession::ShowFirstFrame() {
  return peer_.send(EncodableList{EncodableValue("first-frame")}) &&
         peer_.receive_kind_within("first-frame-shown", wait_ms_).has_value();
}

std::string HostSession::Call(const std::string& method,
                              std::initializer_list<std::pair<const char*, EncodableValue>> arguments) {
  flutter::EncodableMap map;
  for (const auto& [key, value] : arguments) {
    map.insert_or_assign(EncodableValue(key), value);
  }
  return Call(method, std::move(map));
}

std::string HostSession::Call(const std::string& method, flutter::EncodableMap arguments) {
  const int64_t id = peer_.invoke(kRemoteInputChannel, method, EncodableValue(std::move(arguments)));
  const std::optional<Envelope> answer = peer_.await_response(id, wait_ms_);
  if (!answer) {
    return "no answer: " + peer_.last_error();
  }
  switch (answer->kind) {
    case Envelope::Kind::kSuccess:
      if (const auto* flag = std::get_if<bool>(&answer->value)) {
        return *flag ? "success true" : "success false";
      }
      return answer->value.IsNull() ? "success" : "success <value>";
    case Envelope::Kind::kError:
      return "error " + answer->code + " " + answer->message;
    case Envelope::Kind::kNotImplemented:
      return "not implemented";
    case Envelope::Kind::kMalformed:
      break;
  }
  return "malformed";
}

}  // namespace corvane::testing
