#pragma once
// Scripted pads behind the gamepad reader's seam, for tests: XInput slots hold a reading or nothing,
// WinMM joysticks answer with their scripted results, and every request is recorded.

#include <windows.h>
// After windows.h: the joystick functions and XInput.
#include <mmsystem.h>
#include <xinput.h>

#include <gtest/gtest.h>

#include <array>
#include <cwchar>
#include <iterator>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "gamepad/gamepad_reader.h"

namespace corvane::client::testing {

// One request of joyGetPosEx as the fake saw it.
struct PositionRequest {
  UINT id = 0;
  DWORD size = 0;
  DWORD flags = 0;
};

// Scripted pads: XInput slots hold a reading or nothing (not connected); WinMM joysticks answer with
// their scripted results. Records what the reader asks.
class FakeGamepadApi final : public GamepadApi {
 public:
  struct Joystick {
    MMRESULT caps_result = JOYERR_NOERROR;
    MMRESULT position_result = JOYERR_NOERROR;
    JOYCAPSW caps{};
    JOYINFOEX position{};
  };

  DWORD XInputGetState(DWORD user_index, XINPUT_STATE* state) override {
    ++xinput_calls;
    if (user_index >= pads.size()) {
      ADD_FAILURE() << "XInput slot " << user_index;
      return ERROR_BAD_ARGUMENTS;
    }
    if (!pads[user_index]) {
      return ERROR_DEVICE_NOT_CONNECTED;
    }
    state->dwPacketNumber = ++packet;
    state->Gamepad = *pads[user_index];
    return ERROR_SUCCESS;
  }

  UINT joyGetNumDevs() override {
    ++count_calls;
    return joystick_count;
  }

  MMRESULT joyGetDevCapsW(UINT_PTR joystick_id, JOYCAPSW* caps, UINT caps_size) override {
    caps_requests.emplace_back(static_cast<UINT>(joystick_id), caps_size);
    const auto found = joysticks.find(static_cast<UINT>(joystick_id));
    if (found == joysticks.end()) {
      return JOYERR_UNPLUGGED;
    }
    if (found->second.caps_result == JOYERR_NOERROR) {
      *caps = found->second.caps;
    }
    return found->second.caps_result;
  }

  MMRESULT joyGetPosEx(UINT joystick_id, JOYINFOEX* info) override {
    position_requests.push_back(PositionRequest{joystick_id, info->dwSize, info->dwFlags});
    const auto found = joysticks.find(joystick_id);
    if (found == joysticks.end()) {
      return JOYERR_UNPLUGGED;
    }
    if (found->second.position_result == JOYERR_NOERROR) {
      const DWORD size = info->dwSize;
      const DWORD flags = info->dwFlags;
      *info = found->second.position;
      info->dwSize = size;
      info->dwFlags = flags;
    }
    return found->second.position_result;
  }

  // A joystick with full 0..65535 axes, centred, named `name`.
  Joystick& AddJoystick(UINT id, const wchar_t* name = L"Generic pad", UINT caps_bits = 0) {
    Joystick& joystick = joysticks[id];
    wcsncpy(joystick.caps.szPname, name, std::size(joystick.caps.szPname));
    joystick.caps.wXmax = 65535;
    joystick.caps.wYmax = 65535;
    joystick.caps.wZmax = 65535;
    joystick.caps.wRmax = 65535;
    joystick.caps.wCaps = caps_bits;
    joystick.position.dwXpos = 32767;
    joystick.position.dwYpos = 32767;
    joystick.position.dwZpos = 32767;
    joystick.position.dwRpos = 32767;
    joystick.position.dwPOV = 0xFFFF;
    return joystick;
  }

  std::array<std::optional<XINPUT_GAMEPAD>, 4> pads;
  UINT joystick_count = 0;
  std::map<UINT, Joystick> joysticks;

  int xinput_calls = 0;
  int count_calls = 0;
  DWORD packet = 0;
  std::vector<std::pair<UINT, UINT>> caps_requests;  // id, size
  std::vector<PositionRequest> position_requests;
};

}  // namespace corvane::client::testing
