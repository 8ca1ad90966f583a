#pragma once
// How a physical gamepad's reading becomes a GamepadState in XInput's conventions, and the
// "readGamepads" answer (portable). XInput readings are filtered; WinMM joystick positions are
// mapped first (two face-button layouts), then filtered the same way.

#include <cstdint>
#include <string>
#include <vector>

#include <flutter/encodable_value.h>

#include "gamepad/gamepad_state.h"

namespace corvane::client {

// Radial dead zones of the sticks and the trigger threshold, as XInput documents them.
inline constexpr int kLeftStickDeadZone = 7849;
inline constexpr int kRightStickDeadZone = 8689;
inline constexpr std::uint8_t kTriggerThreshold = 30;  // a trigger at or below it reads 0
// The buttons ever reported: everything but back, guide and the reserved bit.
inline constexpr std::uint16_t kReportedButtons = 0xF3DF;

// The wCaps bits of JOYCAPSW that the mapping looks at.
inline constexpr std::uint32_t kJoystickHasZ = 0x0001;    // JOYCAPS_HASZ
inline constexpr std::uint32_t kJoystickHasR = 0x0002;    // JOYCAPS_HASR
inline constexpr std::uint32_t kJoystickHasPov = 0x0010;  // JOYCAPS_HASPOV

// What the mapping needs of a WinMM joystick's JOYCAPSW: the axis ranges and the capability bits.
struct JoystickCaps {
  std::uint32_t x_min = 0;  // wXmin, wXmax
  std::uint32_t x_max = 0;
  std::uint32_t y_min = 0;  // wYmin, wYmax
  std::uint32_t y_max = 0;
  std::uint32_t z_min = 0;  // wZmin, wZmax
  std::uint32_t z_max = 0;
  std::uint32_t r_min = 0;  // wRmin, wRmax
  std::uint32_t r_max = 0;
  std::uint32_t caps = 0;  // wCaps (kJoystickHas… bits)
};

// What the mapping needs of a WinMM joystick's JOYINFOEX.
struct JoystickPosition {
  std::uint32_t x = 0;         // dwXpos
  std::uint32_t y = 0;         // dwYpos
  std::uint32_t z = 0;         // dwZpos
  std::uint32_t r = 0;         // dwRpos (rudder)
  std::uint32_t buttons = 0;   // dwButtons: button n is bit n − 1
  std::uint32_t pov = 0xFFFF;  // dwPOV in hundredths of a degree; low 16 bits 0xFFFF = centred
};

// An XInput reading in the reported form: back, guide and the reserved bit cleared, the stick dead
// zones applied and the triggers' threshold.
GamepadState FilterXInputReading(GamepadState raw);

// A WinMM joystick position mapped to XInput's conventions: face buttons in the standard layout
// (1 Y, 2 B, 3 A, 4 X) or the PlayStation one (1 X, 2 A, 3 B, 4 Y); 5, 6 shoulders; 7, 8 full
// triggers; 10 start; 11, 12 thumbs; the axes rescaled over their capability ranges (Y and R up
// positive, Z and R only when the capabilities have them); the point of view as the pad's
// directions, diagonals setting two; then the same filtering as an XInput reading.
GamepadState MapJoystick(const JoystickPosition& position, const JoystickCaps& caps, bool playstation_layout);

// One pad as "readGamepads" reports it.
struct GamepadDevice {
  std::string id;    // "xinput:<slot>" or "usb:<joystick id>"
  std::string name;  // "Xbox / XInput <slot + 1>", the WinMM product name, or "USB gamepad"
  GamepadState state;
};

// The success value of "readGamepads": {"foreground": bool, "devices": [{"id", "name", "buttons",
// "lt", "rt", "lx", "ly", "rx", "ry"}, …]}, every number an int32; when not in the foreground the
// pads are still listed, with all seven numbers 0.
flutter::EncodableValue ReadGamepadsResult(bool foreground, const std::vector<GamepadDevice>& devices);

}  // namespace corvane::client
