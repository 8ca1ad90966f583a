#pragma once
// The real host started from its bundle with the stand-in engine's bridge connected, played as the
// Flutter application plays it: shared by the host's tests and the tools that drive it.

#include <windows.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <flutter/encodable_value.h>

#include "bridge_peer.h"
#include "child_process.h"

namespace corvane::testing {

inline constexpr char kRemoteInputChannel[] = "corvane/remote_input";

// The top-level window of class `class_name` owned by process `pid`, or null.
HWND WindowOfProcess(DWORD pid, const std::wstring& class_name);
// The host's top-level window of process `pid`, or null.
HWND HostWindowOf(DWORD pid);

// A host started with the bridge listening: its engine connected, its first frame held until
// ShowFirstFrame().
class HostSession {
 public:
  // Starts `host` (empty: build/windows/client_bundle/corvane_client.exe) with `arguments`; check error().
  HostSession(flutter_bridge::BridgePeer& peer, const std::vector<std::wstring>& arguments, int wait_ms,
              const std::wstring& host = {});

  // Empty when the host runs, its engine connected and its window exists.
  const std::string& error() const { return error_; }
  ChildProcess& process() { return *process_; }
  HWND window() const { return window_; }
  // The engine's "hello" frame (the project paths and the entry-point arguments).
  const std::optional<flutter::EncodableList>& hello() const { return hello_; }

  // Releases the first frame; false when the engine did not show it in time.
  bool ShowFirstFrame();
  // The answer to one call on the remote-input channel: "success", "success true", "success false",
  // "success <value>", "error CODE message", "not implemented", or what went wrong.
  std::string Call(const std::string& method,
                   std::initializer_list<std::pair<const char*, flutter::EncodableValue>> arguments);
  std::string Call(const std::string& method, flutter::EncodableMap arguments);

 private:
  flutter_bridge::BridgePeer& peer_;
  int wait_ms_;
  std::unique_ptr<ChildProcess> process_;
  std::optional<flutter::EncodableList> hello_;
  HWND window_ = nullptr;
  std::string error_;
};

}  // namespace corvane::testing
