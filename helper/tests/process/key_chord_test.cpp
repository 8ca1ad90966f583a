// Global key chords through the real helper: keys are pressed for real with SendInput from this
// process and the helper's events are read from its pipe.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>

#include "helper_connection.h"

namespace corvane::testing {
namespace {

using protocol::HelperEnvelope;

constexpr std::uint32_t kKeyQ = 0x51;
constexpr std::uint32_t kKeyW = 0x57;
constexpr std::uint32_t kKeyE = 0x45;

// Presses and releases keys for real; every key still down is released at the end.
class Keyboard {
 public:
  ~Keyboard() {
    for (const auto key : std::set<std::uint32_t>(down_)) {
      release(key);
    }
  }
  void press(std::uint32_t key) { send(key, 0), down_.insert(key); }
  void release(std::uint32_t key) { send(key, KEYEVENTF_KEYUP), down_.erase(key); }

 private:
  static void send(std::uint32_t key, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(key);
    input.ki.dwFlags = flags;
    ASSERT_EQ(SendInput(1, &input, sizeof input), 1u);
  }
  std::set<std::uint32_t> down_;
};

std::uint64_t unix_ms_now() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  const std::uint64_t filetime = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (filetime - 116444736000000000ULL) / 10000;
}

template <class Command>
Command chord_command(bool enabled, std::vector<std::uint32_t> keys) {
  Command command;
  command.enabled = enabled;
  command.virtual_key_codes = std::move(keys);
  return command;
}

class KeyChords : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(connection_.connect_and_authenticate()); }
  void TearDown() override {
    const ChildOutcome outcome = connection_.finish();
    EXPECT_EQ(outcome.exit_code, 0u);
    EXPECT_EQ(outcome.standard_error, "");
  }

  // Sends a configuration and returns the reply's status word or error message.
  std::string configure(const protocol::Payload& command) {
    const auto reply = connection_.request(protocol::reply("cfg-" + std::to_string(++requests_), command));
    if (!reply) {
      return "(no reply)";
    }
    if (const auto* status = std::get_if<protocol::HelperStatus>(&reply->payload)) {
      return status->status;
    }
    if (const auto* error = std::get_if<protocol::HelperError>(&reply->payload)) {
      return error->code + ": " + error->message + (error->retryable ? " (retryable)" : "");
    }
    return "(unexpected reply)";
  }

  // The next event, described as "ptt pressed" / "mic released"; fails when none comes.
  std::string next_event() {
    const auto frame = connection_.receive_within();
    if (!frame) {
      return "(no event)";
    }
    EXPECT_EQ(frame->request_id, "");
    const std::uint64_t now = unix_ms_now();
    auto describe = [&](const char* function, const protocol::KeyChordEvent& event) {
      EXPECT_LE(event.timestamp_unix_ms, now + 1000);
      EXPECT_GE(event.timestamp_unix_ms + 60000, now) << "Unix milliseconds of the transition";
      return std::string(function) + (event.pressed ? " pressed" : " released");
    };
    if (const auto* ptt = std::get_if<protocol::GlobalPttEvent>(&frame->payload)) {
      return describe("ptt", *ptt);
    }
    if (const auto* mic = std::get_if<protocol::MicrophoneShortcutEvent>(&frame->payload)) {
      return describe("mic", *mic);
    }
    return "(not a chord event)";
  }

  HelperConnection connection_;
  Keyboard keyboard_;
  int requests_ = 0;
};

TEST_F(KeyChords, OnlyTheWholeChordIsPressedAndAnyKeyUpReleasesIt) {
  ASSERT_EQ(configure(chord_command<protocol::ConfigureGlobalPtt>(true, {kKeyW, kKeyQ})), "global-ptt-enabled");
  keyboard_.press(kKeyQ);  // part of the chord: nothing
  keyboard_.press(kKeyW);
  EXPECT_EQ(next_event(), "ptt pressed");
  keyboard_.release(kKeyQ);
  EXPECT_EQ(next_event(), "ptt released");
  keyboard_.press(kKeyQ);
  EXPECT_EQ(next_event(), "ptt pressed");
  keyboard_.release(kKeyW);
  EXPECT_EQ(next_event(), "ptt released");
}

