#pragma once
// The 12-byte gamepad record in XInput's layout, shared by the physical-gamepad reader, the "gamepad"
// input event and the virtual controller's reports (portable).

#include <cstddef>
#include <cstdint>

namespace corvane::client {

// One gamepad reading or report: XInput's XINPUT_GAMEPAD and the bus driver's Xbox 360 report.
struct GamepadState {
  std::uint16_t buttons = 0;  // XInput button bits (GamepadButton)
  std::uint8_t lt = 0;        // left trigger 0..255
  std::uint8_t rt = 0;        // right trigger 0..255
  std::int16_t lx = 0;        // left stick, right positive
  std::int16_t ly = 0;        // left stick, up positive
  std::int16_t rx = 0;        // right stick, right positive
  std::int16_t ry = 0;        // right stick, up positive

  friend bool operator==(const GamepadState&, const GamepadState&) = default;
};

static_assert(sizeof(GamepadState) == 12);
static_assert(offsetof(GamepadState, buttons) == 0 && offsetof(GamepadState, lt) == 2 &&
              offsetof(GamepadState, rt) == 3 && offsetof(GamepadState, lx) == 4 && offsetof(GamepadState, ly) == 6 &&
              offsetof(GamepadState, rx) == 8 && offsetof(GamepadState, ry) == 10);

// XInput's button bits.
namespace GamepadButton {
inline constexpr std::uint16_t kDpadUp = 0x0001;
inline constexpr std::uint16_t kDpadDown = 0x0002;
inline constexpr std::uint16_t kDpadLeft = 0x0004;
inline constexpr std::uint16_t kDpadRight = 0x0008;
inline constexpr std::uint16_t kStart = 0x0010;
inline constexpr std::uint16_t kBack = 0x0020;
inline constexpr std::uint16_t kLeftThumb = 0x0040;
inline constexpr std::uint16_t kRightThumb = 0x0080;
inline constexpr std::uint16_t kLeftShoulder = 0x0100;
inline constexpr std::uint16_t kRightShoulder = 0x0200;
inline constexpr std::uint16_t kA = 0x1000;
inline constexpr std::uint16_t kB = 0x2000;
inline constexpr std::uint16_t kX = 0x4000;
inline constexpr std::uint16_t kY = 0x8000;
// Back, guide (0x0400) and the reserved bit (0x0800): never reported, never injected.
inline constexpr std::uint16_t kRefused = 0x0020 | 0x0400 | 0x0800;
}  // namespace GamepadButton

}  // namespace corvane::client
