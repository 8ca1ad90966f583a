#pragma once
// The physical gamepads: Xbox-compatible pads through XInput and, only while none is connected,
// generic USB pads through the WinMM joystick interface, found by a scan at most every 2 s and read
// on every poll (Windows).

#include <windows.h>
// After windows.h: the joystick functions (mmsystem.h brings joystickapi.h where the SDK has it).
#include <mmsystem.h>
#include <xinput.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gamepad/gamepad_mapping.h"

namespace corvane::client {

// The four Win32 calls the reader makes, with their arguments and results unchanged; the real one
// calls XInput and WinMM, tests script pads.
class GamepadApi {
 public:
  virtual ~GamepadApi() = default;

  virtual DWORD XInputGetState(DWORD user_index, XINPUT_STATE* state) = 0;
  virtual UINT joyGetNumDevs() = 0;
  virtual MMRESULT joyGetDevCapsW(UINT_PTR joystick_id, JOYCAPSW* caps, UINT caps_size) = 0;
  virtual MMRESULT joyGetPosEx(UINT joystick_id, JOYINFOEX* info) = 0;
};

// The system's XInput and WinMM.
std::unique_ptr<GamepadApi> SystemGamepadApi();

// The pads of the machine. Owned by DesktopServices; used on the UI thread only.
class GamepadReader {
 public:
  // Reads through `api`; `now_ms` is a monotonic clock in milliseconds (GetTickCount64 in production).
  GamepadReader(std::unique_ptr<GamepadApi> api, std::function<std::uint64_t()> now_ms);

  // The pads connected now, XInput pads by slot, else WinMM pads by joystick id, each as its
  // filtered or mapped state (`playstation_layout` picks the face buttons of WinMM pads). Scans
  // first when the last scan is 2 s old or more (the first poll always scans); a pad whose read
  // fails is left out. Whether the values may be shown (the foreground rule) is the caller's.
  std::vector<GamepadDevice> Poll(bool playstation_layout);

 private:
  // A WinMM joystick kept by the last scan.
  struct Joystick {
    UINT id = 0;
    JoystickCaps caps;
    std::string name;
  };

  // Finds the connected XInput slots and, when there is none, the readable WinMM joysticks.
  void Scan();

  std::unique_ptr<GamepadApi> api_;
  std::function<std::uint64_t()> now_ms_;
  std::vector<DWORD> xinput_slots_;
  std::vector<Joystick> joysticks_;
  std::uint64_t next_scan_ms_ = 0;
};

}  // namespace corvane::client
