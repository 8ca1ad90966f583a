#pragma once
// Test helpers for the embedding stand-in in-process: environment variables for one test, bounded
// message pumping on the platform thread, readable values in failure messages, and a fixture that
// connects a BridgePeer to the engine.

#include <windows.h>

#include <flutter/dart_project.h>
#include <flutter/encodable_value.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <variant>

#include "bridge_peer.h"

namespace flutter {

// Values as readable text in GoogleTest's failure messages.
inline void PrintTo(const EncodableValue& value, std::ostream* out) {
  std::visit(
      [out, &value](const auto& held) {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::monostate>) {
          *out << "null";
        } else if constexpr (std::is_same_v<Held, bool>) {
          *out << (held ? "true" : "false");
        } else if constexpr (std::is_same_v<Held, int32_t> || std::is_same_v<Held, int64_t> ||
                             std::is_same_v<Held, double>) {
          *out << held;
        } else if constexpr (std::is_same_v<Held, std::string>) {
          *out << '"' << held << '"';
        } else if constexpr (std::is_same_v<Held, EncodableList>) {
          *out << '[';
          for (size_t i = 0; i < held.size(); ++i) {
            *out << (i > 0 ? ", " : "");
            PrintTo(held[i], out);
          }
          *out << ']';
        } else if constexpr (std::is_same_v<Held, EncodableMap>) {
          *out << '{';
          bool first = true;
          for (const auto& [key, entry] : held) {
            *out << (first ? "" : ", ");
            first = false;
            PrintTo(key, out);
            *out << ": ";
            PrintTo(entry, out);
          }
          *out << '}';
        } else if constexpr (std::is_same_v<Held, std::vector<uint8_t>>) {
          *out << "bytes(" << held.size() << ")";
        } else {
          *out << "(value of type " << value.index() << ")";
        }
      },
      static_cast<const EncodableValue::super&>(value));
}

}  // namespace flutter

namespace embedding_test {

// The bound of every wait: a guard against a hang, never a pass condition.
constexpr int kWaitMs = 10000;

// Sets (or, with no value, removes) an environment variable for the life of this object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::optional<std::wstring>& value) : name_(name) {
    wchar_t buffer[256];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 256);
    if (length > 0 && length < 256) {
      previous_ = std::wstring(buffer, length);
    }
    SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
  }
  ~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr); }

  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};

// Dispatches this thread's messages until done() holds or ms pass (waking on each new message);
// returns done().
inline bool PumpUntil(const std::function<bool()>& done, int ms = kWaitMs) {
  const uint64_t deadline = GetTickCount64() + static_cast<uint64_t>(ms);
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done()) {
      return true;
    }
    const uint64_t now = GetTickCount64();
    if (now >= deadline) {
      return false;
    }
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

// Returns once every message this thread posted before the call has been handled: posted messages
// are handled in order, so it posts a marker of its own and pumps until the marker arrives.
inline bool FlushPostedMessages() {
  static constexpr UINT kMarker = WM_APP + 0x3A1;
  static bool marked = false;
  static const HWND window = [] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = [](HWND target, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
      if (message == kMarker) {
        marked = true;
        return 0;
      }
      return DefWindowProcW(target, message, wparam, lparam);
    };
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"EmbeddingTestMarker";
    RegisterClassExW(&window_class);
    return CreateWindowExW(0, L"EmbeddingTestMarker", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }();
  marked = false;
  if (window == nullptr || !PostMessageW(window, kMarker, 0, 0)) {
    return false;
  }
  return PumpUntil([] { return marked; });
}

// The project every test runs: a non-ASCII directory, and arguments including non-ASCII and empty
// ones, so that the text conversions show.
inline flutter::DartProject TestProject() {
  flutter::DartProject project(L"C:\\Corvane\\d\u00e4ta");
  project.set_dart_entrypoint_arguments({"--installer", "caf\xc3\xa9", ""});
  return project;
}

// A BridgePeer listening, with CORVANE_FLUTTER_BRIDGE_PORT pointing at it for this test and no
// held first frame; waits pump this thread's messages, since the test thread is the platform thread.
class BridgedTest : public ::testing::Test {
 protected:
  BridgedTest() { peer_.set_pump_messages(true); }

  void SetUp() override { ASSERT_TRUE(peer_.listening()) << peer_.last_error(); }

  // Accepts the engine's connection and consumes its hello.
  void ConnectAndSkipHello() {
    ASSERT_TRUE(peer_.accept_within(kWaitMs)) << peer_.last_error();
    const std::optional<flutter::EncodableList> hello = peer_.receive_within(kWaitMs);
    ASSERT_TRUE(hello) << peer_.last_error();
    ASSERT_EQ(std::get<std::string>(hello->front()), "hello");
  }

  flutter_bridge::BridgePeer peer_;
  ScopedEnvironment port_{L"CORVANE_FLUTTER_BRIDGE_PORT", std::to_wstring(peer_.port())};
  ScopedEnvironment hold_{L"CORVANE_FLUTTER_HOLD_FIRST_FRAME", std::nullopt};
};

}  // namespace embedding_test
