#include "chord/key_chord.h"

#include <algorithm>

namespace corvane::helper {

Result<std::vector<std::uint32_t>> normalize_chord(std::vector<std::uint32_t> keys) {
  if (keys.empty()) {
    return fail("at least one virtual key code is required");
  }
  if (std::any_of(keys.begin(), keys.end(), [](std::uint32_t key) { return key == 0 || key > 254; })) {
    return fail("virtual key codes must be between 1 and 254");
  }
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  if (keys.size() > kMaxChordKeys) {
    return fail("a Push-to-Talk chord supports at most 4 keys");
  }
  return keys;
}

std::uint64_t filetime_to_unix_ms(std::uint64_t filetime) noexcept {
  constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in FILETIME units
  return filetime > kUnixEpoch ? (filetime - kUnixEpoch) / 10000 : 0;
}

void run_chord_poll(std::span<const std::uint32_t> keys, const std::atomic<bool>& stop,
                    const EventSender<ChordTransition>& sender, KeyStateClock& keyboard) {
  bool previous = false;
  if (!stop.load()) {
    for (;;) {
      // Keys in ascending order; the first key that is up decides.
      const bool down =
          std::all_of(keys.begin(), keys.end(), [&](std::uint32_t key) { return keyboard.key_down(key); });
      if (down != previous) {
        if (!sender.send(ChordTransition{down, keyboard.now_unix_ms()})) {
          return;  // the session is gone: end without a last event
        }
        previous = down;
      }
      keyboard.wait_period();
      if (stop.load()) {
        break;
      }
    }
  }
  if (previous) {
    (void)sender.send(ChordTransition{false, keyboard.now_unix_ms()});
  }
}

}  // namespace corvane::helper
