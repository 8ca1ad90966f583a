// The gamepad reader against scripted pads and a driven clock (scan interval, XInput before WinMM,
// the exact WinMM requests, names, pads failing their reads), and against Wine's real XInput and
// WinMM, which have no pads.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fake_gamepad_api.h"
#include "gamepad/gamepad_reader.h"

namespace corvane::client {
namespace {

using testing::FakeGamepadApi;
using testing::PositionRequest;

XINPUT_GAMEPAD Pad(WORD buttons = 0) {
  XINPUT_GAMEPAD pad{};
  pad.wButtons = buttons;
  return pad;
}

std::vector<std::string> Ids(const std::vector<GamepadDevice>& devices) {
  std::vector<std::string> ids;
  for (const GamepadDevice& device : devices) {
    ids.push_back(device.id);
  }
  return ids;
}

using IdList = std::vector<std::string>;

class GamepadReaderTest : public ::testing::Test {
 protected:
  GamepadReaderTest() {
    auto fake = std::make_unique<FakeGamepadApi>();
    api_ = fake.get();
    reader_ = std::make_unique<GamepadReader>(std::move(fake), [this] { return now_; });
  }

  std::vector<GamepadDevice> PollAt(std::uint64_t now, bool playstation_layout = false) {
    now_ = now;
    return reader_->Poll(playstation_layout);
  }

