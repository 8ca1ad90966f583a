#pragma once
// The input sink (input_sink.exe): a window of a second process that receives what the host injects.
// Its log is read, and its key state asked, through SendMessage.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/handles.h"

namespace corvane::testing {

inline constexpr wchar_t kSinkClass[] = L"CorvaneInputSink";

// Messages the sink answers.
inline constexpr UINT kSinkCount = WM_APP + 0;  // → number of logged events
inline constexpr UINT kSinkEvent = WM_APP + 1;  // wParam index → the encoded event, -1 past the end
// wParam block b → bit k set when GetAsyncKeyState says virtual key 64·b + k is down. Block 0 first
// waits 60 ms, past the 50 ms for which Wine may answer from a cached copy of the key state.
inline constexpr UINT kSinkKeysDown = WM_APP + 2;
inline constexpr UINT kSinkQuit = WM_APP + 3;  // closes the sink

enum class SinkEvent : std::int64_t { kKeyDown = 1, kKeyUp, kCharacter, kMove, kButton, kWheel };

// An event travels as its kind in the top byte and its value (sign kept) below.
inline std::int64_t EncodeSinkEvent(SinkEvent kind, std::int64_t value) {
  return (static_cast<std::int64_t>(kind) << 56) | (value & 0x00FFFFFFFFFFFFFF);
}
inline std::int64_t PackPoint(std::int32_t x, std::int32_t y) {
  return (static_cast<std::int64_t>(x + 0x1000000) << 25) | (y + 0x1000000);
}

// A key message's value: its virtual key, with the scan code and the extended bit of its lParam above.
inline std::int64_t PackKey(std::uint64_t virtual_key, std::uint64_t lparam) {
  return static_cast<std::int64_t>((virtual_key & 0xFFFF) | (((lparam >> 16) & 0x1FF) << 16));
}

struct SinkRecord {
  SinkEvent kind;
  std::int64_t value;  // a virtual key, a UTF-16 unit, a button message, a wheel delta
  std::int32_t x = 0;  // for a move: the screen point
  std::int32_t y = 0;
  std::uint8_t scan = 0;  // for a key: the scan code of its lParam
  bool extended = false;  // and its extended-key bit
  bool operator==(const SinkRecord&) const = default;
};

class ChildProcess;

// A running sink: the foreground window once started.
class InputSink {
 public:
  InputSink();
  ~InputSink();  // closes the sink
  InputSink(const InputSink&) = delete;
  InputSink& operator=(const InputSink&) = delete;

  // True when the sink runs and holds the foreground; otherwise error() says why.
  bool ready() const { return window_ != nullptr; }
  const std::string& error() const { return error_; }
  HWND window() const { return window_; }

  // The logged events, once one of `kind` (with `value`, when given) is among them (10 s at most, a
  // guard). Input arrives in order, so waiting for the last event sent waits for all before it.
  std::vector<SinkRecord> EventsThrough(SinkEvent kind, std::optional<std::int64_t> value = std::nullopt);
  // The virtual keys from 1 to 254 (mouse buttons included) GetAsyncKeyState sees down in the sink.
  std::vector<int> KeysDown() const;

 private:
  std::unique_ptr<ChildProcess> process_;
  corvane::client::UniqueEvent ready_event_;
  corvane::client::UniqueEvent changed_event_;
  HWND window_ = nullptr;
  std::string error_;
};

}  // namespace corvane::testing
