#include "gamepad/gamepad_mapping.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace corvane::client {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

GamepadState Raw(std::int16_t lx, std::int16_t ly, std::int16_t rx, std::int16_t ry) {
  GamepadState state;
  state.lx = lx;
  state.ly = ly;
  state.rx = rx;
  state.ry = ry;
  return state;
}

// The left stick of a filtered XInput reading at (x, y).
std::pair<int, int> Left(std::int16_t x, std::int16_t y) {
  const GamepadState state = FilterXInputReading(Raw(x, y, 0, 0));
  return {state.lx, state.ly};
}

// The right stick of a filtered XInput reading at (x, y).
std::pair<int, int> Right(std::int16_t x, std::int16_t y) {
  const GamepadState state = FilterXInputReading(Raw(0, 0, x, y));
  return {state.rx, state.ry};
}

// Capabilities with every axis over 0..65535 and the given wCaps bits.
JoystickCaps FullRange(std::uint32_t bits) {
  JoystickCaps caps;
  caps.x_max = 65535;
  caps.y_max = 65535;
  caps.z_max = 65535;
  caps.r_max = 65535;
  caps.caps = bits;
  return caps;
}

// A centred position with the given buttons held.
JoystickPosition Centred(std::uint32_t buttons = 0) {
  JoystickPosition position;
  position.x = 32767;
  position.y = 32767;
  position.z = 32767;
  position.r = 32767;
  position.buttons = buttons;
  return position;
}

// The buttons reported for the point of view `pov` of a pad that has one.
std::uint16_t PovButtons(std::uint32_t pov) {
  JoystickPosition position = Centred();
  position.pov = pov;
  return MapJoystick(position, FullRange(kJoystickHasPov), false).buttons;
}

// The button bits of WinMM button `number` (1-based) alone, in one layout.
std::uint16_t ButtonOf(int number, bool playstation_layout) {
  return MapJoystick(Centred(std::uint32_t{1} << (number - 1)), FullRange(0), playstation_layout).buttons;
}

TEST(FilterXInputReading, ClearsBackGuideAndTheReservedBit) {
  GamepadState raw;
  raw.buttons = 0xFFFF;
  EXPECT_EQ(FilterXInputReading(raw).buttons, 0xF3DF);
  raw.buttons = GamepadButton::kBack;
  EXPECT_EQ(FilterXInputReading(raw).buttons, 0) << "the back button is never reported";
  raw.buttons = GamepadButton::kA | GamepadButton::kStart | GamepadButton::kDpadUp;
  EXPECT_EQ(FilterXInputReading(raw).buttons, GamepadButton::kA | GamepadButton::kStart | GamepadButton::kDpadUp);
}

TEST(FilterXInputReading, LeftStickDeadZoneIsRadial) {
  EXPECT_EQ(Left(5000, 5000), std::make_pair(0, 0)) << "magnitude 7071 is inside 7849";
  EXPECT_EQ(Left(7849, 0), std::make_pair(0, 0)) << "the boundary itself is inside";
  EXPECT_EQ(Left(0, -7849), std::make_pair(0, 0));
  EXPECT_EQ(Left(7850, 0), std::make_pair(1, 0)) << "just outside, the magnitude starts again from 0";
  EXPECT_EQ(Left(0, -7850), std::make_pair(0, -1));
  EXPECT_EQ(Left(8000, 0), std::make_pair(199, 0));
}

TEST(FilterXInputReading, RightStickHasItsOwnDeadZone) {
  EXPECT_EQ(Right(8689, 0), std::make_pair(0, 0));
  EXPECT_EQ(Right(8690, 0), std::make_pair(1, 0));
  EXPECT_EQ(Right(8000, 0), std::make_pair(0, 0)) << "outside the left stick's zone, inside the right one's";
  EXPECT_EQ(Right(0, 8000), std::make_pair(0, 0));
}

TEST(FilterXInputReading, RescalingKeepsTheDirection) {
  // Magnitude 20000 at 3:4: rescaled to (20000 − 7849) / (32767 − 7849) × 32767 = 15978.3.
  EXPECT_EQ(Left(12000, 16000), std::make_pair(9587, 12783));
  EXPECT_EQ(Left(-12000, -16000), std::make_pair(-9587, -12783));
  // Half-way through the live range lands on a tie: 16383.5 rounds away from zero.
  EXPECT_EQ(Left(20308, 0), std::make_pair(16384, 0));
}

