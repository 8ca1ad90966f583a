#include "gamepad/gamepad_mapping.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

namespace corvane::client {
namespace {

constexpr double kStickMaximum = 32767;

// What one WinMM button does in each layout: a button bit, or (bit 0) a full trigger.
struct ButtonMapping {
  std::uint16_t standard = 0;
  std::uint16_t playstation = 0;
  bool left_trigger = false;
  bool right_trigger = false;
};

// WinMM buttons 1 to 12 (bit n − 1 of dwButtons).
constexpr std::array<ButtonMapping, 12> kButtons = {{
    {GamepadButton::kY, GamepadButton::kX},                          // 1
    {GamepadButton::kB, GamepadButton::kA},                          // 2
    {GamepadButton::kA, GamepadButton::kB},                          // 3
    {GamepadButton::kX, GamepadButton::kY},                          // 4
    {GamepadButton::kLeftShoulder, GamepadButton::kLeftShoulder},    // 5
    {GamepadButton::kRightShoulder, GamepadButton::kRightShoulder},  // 6
    {0, 0, true, false},                                             // 7: left trigger
    {0, 0, false, true},                                             // 8: right trigger
    {0, 0},                                                          // 9: not mapped
    {GamepadButton::kStart, GamepadButton::kStart},                  // 10
    {GamepadButton::kLeftThumb, GamepadButton::kLeftThumb},          // 11
    {GamepadButton::kRightThumb, GamepadButton::kRightThumb},        // 12
}};

// A stick with its radial dead zone: zero inside it, else the same direction with the magnitude
// rescaled to start at 0 just outside it and saturate at 32767.
void ApplyDeadZone(std::int16_t& x, std::int16_t& y, int dead_zone) {
  const double dx = x;
  const double dy = y;
  const double zone = dead_zone;
  const double magnitude = std::hypot(dx, dy);
  if (magnitude <= zone) {
    x = 0;
    y = 0;
    return;
  }
  const double scaled = (std::min(magnitude, kStickMaximum) - zone) / (kStickMaximum - zone) * kStickMaximum;
  // |dx| and |dy| never exceed the magnitude, so both results lie within ±32767.
  x = static_cast<std::int16_t>(std::lround(dx / magnitude * scaled));
  y = static_cast<std::int16_t>(std::lround(dy / magnitude * scaled));
}

std::uint8_t ApplyThreshold(std::uint8_t trigger) { return trigger <= kTriggerThreshold ? std::uint8_t{0} : trigger; }

// Dead zones and trigger threshold, shared by both sources.
GamepadState Filter(GamepadState state) {
  ApplyDeadZone(state.lx, state.ly, kLeftStickDeadZone);
  ApplyDeadZone(state.rx, state.ry, kRightStickDeadZone);
  state.lt = ApplyThreshold(state.lt);
  state.rt = ApplyThreshold(state.rt);
  return state;
}

// A position over [minimum, maximum] as −32767..32767; 0 when the range is empty or reversed.
std::int16_t ScaleAxis(std::uint32_t position, std::uint32_t minimum, std::uint32_t maximum) {
  if (minimum >= maximum) {
    return 0;
  }
  const double fraction = std::clamp(
      (static_cast<double>(position) - static_cast<double>(minimum)) / static_cast<double>(maximum - minimum), 0.0,
      1.0);
  return static_cast<std::int16_t>(std::lround((2 * fraction - 1) * kStickMaximum));
}

// The same, up positive (WinMM's Y and R grow downwards).
std::int16_t ScaleAxisInverted(std::uint32_t position, std::uint32_t minimum, std::uint32_t maximum) {
  return static_cast<std::int16_t>(-ScaleAxis(position, minimum, maximum));
}

// The pad's directions for a point-of-view angle in hundredths of a degree (0 up, clockwise).
std::uint16_t PovDirections(std::uint32_t pov) {
  const std::uint32_t angle = pov % 36000;
  std::uint16_t directions = 0;
  if (angle >= 29250 || angle <= 6750) {
    directions |= GamepadButton::kDpadUp;
  }
  if (angle >= 2250 && angle <= 15750) {
    directions |= GamepadButton::kDpadRight;
  }
  if (angle >= 11250 && angle <= 24750) {
    directions |= GamepadButton::kDpadDown;
  }
  if (angle >= 20250 && angle <= 33750) {
    directions |= GamepadButton::kDpadLeft;
  }
  return directions;
}

flutter::EncodableValue Int(int value) { return flutter::EncodableValue(std::int32_t{value}); }

}  // namespace

GamepadState FilterXInputReading(GamepadState raw) {
  raw.buttons &= kReportedButtons;
  return Filter(raw);
}

GamepadState MapJoystick(const JoystickPosition& position, const JoystickCaps& caps, bool playstation_layout) {
  GamepadState state;
  for (std::size_t index = 0; index < kButtons.size(); ++index) {
    if ((position.buttons & (std::uint32_t{1} << index)) == 0) {
      continue;
    }
    const ButtonMapping& mapping = kButtons[index];
    state.buttons |= playstation_layout ? mapping.playstation : mapping.standard;
    if (mapping.left_trigger) {
      state.lt = 255;
    }
    if (mapping.right_trigger) {
      state.rt = 255;
    }
  }
  state.lx = ScaleAxis(position.x, caps.x_min, caps.x_max);
  state.ly = ScaleAxisInverted(position.y, caps.y_min, caps.y_max);
  if ((caps.caps & kJoystickHasZ) != 0) {
    state.rx = ScaleAxis(position.z, caps.z_min, caps.z_max);
  }
  if ((caps.caps & kJoystickHasR) != 0) {
    state.ry = ScaleAxisInverted(position.r, caps.r_min, caps.r_max);
  }
  if ((caps.caps & kJoystickHasPov) != 0 && (position.pov & 0xFFFF) != 0xFFFF) {
    state.buttons |= PovDirections(position.pov);
  }
  state.buttons &= kReportedButtons;
  return Filter(state);
}

flutter::EncodableValue ReadGamepadsResult(bool foreground, const std::vector<GamepadDevice>& devices) {
  flutter::EncodableList list;
  list.reserve(devices.size());
  for (const GamepadDevice& device : devices) {
    // In the background the pads are listed but read as neutral.
    const GamepadState shown = foreground ? device.state : GamepadState{};
    list.push_back(flutter::EncodableValue(flutter::EncodableMap{
        {flutter::EncodableValue("id"), flutter::EncodableValue(device.id)},
        {flutter::EncodableValue("name"), flutter::EncodableValue(device.name)},
        {flutter::EncodableValue("buttons"), Int(shown.buttons)},
        {flutter::EncodableValue("lt"), Int(shown.lt)},
        {flutter::EncodableValue("rt"), Int(shown.rt)},
        {flutter::EncodableValue("lx"), Int(shown.lx)},
        {flutter::EncodableValue("ly"), Int(shown.ly)},
        {flutter::EncodableValue("rx"), Int(shown.rx)},
        {flutter::EncodableValue("ry"), Int(shown.ry)},
    }));
  }
  return flutter::EncodableValue(flutter::EncodableMap{
      {flutter::EncodableValue("foreground"), flutter::EncodableValue(foreground)},
      {flutter::EncodableValue("devices"), flutter::EncodableValue(std::move(list))},
  });
}

}  // namespace corvane::client
