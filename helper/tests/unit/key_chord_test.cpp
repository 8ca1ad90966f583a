// Key chords: validation of a requested chord and the poll loop, driven poll by poll.
#include "chord/key_chord.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace corvane::helper {
namespace {

std::string chord_error(std::vector<std::uint32_t> keys) {
  auto chord = normalize_chord(std::move(keys));
  return chord ? "accepted" : chord.error();
}

TEST(ChordValidation, KeysAreSortedAndDeduplicated) {
  EXPECT_EQ(normalize_chord({17, 17, 32}).value(), (std::vector<std::uint32_t>{17, 32}));
  EXPECT_EQ(normalize_chord({254, 1}).value(), (std::vector<std::uint32_t>{1, 254}));
  EXPECT_EQ(normalize_chord({5, 4, 3, 2, 2}).value(), (std::vector<std::uint32_t>{2, 3, 4, 5}));
}

TEST(ChordValidation, RefusalsAndTheirOrder) {
  EXPECT_EQ(chord_error({}), "at least one virtual key code is required");
  EXPECT_EQ(chord_error({0}), "virtual key codes must be between 1 and 254");
  EXPECT_EQ(chord_error({255}), "virtual key codes must be between 1 and 254");
  EXPECT_EQ(chord_error({1, 2, 3, 4, 5}), "a Push-to-Talk chord supports at most 4 keys");
  // The range is checked before the count.
  EXPECT_EQ(chord_error({1, 2, 3, 4, 5, 0}), "virtual key codes must be between 1 and 254");
}

TEST(ChordTime, FiletimeToUnixMilliseconds) {
  EXPECT_EQ(filetime_to_unix_ms(116444736000000000ULL), 0u);
  EXPECT_EQ(filetime_to_unix_ms(0), 0u);
  EXPECT_EQ(filetime_to_unix_ms(116444736000000000ULL + 10000), 1u);
  EXPECT_EQ(filetime_to_unix_ms(116444736000000000ULL + 19999), 1u);  // rounded down
  // 2023-11-14 22:13:20 UTC = 1700000000 s.
  EXPECT_EQ(filetime_to_unix_ms(116444736000000000ULL + 17000000000000000ULL), 1700000000000u);
}

// A keyboard scripted per poll: `down_at(poll)` says which keys are down at that poll.
class ScriptedKeyboard : public KeyStateClock {
 public:
  std::function<std::set<std::uint32_t>(int)> down_at;
  std::function<void(int)> after_wait;  // runs after each wait, with the number of the poll that preceded it
  std::atomic<bool>* stop = nullptr;
  int stop_after_polls = 1000;
  std::vector<std::uint32_t> queried;
  int poll = 0;
  std::uint64_t clock = 1000;

  bool key_down(std::uint32_t key) override {
    queried.push_back(key);
    return down_at(poll).count(key) != 0;
  }
  std::uint64_t now_unix_ms() override { return clock; }
  void wait_period() override {
    if (after_wait) {
      after_wait(poll);
    }
    ++poll;
    clock += 8;
    if (poll >= stop_after_polls) {
      stop->store(true);
    }
  }
};

struct PollRun {
  std::atomic<bool> stop{false};
  ScriptedKeyboard keyboard;
  std::pair<EventSender<ChordTransition>, EventReceiver<ChordTransition>> channel =
      make_event_channel<ChordTransition>();

  std::vector<ChordTransition> run(const std::vector<std::uint32_t>& keys, int polls) {
    keyboard.stop = &stop;
    keyboard.stop_after_polls = polls;
    run_chord_poll(keys, stop, channel.first, keyboard);
    std::vector<ChordTransition> events;
    while (auto event = channel.second.try_receive()) {
      events.push_back(*event);
    }
    return events;
  }
};

TEST(ChordPoll, APartialChordGivesNothingTheLastKeyGivesPressedAnyKeyUpGivesReleased) {
  PollRun run;
  run.keyboard.down_at = [](int poll) -> std::set<std::uint32_t> {
    if (poll < 2) return {};
    if (poll < 4) return {17};      // part of the chord
    if (poll < 6) return {17, 32};  // all of it
    if (poll < 8) return {32};      // one key up
    return {};
  };
  const auto events = run.run({17, 32}, 10);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (ChordTransition{true, 1000 + 4 * 8}));
  EXPECT_EQ(events[1], (ChordTransition{false, 1000 + 6 * 8}));
}

TEST(ChordPoll, ReadingStopsAtTheFirstKeyThatIsUp) {
  PollRun run;
  run.keyboard.down_at = [](int) -> std::set<std::uint32_t> { return {17}; };
  run.run({17, 32, 65}, 1);
  EXPECT_EQ(run.keyboard.queried, (std::vector<std::uint32_t>{17, 32}));
}

TEST(ChordPoll, AChordHeldAtTheStartIsReportedAtTheFirstPoll) {
  PollRun run;
  run.keyboard.down_at = [](int) -> std::set<std::uint32_t> { return {65}; };
  const auto events = run.run({65}, 3);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (ChordTransition{true, 1000}));
  EXPECT_EQ(events[1], (ChordTransition{false, 1000 + 3 * 8})) << "stopping while held sends a last release";
}

TEST(ChordPoll, StoppingWhileReleasedSendsNothingMore) {
  PollRun run;
  run.keyboard.down_at = [](int poll) -> std::set<std::uint32_t> {
    return poll == 1 ? std::set<std::uint32_t>{65} : std::set<std::uint32_t>{};
  };
  const auto events = run.run({65}, 5);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].pressed);
  EXPECT_FALSE(events[1].pressed);
  EXPECT_EQ(run.keyboard.poll, 5);
}

TEST(ChordPoll, AStopSetBeforeTheFirstPollEndsAtOnce) {
  PollRun run;
  run.stop.store(true);
  run.keyboard.down_at = [](int) -> std::set<std::uint32_t> { return {65}; };
  run.keyboard.stop = &run.stop;
  run_chord_poll(std::vector<std::uint32_t>{65}, run.stop, run.channel.first, run.keyboard);
  EXPECT_TRUE(run.keyboard.queried.empty());
  EXPECT_FALSE(run.channel.second.try_receive().has_value());
}

TEST(ChordPoll, WhenNobodyListensTheLoopEndsWithoutALastEvent) {
  PollRun run;
  run.keyboard.down_at = [](int poll) -> std::set<std::uint32_t> {
    return poll >= 2 ? std::set<std::uint32_t>{65} : std::set<std::uint32_t>{};
  };
  run.keyboard.after_wait = [&](int poll) {
    if (poll == 0) {
      run.channel.second.release();
    }
  };
  run.keyboard.stop = &run.stop;
  run.keyboard.stop_after_polls = 1000;
  run_chord_poll(std::vector<std::uint32_t>{65}, run.stop, run.channel.first, run.keyboard);
  EXPECT_EQ(run.keyboard.poll, 2) << "the loop ends at the first transition it cannot deliver";
  EXPECT_FALSE(run.stop.load());
}

TEST(ChordPoll, RepeatedPressesAlternate) {
  PollRun run;
  run.keyboard.down_at = [](int poll) -> std::set<std::uint32_t> {
    return poll % 2 == 1 ? std::set<std::uint32_t>{9} : std::set<std::uint32_t>{};
  };
  const auto events = run.run({9}, 7);
  ASSERT_EQ(events.size(), 6u);
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].pressed, i % 2 == 0) << i;
  }
}

}  // namespace
}  // namespace corvane::helper