TEST(FilterXInputReading, MagnitudeSaturatesAt32767) {
  EXPECT_EQ(Left(32767, 0), std::make_pair(32767, 0));
  EXPECT_EQ(Left(-32768, 0), std::make_pair(-32767, 0)) << "the most negative reading is brought to −32767";
  EXPECT_EQ(Left(32767, 32767), std::make_pair(23170, 23170)) << "a corner keeps its 45° at full magnitude";
  EXPECT_EQ(Right(-32768, -32768), std::make_pair(-23170, -23170));
  EXPECT_EQ(Right(0, 32767), std::make_pair(0, 32767));
}

TEST(FilterXInputReading, TriggersAtOrBelow30ReadZero) {
  GamepadState raw;
  for (const auto& [value, expected] : std::vector<std::pair<int, int>>{{0, 0}, {30, 0}, {31, 31}, {255, 255}}) {
    raw.lt = static_cast<std::uint8_t>(value);
    raw.rt = static_cast<std::uint8_t>(value);
    const GamepadState filtered = FilterXInputReading(raw);
    EXPECT_EQ(filtered.lt, expected) << value;
    EXPECT_EQ(filtered.rt, expected) << value;
  }
}

TEST(FilterXInputReading, NeutralStaysNeutral) { EXPECT_EQ(FilterXInputReading(GamepadState{}), GamepadState{}); }

TEST(MapJoystick, FaceButtonsInBothLayouts) {
  EXPECT_EQ(ButtonOf(1, false), GamepadButton::kY);
  EXPECT_EQ(ButtonOf(2, false), GamepadButton::kB);
  EXPECT_EQ(ButtonOf(3, false), GamepadButton::kA);
  EXPECT_EQ(ButtonOf(4, false), GamepadButton::kX);
  EXPECT_EQ(ButtonOf(1, true), GamepadButton::kX);
  EXPECT_EQ(ButtonOf(2, true), GamepadButton::kA);
  EXPECT_EQ(ButtonOf(3, true), GamepadButton::kB);
  EXPECT_EQ(ButtonOf(4, true), GamepadButton::kY);
  EXPECT_EQ(ButtonOf(1, false), 0x8000) << "button 1 is Y in the standard layout";
  EXPECT_EQ(ButtonOf(1, true), 0x4000) << "and X in the PlayStation one";
}

TEST(MapJoystick, OtherButtonsAreTheSameInBothLayouts) {
  for (const bool playstation : {false, true}) {
    EXPECT_EQ(ButtonOf(5, playstation), GamepadButton::kLeftShoulder);
    EXPECT_EQ(ButtonOf(6, playstation), GamepadButton::kRightShoulder);
    EXPECT_EQ(ButtonOf(9, playstation), 0) << "button 9 is not mapped";
    EXPECT_EQ(ButtonOf(10, playstation), GamepadButton::kStart);
    EXPECT_EQ(ButtonOf(11, playstation), GamepadButton::kLeftThumb);
    EXPECT_EQ(ButtonOf(12, playstation), GamepadButton::kRightThumb);
    for (int number = 13; number <= 32; ++number) {
      EXPECT_EQ(ButtonOf(number, playstation), 0) << "button " << number;
    }
  }
}

TEST(MapJoystick, Buttons7And8AreFullTriggers) {
  for (const bool playstation : {false, true}) {
    const GamepadState left = MapJoystick(Centred(1U << 6), FullRange(0), playstation);
    EXPECT_EQ(left.buttons, 0);
    EXPECT_EQ(left.lt, 255);
    EXPECT_EQ(left.rt, 0);
    const GamepadState right = MapJoystick(Centred(1U << 7), FullRange(0), playstation);
    EXPECT_EQ(right.buttons, 0);
    EXPECT_EQ(right.lt, 0);
    EXPECT_EQ(right.rt, 255);
  }
}

TEST(MapJoystick, EveryButtonAtOnce) {
  const GamepadState state = MapJoystick(Centred(0xFFFFFFFF), FullRange(0), false);
  EXPECT_EQ(state.buttons, GamepadButton::kA | GamepadButton::kB | GamepadButton::kX | GamepadButton::kY |
                               GamepadButton::kLeftShoulder | GamepadButton::kRightShoulder | GamepadButton::kStart |
                               GamepadButton::kLeftThumb | GamepadButton::kRightThumb);
  EXPECT_EQ(state.lt, 255);
  EXPECT_EQ(state.rt, 255);
}

