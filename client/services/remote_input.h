#pragma once
// Remote control after local consent (portable): "authorize", "suspend", "revoke" and the gate of
// "input", the emergency stop, and the one release of everything injected. The Windows host
// supplies the timer, the hot key, the monitors and SendInput through ConsentDesktop.

#include <array>
#include <bitset>
#include <cstdint>
#include <string>

#include <flutter/encodable_value.h>
#include <flutter/method_result.h>

#include "gamepad/virtual_controller.h"
#include "services/input_event.h"
#include "services/method_arguments.h"

namespace corvane::client {

// Ctrl+Alt+F12, alone or with the modifiers a remote participant may hold down on top of it: a hot key
// matches its modifiers exactly, so each combination is registered, and the local user's chord ends
// remote control whatever the remote holds.
enum class EmergencyChord : std::uint8_t {
  kPlain,         // Ctrl+Alt+F12
  kShift,         // Ctrl+Alt+Shift+F12
  kWindows,       // Ctrl+Alt+Windows+F12 (either Windows key)
  kShiftWindows,  // Ctrl+Alt+Shift+Windows+F12
};

// Every emergency chord, in the order they are registered.
inline constexpr std::array<EmergencyChord, 4> kEmergencyChords = {
    EmergencyChord::kPlain, EmergencyChord::kShift, EmergencyChord::kWindows, EmergencyChord::kShiftWindows};

// The desktop as consent needs it, besides injection: the release timer, the emergency hot keys,
// the monitors and the emergency message to the application.
class ConsentDesktop : public InputDesktop {
 public:
  // Starts the 100 ms release timer of the host window; false when Windows refused.
  virtual bool StartReleaseTimer() = 0;
  // Stops the release timer (harmless when it does not run).
  virtual void StopReleaseTimer() = 0;
  // Registers `chord` as an emergency hot key; false when Windows refused (another program owns it,
  // or the combination is reserved).
  virtual bool RegisterEmergencyHotKey(EmergencyChord chord) = 0;
  // Unregisters the emergency hot key of `chord`.
  virtual void UnregisterEmergencyHotKey(EmergencyChord chord) = 0;
  // The rectangle a "sourceId" names (a monitor, the virtual screen, or the primary monitor).
  virtual ConsentArea ResolveSourceRect(const std::string& source_id) = 0;
  // Tells the application that the emergency hot key ended `session_id`'s consent.
  virtual void SendEmergencyStop(const std::string& session_id) = 0;
};

// The consent state and held input of remote control; everything on the UI thread.
class RemoteInput {
 public:
  using Result = flutter::MethodResult<flutter::EncodableValue>;

  // Neither is owned; both outlive this object.
  RemoteInput(ConsentDesktop& desktop, VirtualController& controller);

  RemoteInput(const RemoteInput&) = delete;
  RemoteInput& operator=(const RemoteInput&) = delete;

  // "authorize": a new consent, or the renewal of a gamepad consent; answers the hot-key flag.
  void Authorize(const MethodArguments& arguments, Result& result);
  // "suspend": pauses a gamepad consent (neutral report) or ends a desktop consent.
  void Suspend(const MethodArguments& arguments, Result& result);
  // "revoke": ends the consent unless another session is named.
  void Revoke(const MethodArguments& arguments, Result& result);
  // "input": one event of the consented, active session.
  void Input(const MethodArguments& arguments, Result& result);

  // An emergency hot key: release everything, then tell the application which session it ended.
  void EmergencyStop();
  // The release timer fired.
  void ReleaseTimerTick();
  // Ends the consent and lets go of every key, button and the virtual controller.
  void ReleaseAllInput();

  // The consented session (empty without consent).
  const std::string& SessionId() const { return session_id_; }
  // The consented mode.
  ConsentMode Mode() const { return mode_; }
  // What is held down now.
  const HeldInput& Held() const { return held_; }
  // Whether any emergency hot key is registered now.
  bool EmergencyHotKeysRegistered() const { return registered_chords_.any(); }

 private:
  ConsentDesktop& desktop_;
  VirtualController& controller_;
  std::string session_id_;
  ConsentMode mode_ = ConsentMode::kNone;
  bool suspended_ = false;
  ConsentArea area_;
  HeldInput held_;
  // Registers every emergency chord Windows lets it have.
  void RegisterEmergencyHotKeys();
  // Unregisters every emergency chord that was registered.
  void UnregisterEmergencyHotKeys();

  // Whether Ctrl+Alt+F12 itself is registered: what "authorize" answers.
  bool PlainChordRegistered() const;

  std::bitset<kEmergencyChords.size()> registered_chords_;  // indexed by EmergencyChord
};

}  // namespace corvane::client
