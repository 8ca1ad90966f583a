#pragma once
// Global key chords (push-to-talk, microphone shortcut): the portable rules and the poll loop.
// The loop reaches the keyboard, the clock and the 8 ms wait through KeyStateClock.

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "common/event_channel.h"
#include "common/result.h"
#include "protocol/messages.h"

namespace corvane::helper {

// A chord transition as a monitor reports it: pressed or released, and when (Unix milliseconds).
using ChordTransition = protocol::KeyChordEvent;

// A running key-chord monitor; `stop` sets its stop flag and waits until its thread has ended.
class ChordMonitorHandle {
 public:
  ChordMonitorHandle() = default;
  ChordMonitorHandle(const ChordMonitorHandle&) = delete;
  ChordMonitorHandle& operator=(const ChordMonitorHandle&) = delete;
  virtual ~ChordMonitorHandle() = default;
  virtual void stop() = 0;
};

// The most keys a chord may hold.
inline constexpr std::size_t kMaxChordKeys = 4;

// Checks a requested chord and puts it in ascending order without duplicates; or the reason it is
// refused: no keys, a code outside 1..254, more than 4 distinct keys.
Result<std::vector<std::uint32_t>> normalize_chord(std::vector<std::uint32_t> keys);

// Milliseconds since 1970-01-01 UTC for a FILETIME value (100 ns units since 1601); 0 for any time
// not after 1970.
std::uint64_t filetime_to_unix_ms(std::uint64_t filetime) noexcept;

// The key state and the clock the poll loop reads, and its wait.
class KeyStateClock {
 public:
  KeyStateClock() = default;
  KeyStateClock(const KeyStateClock&) = delete;
  KeyStateClock& operator=(const KeyStateClock&) = delete;
  virtual ~KeyStateClock() = default;
  // Whether the key is down now.
  virtual bool key_down(std::uint32_t virtual_key) = 0;
  // The wall-clock time in Unix milliseconds.
  virtual std::uint64_t now_unix_ms() = 0;
  // Waits one poll period (8 ms).
  virtual void wait_period() = 0;
};

// Polls the chord until `stop` is set or nobody listens any more: sends a transition whenever the
// chord goes down or up, and a last release when stopped while the chord was down.
void run_chord_poll(std::span<const std::uint32_t> keys, const std::atomic<bool>& stop,
                    const EventSender<ChordTransition>& sender, KeyStateClock& keyboard);

}  // namespace corvane::helper