TEST(MapJoystick, CentredAxesReadZero) {
  const GamepadState state = MapJoystick(Centred(), FullRange(kJoystickHasZ | kJoystickHasR), false);
  EXPECT_EQ(state, GamepadState{});
}

TEST(MapJoystick, AxesSpanTheFullRangeWithYUpPositive) {
  const JoystickCaps caps = FullRange(kJoystickHasZ | kJoystickHasR);
  JoystickPosition position = Centred();
  position.x = 0;
  position.z = 65535;
  GamepadState state = MapJoystick(position, caps, false);
  EXPECT_EQ(state.lx, -32767);
  EXPECT_EQ(state.rx, 32767);
  EXPECT_EQ(state.ly, 0);
  EXPECT_EQ(state.ry, 0);

  position = Centred();
  position.y = 0;  // WinMM's Y grows downwards: the top is up
  position.r = 65535;
  state = MapJoystick(position, caps, false);
  EXPECT_EQ(state.ly, 32767);
  EXPECT_EQ(state.ry, -32767);
  EXPECT_EQ(state.lx, 0);
  EXPECT_EQ(state.rx, 0);
}

TEST(MapJoystick, AxisValueIsRoundedThenFiltered) {
  JoystickCaps caps;
  caps.x_max = 1000;
  JoystickPosition position;
  position.x = 900;  // f = 0.9: lround(0.8 × 32767) = 26214, then rescaled past the dead zone
  EXPECT_EQ(MapJoystick(position, caps, false).lx, 24150);
  position.x = 600;  // f = 0.6: 6553, inside the dead zone
  EXPECT_EQ(MapJoystick(position, caps, false).lx, 0);
}

TEST(MapJoystick, PositionsOutsideTheRangeAreClamped) {
  JoystickCaps caps;
  caps.x_min = 100;
  caps.x_max = 200;
  caps.y_min = 100;
  caps.y_max = 200;
  JoystickPosition position;
  position.x = 5000;
  position.y = 150;
  EXPECT_EQ(MapJoystick(position, caps, false).lx, 32767);
  position.x = 50;
  EXPECT_EQ(MapJoystick(position, caps, false).lx, -32767);
}

TEST(MapJoystick, AnAxisWithoutARangeReadsZero) {
  struct Axis {
    const char* name;
    std::uint32_t JoystickCaps::*min;
    std::uint32_t JoystickCaps::*max;
    std::uint32_t JoystickPosition::*position;
  };
  const Axis axes[] = {
      {"X", &JoystickCaps::x_min, &JoystickCaps::x_max, &JoystickPosition::x},
      {"Y", &JoystickCaps::y_min, &JoystickCaps::y_max, &JoystickPosition::y},
      {"Z", &JoystickCaps::z_min, &JoystickCaps::z_max, &JoystickPosition::z},
      {"R", &JoystickCaps::r_min, &JoystickCaps::r_max, &JoystickPosition::r},
  };
  // Empty (min = max) and reversed (min > max); the reversed ones would wrap to a huge span.
  const std::pair<std::uint32_t, std::uint32_t> ranges[] = {{500, 500}, {600, 100}, {65535, 0}};
  for (const Axis& axis : axes) {
    for (const auto& [low, high] : ranges) {
      // The other axes are centred over their full ranges, so the whole state must be neutral.
      JoystickCaps caps = FullRange(kJoystickHasZ | kJoystickHasR);
      caps.*axis.min = low;
      caps.*axis.max = high;
      for (const std::uint32_t at : {std::uint32_t{0}, low, high, std::uint32_t{65535}}) {
        JoystickPosition position = Centred();
        position.*axis.position = at;
        EXPECT_EQ(MapJoystick(position, caps, false), GamepadState{})
            << axis.name << " over " << low << ".." << high << " at " << at;
      }
    }
  }
}

