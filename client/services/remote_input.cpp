#include "services/remote_input.h"

#include <utility>
#include <vector>

namespace corvane::client {

namespace {

constexpr char kSessionId[] = "sessionId";

void AnswerHotKey(RemoteInput::Result& result, bool registered) { result.Success(flutter::EncodableValue(registered)); }

std::size_t ChordIndex(EmergencyChord chord) { return static_cast<std::size_t>(chord); }

}  // namespace

RemoteInput::RemoteInput(ConsentDesktop& desktop, VirtualController& controller)
    : desktop_(desktop), controller_(controller) {}

void RemoteInput::Authorize(const MethodArguments& arguments, Result& result) {
  const std::string requested_session = arguments.String(kSessionId);
  if (!arguments.Present() || requested_session.empty()) {
    result.Error("INVALID_SESSION", "Session is required");
    return;
  }
  const std::string mode_name = arguments.String("mode");
  ConsentMode requested = ConsentMode::kNone;
  if (mode_name.empty() || mode_name == "desktop") {
    requested = ConsentMode::kDesktop;
  } else if (mode_name == "gamepad") {
    requested = ConsentMode::kGamepad;
  } else {
    result.Error("INVALID_MODE", "Invalid consent mode");
    return;
  }

  if (requested == ConsentMode::kGamepad && mode_ == ConsentMode::kGamepad && requested_session == session_id_) {
    // A renewal keeps the area, the timer and the hot key; only the controller is checked again.
    if (!controller_.Attach()) {
      ReleaseAllInput();
      result.Error("GAMEPAD_NOT_READY", "Virtual controller disconnected.");
      return;
    }
    suspended_ = false;
    AnswerHotKey(result, PlainChordRegistered());
    return;
  }

  ReleaseAllInput();
  if (requested == ConsentMode::kGamepad && !controller_.Attach()) {
    controller_.Release();
    result.Error("GAMEPAD_NOT_READY", "Enable the bundled gamepad driver first. No virtual controller was attached.");
    return;
  }
  mode_ = requested;
  session_id_ = requested_session;
  area_ = desktop_.ResolveSourceRect(arguments.String("sourceId"));
  if (mode_ == ConsentMode::kGamepad && !desktop_.StartReleaseTimer()) {
    ReleaseAllInput();
    result.Error("GAMEPAD_WATCHDOG", "Could not start the input release timer.");
    return;
  }
  RegisterEmergencyHotKeys();
  AnswerHotKey(result, PlainChordRegistered());
}

void RemoteInput::Suspend(const MethodArguments& arguments, Result& result) {
  if (arguments.Present() && !session_id_.empty() && arguments.String(kSessionId) == session_id_) {
    if (mode_ == ConsentMode::kGamepad) {
      suspended_ = true;
      controller_.Neutralize();
    } else {
      // A desktop consent is not paused but ended: nothing may stay pressed while it waits.
      ReleaseAllInput();
    }
  }
  result.Success();
}

void RemoteInput::Revoke(const MethodArguments& arguments, Result& result) {
  const std::string named = arguments.String(kSessionId);
  if (!(arguments.Present() && !named.empty() && named != session_id_)) {
    ReleaseAllInput();
  }
  result.Success();
}

void RemoteInput::Input(const MethodArguments& arguments, Result& result) {
  if (!arguments.Present() || session_id_.empty() || suspended_ || arguments.String(kSessionId) != session_id_) {
    result.Error("NOT_AUTHORIZED", "No local approval");
    return;
  }
  if (RunInputEvent(arguments, mode_, area_, held_, desktop_, controller_)) {
    result.Success();
  } else {
    result.Error("INPUT_BLOCKED", "Windows refused input or command is invalid");
  }
}

void RemoteInput::EmergencyStop() {
  const std::string ended_session = session_id_;
  ReleaseAllInput();
  desktop_.SendEmergencyStop(ended_session);
}

void RemoteInput::ReleaseTimerTick() { controller_.WatchdogTick(); }

void RemoteInput::ReleaseAllInput() {
  desktop_.StopReleaseTimer();
  controller_.Release();
  mode_ = ConsentMode::kNone;
  suspended_ = false;
  session_id_.clear();
  const std::vector<InputRecord> records = ReleaseRecords(held_, desktop_);
  if (!records.empty()) {
    // What Windows did not take may still be down: kept, so that the next release tries again.
    held_ = HeldAfterRelease(held_, desktop_.SendInput(records));
  }
  UnregisterEmergencyHotKeys();
}

void RemoteInput::RegisterEmergencyHotKeys() {
  for (const EmergencyChord chord : kEmergencyChords) {
    // A combination Windows refuses is left out; the others still end remote control.
    if (desktop_.RegisterEmergencyHotKey(chord)) {
      registered_chords_.set(ChordIndex(chord));
    }
  }
}

bool RemoteInput::PlainChordRegistered() const { return registered_chords_.test(ChordIndex(EmergencyChord::kPlain)); }

void RemoteInput::UnregisterEmergencyHotKeys() {
  for (const EmergencyChord chord : kEmergencyChords) {
    if (registered_chords_.test(ChordIndex(chord))) {
      desktop_.UnregisterEmergencyHotKey(chord);
    }
  }
  registered_chords_.reset();
}

}  // namespace corvane::client
