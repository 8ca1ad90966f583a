#pragma once
// The key-chord monitor thread: polls GetAsyncKeyState every 8 ms on a thread named
// "corvane-global-ptt" and sends each chord transition to the session.

#include <atomic>
#include <memory>
#include <vector>

#include "chord/key_chord.h"
#include "platform/handles.h"

namespace corvane::helper {

// What a monitor thread works with: the stop flag, the chord and its sending end.
struct ChordMonitorState;

// A running monitor: its stop flag and its thread. Stopping joins the thread.
class KeyChordMonitor final : public ChordMonitorHandle {
 public:
  ~KeyChordMonitor() override { stop(); }
  void stop() override;

 private:
  friend Result<std::unique_ptr<ChordMonitorHandle>> start_key_chord_monitor(std::vector<std::uint32_t> keys,
                                                                             EventSender<ChordTransition> sender);
  explicit KeyChordMonitor(std::shared_ptr<ChordMonitorState> state) : state_(std::move(state)) {}

  std::shared_ptr<ChordMonitorState> state_;
  UniqueHandle thread_;
};

// Validates the chord and starts its monitor, or says why not ("start PTT monitor: " + system text
// when the thread cannot be created).
Result<std::unique_ptr<ChordMonitorHandle>> start_key_chord_monitor(std::vector<std::uint32_t> keys,
                                                                    EventSender<ChordTransition> sender);

}  // namespace corvane::helper