TEST(MapJoystick, ZAndROnlyWithTheirCapabilities) {
  JoystickPosition position = Centred();
  position.z = 65535;
  position.r = 0;
  GamepadState state = MapJoystick(position, FullRange(0), false);
  EXPECT_EQ(state.rx, 0);
  EXPECT_EQ(state.ry, 0);
  state = MapJoystick(position, FullRange(kJoystickHasZ), false);
  EXPECT_EQ(state.rx, 32767);
  EXPECT_EQ(state.ry, 0);
  state = MapJoystick(position, FullRange(kJoystickHasR), false);
  EXPECT_EQ(state.rx, 0);
  EXPECT_EQ(state.ry, 32767) << "the rudder at its minimum is up";
}

TEST(MapJoystick, SticksGetTheirDeadZones) {
  JoystickCaps caps = FullRange(kJoystickHasZ | kJoystickHasR);
  JoystickPosition position = Centred();
  // lround((2 × 36000 / 65535 − 1) × 32767) = 3232: inside both zones.
  position.x = 36000;
  position.z = 36000;
  GamepadState state = MapJoystick(position, caps, false);
  EXPECT_EQ(state.lx, 0);
  EXPECT_EQ(state.rx, 0);
  // 4 × 2048 + 32767 → 8192: outside the left zone, inside the right one.
  position.x = 32767 + 8192;
  position.z = 32767 + 8192;
  state = MapJoystick(position, caps, false);
  EXPECT_GT(state.lx, 0);
  EXPECT_EQ(state.rx, 0);
}

TEST(MapJoystick, PointOfViewDirectionsWithDiagonals) {
  using namespace GamepadButton;
  EXPECT_EQ(PovButtons(0), kDpadUp);
  EXPECT_EQ(PovButtons(4500), kDpadUp | kDpadRight) << "up-right";
  EXPECT_EQ(PovButtons(9000), kDpadRight);
  EXPECT_EQ(PovButtons(13500), kDpadRight | kDpadDown);
  EXPECT_EQ(PovButtons(18000), kDpadDown);
  EXPECT_EQ(PovButtons(22500), kDpadDown | kDpadLeft);
  EXPECT_EQ(PovButtons(27000), kDpadLeft);
  EXPECT_EQ(PovButtons(31500), kDpadLeft | kDpadUp);
  EXPECT_EQ(PovButtons(35999), kDpadUp);
}

TEST(MapJoystick, PointOfViewSectorBoundaries) {
  using namespace GamepadButton;
  EXPECT_EQ(PovButtons(2249), kDpadUp);
  EXPECT_EQ(PovButtons(2250), kDpadUp | kDpadRight);
  EXPECT_EQ(PovButtons(6750), kDpadUp | kDpadRight);
  EXPECT_EQ(PovButtons(6751), kDpadRight);
  EXPECT_EQ(PovButtons(11249), kDpadRight);
  EXPECT_EQ(PovButtons(11250), kDpadRight | kDpadDown);
  EXPECT_EQ(PovButtons(15750), kDpadRight | kDpadDown);
  EXPECT_EQ(PovButtons(15751), kDpadDown);
  EXPECT_EQ(PovButtons(20250), kDpadDown | kDpadLeft);
  EXPECT_EQ(PovButtons(24750), kDpadDown | kDpadLeft);
  EXPECT_EQ(PovButtons(24751), kDpadLeft);
  EXPECT_EQ(PovButtons(29249), kDpadLeft);
  EXPECT_EQ(PovButtons(29250), kDpadLeft | kDpadUp);
  EXPECT_EQ(PovButtons(33750), kDpadLeft | kDpadUp);
  EXPECT_EQ(PovButtons(33751), kDpadUp);
}

TEST(MapJoystick, PointOfViewWrapsAtAFullTurn) {
  EXPECT_EQ(PovButtons(36000), GamepadButton::kDpadUp);
  EXPECT_EQ(PovButtons(36000 + 9000), GamepadButton::kDpadRight);
}

TEST(MapJoystick, CentredPointOfViewSetsNoDirection) {
  EXPECT_EQ(PovButtons(0xFFFF), 0);
  EXPECT_EQ(PovButtons(0xFFFFFFFF), 0) << "only the low 16 bits tell centred";
  EXPECT_EQ(PovButtons(0x1FFFF), 0);
}

TEST(MapJoystick, PointOfViewOnlyWithItsCapability) {
  JoystickPosition position = Centred();
  position.pov = 0;  // up, were there a point of view
  EXPECT_EQ(MapJoystick(position, FullRange(kJoystickHasZ | kJoystickHasR), false).buttons, 0);
}