TEST_F(KeyChords, ReconfiguringWhileHeldReleasesAfterTheReplyThenTheNewMonitorPresses) {
  ASSERT_EQ(configure(chord_command<protocol::ConfigureGlobalPtt>(true, {kKeyE})), "global-ptt-enabled");
  keyboard_.press(kKeyE);
  EXPECT_EQ(next_event(), "ptt pressed");
  EXPECT_EQ(configure(chord_command<protocol::ConfigureGlobalPtt>(true, {kKeyE})), "global-ptt-enabled");
  EXPECT_EQ(next_event(), "ptt released");
  EXPECT_EQ(next_event(), "ptt pressed") << "the new monitor sees the chord held at its first poll";
  EXPECT_EQ(configure(chord_command<protocol::ConfigureGlobalPtt>(false, {})), "global-ptt-disabled");
  EXPECT_EQ(next_event(), "ptt released");
}

TEST_F(KeyChords, ARejectedConfigurationLeavesTheFunctionDisabled) {
  ASSERT_EQ(configure(chord_command<protocol::ConfigureGlobalPtt>(true, {kKeyQ})), "global-ptt-enabled");
  EXPECT_EQ(configure(chord_command<protocol::ConfigureGlobalPtt>(true, {kKeyQ, 255})),
            "GLOBAL_PTT_CONFIGURATION_FAILED: virtual key codes must be between 1 and 254");
  ASSERT_EQ(configure(chord_command<protocol::ConfigureMicrophoneShortcut>(true, {kKeyW})),
            "microphone-shortcut-enabled");
  keyboard_.press(kKeyQ);  // push-to-talk is off: nothing
  keyboard_.press(kKeyW);
  EXPECT_EQ(next_event(), "mic pressed") << "no push-to-talk event came before it";
}

TEST_F(KeyChords, ValidationMessagesAndTheSingleKeyField) {
  using Ptt = protocol::ConfigureGlobalPtt;
  EXPECT_EQ(configure(chord_command<Ptt>(true, {})),
            "GLOBAL_PTT_CONFIGURATION_FAILED: at least one virtual key code is required");
  EXPECT_EQ(configure(chord_command<Ptt>(true, {255})),
            "GLOBAL_PTT_CONFIGURATION_FAILED: virtual key codes must be between 1 and 254");
  EXPECT_EQ(configure(chord_command<Ptt>(true, {1, 2, 3, 4, 5})),
            "GLOBAL_PTT_CONFIGURATION_FAILED: a Push-to-Talk chord supports at most 4 keys");
  EXPECT_EQ(configure(chord_command<protocol::ConfigureMicrophoneShortcut>(true, {1, 2, 3, 4, 5})),
            "MICROPHONE_SHORTCUT_FAILED: a Push-to-Talk chord supports at most 4 keys");
  EXPECT_EQ(configure(chord_command<Ptt>(true, {kKeyQ, kKeyQ, kKeyW})), "global-ptt-enabled");
  Ptt single;
  single.enabled = true;
  single.virtual_key_code = kKeyE;
  EXPECT_EQ(configure(single), "global-ptt-enabled");
  keyboard_.press(kKeyE);
  EXPECT_EQ(next_event(), "ptt pressed");
}

TEST_F(KeyChords, BothFunctionsKeepTheirOwnEvents) {
  ASSERT_EQ(configure(chord_command<protocol::ConfigureGlobalPtt>(true, {kKeyQ})), "global-ptt-enabled");
  ASSERT_EQ(configure(chord_command<protocol::ConfigureMicrophoneShortcut>(true, {kKeyW})),
            "microphone-shortcut-enabled");
  keyboard_.press(kKeyQ);
  EXPECT_EQ(next_event(), "ptt pressed");
  keyboard_.press(kKeyW);
  EXPECT_EQ(next_event(), "mic pressed");
  keyboard_.release(kKeyW);
  EXPECT_EQ(next_event(), "mic released");
  keyboard_.release(kKeyQ);
  EXPECT_EQ(next_event(), "ptt released");
}

}  // namespace
}  // namespace corvane::testing
