#include "gamepad/gamepad_reader.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/unicode.h"

namespace corvane::client {
namespace {

constexpr DWORD kXInputSlots = 4;   // XUSER_MAX_COUNT
constexpr UINT kMaxJoysticks = 16;  // the WinMM ids looked at
constexpr std::uint64_t kScanIntervalMs = 2000;
// A scan checks that the joystick answers; a poll also wants the point of view in hundredths of a degree.
constexpr DWORD kScanFlags = JOY_RETURNALL;
constexpr DWORD kPollFlags = JOY_RETURNALL | JOY_RETURNPOVCTS;
static_assert(kPollFlags == 0x2FF);

class SystemApi final : public GamepadApi {
 public:
  DWORD XInputGetState(DWORD user_index, XINPUT_STATE* state) override { return ::XInputGetState(user_index, state); }
  UINT joyGetNumDevs() override { return ::joyGetNumDevs(); }
  MMRESULT joyGetDevCapsW(UINT_PTR joystick_id, JOYCAPSW* caps, UINT caps_size) override {
    return ::joyGetDevCapsW(joystick_id, caps, caps_size);
  }
  MMRESULT joyGetPosEx(UINT joystick_id, JOYINFOEX* info) override { return ::joyGetPosEx(joystick_id, info); }
};

JoystickCaps PortableCaps(const JOYCAPSW& caps) {
  JoystickCaps portable;
  portable.x_min = caps.wXmin;
  portable.x_max = caps.wXmax;
  portable.y_min = caps.wYmin;
  portable.y_max = caps.wYmax;
  portable.z_min = caps.wZmin;
  portable.z_max = caps.wZmax;
  portable.r_min = caps.wRmin;
  portable.r_max = caps.wRmax;
  portable.caps = caps.wCaps;
  return portable;
}

JoystickPosition PortablePosition(const JOYINFOEX& info) {
  JoystickPosition position;
  position.x = info.dwXpos;
  position.y = info.dwYpos;
  position.z = info.dwZpos;
  position.r = info.dwRpos;
  position.buttons = info.dwButtons;
  position.pov = info.dwPOV;
  return position;
}

// The product name as UTF-8 (the field need not end in a NUL), or "USB gamepad" when it is empty
// or not valid UTF-16.
std::string JoystickName(const JOYCAPSW& caps) {
  const auto* end = std::find(std::begin(caps.szPname), std::end(caps.szPname), L'\0');
  const std::wstring product(std::begin(caps.szPname), end);
  std::string name = Utf8FromUtf16(std::wstring_view(product));
  return name.empty() ? std::string("USB gamepad") : name;
}

// A JOYINFOEX asking for `flags`.
JOYINFOEX PositionRequest(DWORD flags) {
  JOYINFOEX info{};
  info.dwSize = sizeof info;
  info.dwFlags = flags;
  return info;
}

}  // namespace

std::unique_ptr<GamepadApi> SystemGamepadApi() { return std::make_unique<SystemApi>(); }

GamepadReader::GamepadReader(std::unique_ptr<GamepadApi> api, std::function<std::uint64_t()> now_ms)
    : api_(std::move(api)), now_ms_(std::move(now_ms)) {}

void GamepadReader::Scan() {
  xinput_slots_.clear();
  joysticks_.clear();
  for (DWORD slot = 0; slot < kXInputSlots; ++slot) {
    XINPUT_STATE state{};
    if (api_->XInputGetState(slot, &state) == ERROR_SUCCESS) {
      xinput_slots_.push_back(slot);
    }
  }
  if (!xinput_slots_.empty()) {
    return;  // a WinMM pad is never reported beside an XInput pad (it may well be the same pad)
  }
  const UINT count = std::min(api_->joyGetNumDevs(), kMaxJoysticks);
  for (UINT id = 0; id < count; ++id) {
    JOYCAPSW caps{};
    if (api_->joyGetDevCapsW(id, &caps, sizeof caps) != JOYERR_NOERROR) {
      continue;
    }
    JOYINFOEX info = PositionRequest(kScanFlags);
    if (api_->joyGetPosEx(id, &info) != JOYERR_NOERROR) {
      continue;
    }
    joysticks_.push_back(Joystick{id, PortableCaps(caps), JoystickName(caps)});
  }
}

std::vector<GamepadDevice> GamepadReader::Poll(bool playstation_layout) {
  const std::uint64_t now = now_ms_();
  if (now >= next_scan_ms_) {
    Scan();
    next_scan_ms_ = now + kScanIntervalMs;
  }
  std::vector<GamepadDevice> devices;
  for (const DWORD slot : xinput_slots_) {
    XINPUT_STATE state{};
    if (api_->XInputGetState(slot, &state) != ERROR_SUCCESS) {
      continue;  // disconnected since the scan: dropped at the next one
    }
    GamepadState raw;
    raw.buttons = state.Gamepad.wButtons;
    raw.lt = state.Gamepad.bLeftTrigger;
    raw.rt = state.Gamepad.bRightTrigger;
    raw.lx = state.Gamepad.sThumbLX;
    raw.ly = state.Gamepad.sThumbLY;
    raw.rx = state.Gamepad.sThumbRX;
    raw.ry = state.Gamepad.sThumbRY;
    devices.push_back(GamepadDevice{"xinput:" + std::to_string(slot), "Xbox / XInput " + std::to_string(slot + 1),
                                    FilterXInputReading(raw)});
  }
  for (const Joystick& joystick : joysticks_) {
    JOYINFOEX info = PositionRequest(kPollFlags);
    if (api_->joyGetPosEx(joystick.id, &info) != JOYERR_NOERROR) {
      continue;
    }
    devices.push_back(GamepadDevice{"usb:" + std::to_string(joystick.id), joystick.name,
                                    MapJoystick(PortablePosition(info), joystick.caps, playstation_layout)});
  }
  return devices;
}

}  // namespace corvane::client