// The device map of a result's `index`th device.
const EncodableMap& DeviceAt(const EncodableValue& result, std::size_t index) {
  const auto& map = std::get<EncodableMap>(result);
  const auto& devices = std::get<EncodableList>(map.at(EncodableValue("devices")));
  return std::get<EncodableMap>(devices.at(index));
}

std::int32_t IntAt(const EncodableMap& map, const char* key) {
  return std::get<std::int32_t>(map.at(EncodableValue(key)));
}

GamepadDevice SampleDevice() {
  GamepadState state;
  state.buttons = GamepadButton::kA | GamepadButton::kDpadLeft;
  state.lt = 40;
  state.rt = 255;
  state.lx = -32767;
  state.ly = 1200;
  state.rx = 32767;
  state.ry = -5;
  return GamepadDevice{"xinput:1", "Xbox / XInput 2", state};
}

TEST(ReadGamepadsResult, ForegroundReportsEveryValueAsInt32) {
  const EncodableValue result = ReadGamepadsResult(true, {SampleDevice(), {"usb:3", "Pad é", GamepadState{}}});
  const auto& map = std::get<EncodableMap>(result);
  EXPECT_EQ(map.size(), 2U);
  EXPECT_EQ(map.at(EncodableValue("foreground")), EncodableValue(true));
  ASSERT_EQ(std::get<EncodableList>(map.at(EncodableValue("devices"))).size(), 2U);

  const EncodableMap& first = DeviceAt(result, 0);
  EXPECT_EQ(first.size(), 9U);
  EXPECT_EQ(first.at(EncodableValue("id")), EncodableValue(std::string("xinput:1")));
  EXPECT_EQ(first.at(EncodableValue("name")), EncodableValue(std::string("Xbox / XInput 2")));
  EXPECT_EQ(IntAt(first, "buttons"), 0x1004);
  EXPECT_EQ(IntAt(first, "lt"), 40);
  EXPECT_EQ(IntAt(first, "rt"), 255);
  EXPECT_EQ(IntAt(first, "lx"), -32767);
  EXPECT_EQ(IntAt(first, "ly"), 1200);
  EXPECT_EQ(IntAt(first, "rx"), 32767);
  EXPECT_EQ(IntAt(first, "ry"), -5);

  const EncodableMap& second = DeviceAt(result, 1);
  EXPECT_EQ(second.at(EncodableValue("id")), EncodableValue(std::string("usb:3")));
  EXPECT_EQ(second.at(EncodableValue("name")), EncodableValue(std::string("Pad é")));
  for (const char* key : {"buttons", "lt", "rt", "lx", "ly", "rx", "ry"}) {
    EXPECT_EQ(IntAt(second, key), 0) << key;
  }
}

TEST(ReadGamepadsResult, BackgroundListsThePadsWithZeroValues) {
  GamepadDevice full = SampleDevice();
  full.state.buttons = 0xF3DF;
  const EncodableValue result = ReadGamepadsResult(false, {full});
  const auto& map = std::get<EncodableMap>(result);
  EXPECT_EQ(map.at(EncodableValue("foreground")), EncodableValue(false));
  const EncodableMap& device = DeviceAt(result, 0);
  EXPECT_EQ(device.size(), 9U);
  EXPECT_EQ(device.at(EncodableValue("id")), EncodableValue(std::string("xinput:1")));
  EXPECT_EQ(device.at(EncodableValue("name")), EncodableValue(std::string("Xbox / XInput 2")));
  for (const char* key : {"buttons", "lt", "rt", "lx", "ly", "rx", "ry"}) {
    EXPECT_TRUE(std::holds_alternative<std::int32_t>(device.at(EncodableValue(key)))) << key;
    EXPECT_EQ(IntAt(device, key), 0) << key;
  }
}

TEST(ReadGamepadsResult, NoPadsIsAnEmptyList) {
  for (const bool foreground : {true, false}) {
    const EncodableValue result = ReadGamepadsResult(foreground, {});
    const auto& map = std::get<EncodableMap>(result);
    EXPECT_EQ(map.at(EncodableValue("foreground")), EncodableValue(foreground));
    EXPECT_TRUE(std::get<EncodableList>(map.at(EncodableValue("devices"))).empty());
  }
}

}  // namespace
}  // namespace corvane::client