  FakeGamepadApi* api_ = nullptr;
  std::uint64_t now_ = 0;
  std::unique_ptr<GamepadReader> reader_;
};

TEST_F(GamepadReaderTest, NoPadsIsAnEmptyList) {
  api_->joystick_count = 16;
  EXPECT_TRUE(PollAt(0).empty());
  EXPECT_TRUE(PollAt(5000).empty());
}

TEST_F(GamepadReaderTest, AnXInputPadInSlot1Only) {
  XINPUT_GAMEPAD pad = Pad(XINPUT_GAMEPAD_A | XINPUT_GAMEPAD_BACK);
  pad.sThumbLX = 5000;
  pad.sThumbLY = 5000;  // magnitude 7071: inside the dead zone
  pad.sThumbRX = -32768;
  pad.bLeftTrigger = 30;
  pad.bRightTrigger = 31;
  api_->pads[1] = pad;
  const std::vector<GamepadDevice> devices = PollAt(0);
  ASSERT_EQ(devices.size(), 1U);
  EXPECT_EQ(devices[0].id, "xinput:1");
  EXPECT_EQ(devices[0].name, "Xbox / XInput 2");
  GamepadState expected;
  expected.buttons = GamepadButton::kA;  // back is never reported
  expected.rx = -32767;
  expected.rt = 31;
  EXPECT_EQ(devices[0].state, expected);
}

TEST_F(GamepadReaderTest, EveryXInputFieldReachesItsPlace) {
  XINPUT_GAMEPAD pad = Pad(XINPUT_GAMEPAD_DPAD_DOWN | XINPUT_GAMEPAD_RIGHT_SHOULDER | XINPUT_GAMEPAD_Y);
  pad.bLeftTrigger = 100;
  pad.bRightTrigger = 200;
  pad.sThumbLX = 32767;
  pad.sThumbLY = 0;
  pad.sThumbRX = 0;
  pad.sThumbRY = -32768;
  api_->pads[0] = pad;
  const std::vector<GamepadDevice> devices = PollAt(0);
  ASSERT_EQ(devices.size(), 1U);
  GamepadState expected;
  expected.buttons = GamepadButton::kDpadDown | GamepadButton::kRightShoulder | GamepadButton::kY;
  expected.lt = 100;
  expected.rt = 200;
  expected.lx = 32767;
  expected.ry = -32767;
  EXPECT_EQ(devices[0].state, expected);
}

TEST_F(GamepadReaderTest, XInputPadsBySlotOrder) {
  for (std::size_t slot = 0; slot < 4; ++slot) {
    api_->pads[slot] = Pad();
  }
  const std::vector<GamepadDevice> devices = PollAt(0);
  EXPECT_EQ(Ids(devices), (IdList{"xinput:0", "xinput:1", "xinput:2", "xinput:3"}));
  ASSERT_EQ(devices.size(), 4U);
  EXPECT_EQ(devices[0].name, "Xbox / XInput 1");
  EXPECT_EQ(devices[3].name, "Xbox / XInput 4");
}

TEST_F(GamepadReaderTest, APadPluggedInIsSeenWithinTwoSeconds) {
  EXPECT_TRUE(PollAt(0).empty());
  api_->pads[0] = Pad();
  const int calls_after_scan = api_->xinput_calls;
  EXPECT_TRUE(PollAt(1).empty());
  EXPECT_TRUE(PollAt(1999).empty()) << "no scan before 2 s";
  EXPECT_EQ(api_->xinput_calls, calls_after_scan) << "between scans only known pads are read";
  EXPECT_EQ(Ids(PollAt(2000)), IdList{"xinput:0"});
  EXPECT_EQ(api_->xinput_calls, calls_after_scan + 4 + 1) << "a scan probes four slots, then the pad is read";
}

TEST_F(GamepadReaderTest, TheNextScanIsTwoSecondsAfterTheLastOne) {
  EXPECT_TRUE(PollAt(700).empty());  // first poll scans whatever the clock says
  api_->pads[2] = Pad();
  EXPECT_TRUE(PollAt(2699).empty());
  EXPECT_EQ(Ids(PollAt(2700)), IdList{"xinput:2"});
  api_->pads[3] = Pad();
  EXPECT_EQ(Ids(PollAt(4699)), IdList{"xinput:2"});
  EXPECT_EQ(Ids(PollAt(10000)), (IdList{"xinput:2", "xinput:3"})) << "a late poll scans at once";
}

TEST_F(GamepadReaderTest, APadFailingItsReadBetweenScansIsSkipped) {
  api_->pads[0] = Pad(XINPUT_GAMEPAD_B);
  api_->pads[2] = Pad(XINPUT_GAMEPAD_X);
  EXPECT_EQ(Ids(PollAt(0)), (IdList{"xinput:0", "xinput:2"}));
  const XINPUT_GAMEPAD saved = *api_->pads[0];
  api_->pads[0].reset();
  const std::vector<GamepadDevice> devices = PollAt(500);
  EXPECT_EQ(Ids(devices), IdList{"xinput:2"});
  ASSERT_EQ(devices.size(), 1U);
  EXPECT_EQ(devices[0].state.buttons, GamepadButton::kX);
  api_->pads[0] = saved;
  EXPECT_EQ(Ids(PollAt(1000)), (IdList{"xinput:0", "xinput:2"})) << "still known until the next scan";
  api_->pads[0].reset();
  EXPECT_EQ(Ids(PollAt(2000)), IdList{"xinput:2"});
  api_->pads[0] = saved;
  EXPECT_EQ(Ids(PollAt(2500)), IdList{"xinput:2"}) << "dropped by the scan: not read again before the next one";
  EXPECT_EQ(Ids(PollAt(4000)), (IdList{"xinput:0", "xinput:2"}));
}

TEST_F(GamepadReaderTest, WinMmIsIgnoredWhileAnXInputPadIsConnected) {
  api_->pads[3] = Pad();
  api_->joystick_count = 16;
  api_->AddJoystick(0);
  EXPECT_EQ(Ids(PollAt(0)), IdList{"xinput:3"});
  EXPECT_EQ(api_->count_calls, 0) << "WinMM is not even asked";
  EXPECT_TRUE(api_->caps_requests.empty());
  EXPECT_TRUE(api_->position_requests.empty());

  api_->pads[3].reset();
  EXPECT_TRUE(PollAt(1000).empty());
  EXPECT_EQ(Ids(PollAt(2000)), IdList{"usb:0"}) << "the scan finds no XInput pad, so WinMM is read";
  api_->pads[3] = Pad();
  EXPECT_EQ(Ids(PollAt(3999)), IdList{"usb:0"});
  EXPECT_EQ(Ids(PollAt(4000)), IdList{"xinput:3"}) << "back to XInput alone at the next scan";
}

TEST_F(GamepadReaderTest, WinMmRequestsHaveTheExactSizesAndFlags) {
  api_->joystick_count = 1;
  api_->AddJoystick(0);
  ASSERT_EQ(Ids(PollAt(0)), IdList{"usb:0"});
  ASSERT_EQ(api_->caps_requests.size(), 1U);
  EXPECT_EQ(api_->caps_requests[0], std::make_pair(UINT{0}, static_cast<UINT>(sizeof(JOYCAPSW))));
  ASSERT_EQ(api_->position_requests.size(), 2U);
  EXPECT_EQ(api_->position_requests[0].size, sizeof(JOYINFOEX));
  EXPECT_EQ(api_->position_requests[0].flags, static_cast<DWORD>(JOY_RETURNALL)) << "the scan";
  EXPECT_EQ(api_->position_requests[0].flags, 0xFFU);
  EXPECT_EQ(api_->position_requests[1].size, sizeof(JOYINFOEX));
  EXPECT_EQ(api_->position_requests[1].flags, 0x2FFU) << "the poll: everything and the continuous point of view";

  api_->position_requests.clear();
  EXPECT_EQ(Ids(PollAt(100)), IdList{"usb:0"});
  ASSERT_EQ(api_->position_requests.size(), 1U) << "between scans one read per known pad";
  EXPECT_EQ(api_->position_requests[0].flags, 0x2FFU);
  EXPECT_EQ(api_->caps_requests.size(), 1U);
}

TEST_F(GamepadReaderTest, AtMostSixteenJoysticksAreLookedAt) {
  api_->joystick_count = 40;
  api_->AddJoystick(15);
  api_->AddJoystick(16);
  EXPECT_EQ(Ids(PollAt(0)), IdList{"usb:15"});
  ASSERT_EQ(api_->caps_requests.size(), 16U);
  for (UINT id = 0; id < 16; ++id) {
    EXPECT_EQ(api_->caps_requests[id].first, id);
  }
}

TEST_F(GamepadReaderTest, OnlyTheIdsJoyGetNumDevsCountsAreLookedAt) {
  api_->joystick_count = 3;
  api_->AddJoystick(1);
  api_->AddJoystick(3);
  EXPECT_EQ(Ids(PollAt(0)), IdList{"usb:1"});
  EXPECT_EQ(api_->caps_requests.size(), 3U);
}

TEST_F(GamepadReaderTest, JoysticksFailingTheScanAreNotKept) {
  api_->joystick_count = 16;
  api_->AddJoystick(0).caps_result = JOYERR_PARMS;
  api_->AddJoystick(1).position_result = JOYERR_UNPLUGGED;
  api_->AddJoystick(2);
  api_->AddJoystick(12);
  EXPECT_EQ(Ids(PollAt(0)), (IdList{"usb:2", "usb:12"})) << "by joystick id";
  api_->joysticks[1].position_result = JOYERR_NOERROR;
  EXPECT_EQ(Ids(PollAt(1999)), (IdList{"usb:2", "usb:12"}));
  EXPECT_EQ(Ids(PollAt(2000)), (IdList{"usb:1", "usb:2", "usb:12"}));
}

TEST_F(GamepadReaderTest, AJoystickFailingItsReadBetweenScansIsSkipped) {
  api_->joystick_count = 16;
  api_->AddJoystick(4);
  api_->AddJoystick(5);
  EXPECT_EQ(Ids(PollAt(0)), (IdList{"usb:4", "usb:5"}));
  api_->joysticks[4].position_result = JOYERR_UNPLUGGED;
  EXPECT_EQ(Ids(PollAt(100)), IdList{"usb:5"});
  api_->joysticks[4].position_result = JOYERR_NOERROR;
  EXPECT_EQ(Ids(PollAt(200)), (IdList{"usb:4", "usb:5"}));
}

TEST_F(GamepadReaderTest, JoystickNames) {
  api_->joystick_count = 16;
  api_->AddJoystick(0, L"Manette \u00e9l\u00e9gante \u2014 \U0001F3AE");
  api_->AddJoystick(1, L"");
  // A name filling the whole field, with no terminating NUL.
  const std::wstring full(std::size(JOYCAPSW{}.szPname), L'P');
  FakeGamepadApi::Joystick& unterminated = api_->AddJoystick(2);
  std::copy(full.begin(), full.end(), unterminated.caps.szPname);
  const std::vector<GamepadDevice> devices = PollAt(0);
  ASSERT_EQ(devices.size(), 3U);
  EXPECT_EQ(devices[0].name, "Manette \xC3\xA9l\xC3\xA9gante \xE2\x80\x94 \xF0\x9F\x8E\xAE");
  EXPECT_EQ(devices[1].name, "USB gamepad");
  EXPECT_EQ(devices[2].name, std::string(std::size(JOYCAPSW{}.szPname), 'P'));
}

TEST_F(GamepadReaderTest, JoystickButtonsFollowTheLayout) {
  api_->joystick_count = 1;
  api_->AddJoystick(0).position.dwButtons = 0x1;  // button 1
  std::vector<GamepadDevice> devices = PollAt(0, false);
  ASSERT_EQ(devices.size(), 1U);
  EXPECT_EQ(devices[0].state.buttons, 0x8000);
  devices = PollAt(1, true);
  ASSERT_EQ(devices.size(), 1U);
  EXPECT_EQ(devices[0].state.buttons, 0x4000);
}

TEST_F(GamepadReaderTest, JoystickPositionIsMapped) {
  api_->joystick_count = 1;
  FakeGamepadApi::Joystick& joystick = api_->AddJoystick(0, L"Pad", JOYCAPS_HASZ | JOYCAPS_HASR | JOYCAPS_HASPOV);
  joystick.position.dwXpos = 0;                // full left
  joystick.position.dwYpos = 0;                // full up
  joystick.position.dwZpos = 65535;            // right stick full right
  joystick.position.dwPOV = 4500;              // up-right
  joystick.position.dwButtons = 0x80 | 0x200;  // button 8 (right trigger) and 10 (start)
  const std::vector<GamepadDevice> devices = PollAt(0);
  ASSERT_EQ(devices.size(), 1U);
  GamepadState expected;
  expected.buttons = GamepadButton::kDpadUp | GamepadButton::kDpadRight | GamepadButton::kStart;
  expected.rt = 255;
  expected.lx = -23170;  // (−32767, 32767) keeps its direction at full magnitude
  expected.ly = 23170;
  expected.rx = 32767;
  EXPECT_EQ(devices[0].state, expected);
}

TEST_F(GamepadReaderTest, CentredPointOfViewAndMissingCapabilities) {
  api_->joystick_count = 2;
  FakeGamepadApi::Joystick& centred = api_->AddJoystick(0, L"Pad", JOYCAPS_HASPOV);
  centred.position.dwPOV = JOY_POVCENTERED;
  FakeGamepadApi::Joystick& bare = api_->AddJoystick(1);  // no Z, R or point of view
  bare.position.dwZpos = 65535;
  bare.position.dwRpos = 0;
  bare.position.dwPOV = 0;
  const std::vector<GamepadDevice> devices = PollAt(0);
  ASSERT_EQ(devices.size(), 2U);
  EXPECT_EQ(devices[0].state, GamepadState{});
  EXPECT_EQ(devices[1].state, GamepadState{});
}

// Wine's real XInput and WinMM: no pads, whatever the calls answer.
TEST(SystemGamepadApi, WrapsTheSystemCalls) {
  const std::unique_ptr<GamepadApi> api = SystemGamepadApi();
  for (DWORD slot = 0; slot < 4; ++slot) {
    XINPUT_STATE wrapped{};
    XINPUT_STATE direct{};
    EXPECT_EQ(api->XInputGetState(slot, &wrapped), ::XInputGetState(slot, &direct)) << slot;
  }
  EXPECT_EQ(api->joyGetNumDevs(), ::joyGetNumDevs());
  JOYCAPSW wrapped_caps{};
  JOYCAPSW direct_caps{};
  EXPECT_EQ(api->joyGetDevCapsW(0, &wrapped_caps, sizeof wrapped_caps),
            ::joyGetDevCapsW(0, &direct_caps, sizeof direct_caps));
  JOYINFOEX wrapped_info{};
  wrapped_info.dwSize = sizeof wrapped_info;
  wrapped_info.dwFlags = JOY_RETURNALL;
  JOYINFOEX direct_info = wrapped_info;
  EXPECT_EQ(api->joyGetPosEx(0, &wrapped_info), ::joyGetPosEx(0, &direct_info));
}

TEST(SystemGamepadApi, WineHasNoXInputPads) {
  const std::unique_ptr<GamepadApi> api = SystemGamepadApi();
  for (DWORD slot = 0; slot < 4; ++slot) {
    XINPUT_STATE state{};
    EXPECT_EQ(api->XInputGetState(slot, &state), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << slot;
  }
}

TEST(SystemGamepadApi, ThePollFindsNoPads) {
  GamepadReader reader(SystemGamepadApi(), [] { return static_cast<std::uint64_t>(GetTickCount64()); });
  EXPECT_TRUE(reader.Poll(false).empty());
  EXPECT_TRUE(reader.Poll(true).empty());
}

}  // namespace
}  // namespace corvane::client
