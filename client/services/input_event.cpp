#include "services/input_event.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "base/unicode.h"

namespace corvane::client {

namespace {

constexpr double kMaxMoveStep = 2000.0;
constexpr double kMaxWheelDelta = 1200.0;
constexpr std::size_t kMaxTextBytes = 1024;
constexpr std::size_t kMaxTextUnits = 256;

InputRecord MouseRecord(std::uint32_t flags) {
  InputRecord record;
  record.type = InputRecord::Type::kMouse;
  record.flags = flags;
  return record;
}

InputRecord KeyRecord(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags) {
  InputRecord record;
  record.type = InputRecord::Type::kKeyboard;
  record.vk = vk;
  record.scan = scan;
  record.flags = flags;
  return record;
}

// The record of a virtual key going down or up: keyed by the virtual key, as programs reading virtual
// keys expect, and carrying the scan code and extended flag that programs reading scan codes (raw
// input, games) need to see a key at all.
InputRecord VirtualKeyRecord(std::uint16_t vk, bool down, InputDesktop& desktop) {
  const auto scan = static_cast<std::uint16_t>(desktop.ScanCode(vk) & 0xFFu);
  const std::uint32_t flags = (down ? 0 : InputFlag::kKeyUp) | (IsExtendedKey(vk) ? InputFlag::kKeyExtended : 0);
  return KeyRecord(vk, scan, flags);
}

// The modifiers a chord is made of: the remote may release them only when it pressed them itself.
bool IsModifierKey(std::uint16_t code) {
  return code == 0x10 || code == 0x11 || code == 0x12 || code == 0x5B || code == 0x5C;
}

// A double truncated toward zero and held inside int32, so that a far-off value cannot overflow.
std::int32_t TruncateToInt32(double value) {
  constexpr double kLowest = std::numeric_limits<std::int32_t>::lowest();
  constexpr double kHighest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::trunc(std::clamp(value, kLowest, kHighest)));
}

// Clamps to [low, high], pinned to low when an empty area makes high fall below it.
double ClampInArea(double value, double low, double high) { return std::clamp(value, low, std::max(low, high)); }

// The absolute-move coordinate of a virtual-screen position along one axis.
std::int32_t Normalise(double position, std::int32_t origin, std::int32_t extent) {
  const double span = static_cast<double>(std::max(extent, 2)) - 1.0;
  return TruncateToInt32((position - origin) * 65535.0 / span);
}

bool SendAll(InputDesktop& desktop, const std::vector<InputRecord>& records) {
  return desktop.SendInput(records) == records.size();
}

bool RunGamepad(const MethodArguments& event, VirtualController& controller) {
  const auto buttons = event.BoundedInteger("buttons", 0, 65535);
  const auto lt = event.BoundedInteger("lt", 0, 255);
  const auto rt = event.BoundedInteger("rt", 0, 255);
  const auto lx = event.BoundedInteger("lx", -32768, 32767);
  const auto ly = event.BoundedInteger("ly", -32768, 32767);
  const auto rx = event.BoundedInteger("rx", -32768, 32767);
  const auto ry = event.BoundedInteger("ry", -32768, 32767);
  if (!buttons || !lt || !rt || !lx || !ly || !rx || !ry || (*buttons & GamepadButton::kRefused) != 0) {
    return false;
  }
  GamepadState state;
  state.buttons = static_cast<std::uint16_t>(*buttons);
  state.lt = static_cast<std::uint8_t>(*lt);
  state.rt = static_cast<std::uint8_t>(*rt);
  state.lx = static_cast<std::int16_t>(*lx);
  state.ly = static_cast<std::int16_t>(*ly);
  state.rx = static_cast<std::int16_t>(*rx);
  state.ry = static_cast<std::int16_t>(*ry);
  return controller.SubmitReport(state);
}

bool RunPointer(const MethodArguments& event, bool relative, const ConsentArea& area, InputDesktop& desktop) {
  const double left = area.left;
  const double top = area.top;
  const double right = area.right;
  const double bottom = area.bottom;
  double x = 0;
  double y = 0;
  if (relative) {
    const ScreenPoint cursor = desktop.CursorPosition().value_or(ScreenPoint{});
    x = cursor.x + std::clamp(event.Number("dx", 0), -kMaxMoveStep, kMaxMoveStep);
    y = cursor.y + std::clamp(event.Number("dy", 0), -kMaxMoveStep, kMaxMoveStep);
  } else {
    x = left + std::clamp(event.Number("x", 0), 0.0, 1.0) * (right - left - 1);
    y = top + std::clamp(event.Number("y", 0), 0.0, 1.0) * (bottom - top - 1);
  }
  x = ClampInArea(x, left, right - 1);
  y = ClampInArea(y, top, bottom - 1);
  const VirtualScreen screen = desktop.VirtualScreenRect();
  InputRecord record = MouseRecord(InputFlag::kMouseMove | InputFlag::kMouseAbsolute | InputFlag::kMouseVirtualDesk);
  record.dx = Normalise(x, screen.x, screen.width);
  record.dy = Normalise(y, screen.y, screen.height);
  return SendAll(desktop, {record});
}

bool RunClick(const MethodArguments& event, HeldInput& held, InputDesktop& desktop) {
  const bool right = event.Number("button", 0) == 1.0;
  const std::vector<InputRecord> records = {MouseRecord(right ? InputFlag::kMouseRightDown : InputFlag::kMouseLeftDown),
                                            MouseRecord(right ? InputFlag::kMouseRightUp : InputFlag::kMouseLeftUp)};
  const std::uint32_t inserted = desktop.SendInput(records);
  if (inserted == 1) {
    // Only the press went in: the button is down now, so a release must know to let it go.
    (right ? held.right : held.left) = true;
  }
  return inserted == records.size();
}

bool RunButton(const MethodArguments& event, HeldInput& held, InputDesktop& desktop) {
  const bool right = event.Number("button", 0) == 1.0;
  const bool down = event.Bool("down");
  bool& is_held = right ? held.right : held.left;
  if (!down && !is_held) {
    return true;
  }
  is_held = down;
  const std::uint32_t flags = right ? (down ? InputFlag::kMouseRightDown : InputFlag::kMouseRightUp)
                                    : (down ? InputFlag::kMouseLeftDown : InputFlag::kMouseLeftUp);
  const bool sent = SendAll(desktop, {MouseRecord(flags)});
  if (!sent && !down) {
    // The release did not go in, so the button may still be down: a later release tries again.
    is_held = true;
  }
  return sent;
}

bool RunScroll(const MethodArguments& event, InputDesktop& desktop) {
  const std::int32_t delta = TruncateToInt32(std::clamp(event.Number("delta", 0), -kMaxWheelDelta, kMaxWheelDelta));
  InputRecord record = MouseRecord(InputFlag::kMouseWheel);
  // mouseData is unsigned; a negative delta travels as its two's complement.
  record.mouse_data = static_cast<std::uint32_t>(delta);
  return SendAll(desktop, {record});
}

bool RunKey(const MethodArguments& event, HeldInput& held, InputDesktop& desktop) {
  // The low 16 bits of the number truncated toward zero, as a 64-bit integer would give them.
  double low_bits = std::fmod(std::trunc(event.Number("key", 0)), 65536.0);
  if (low_bits < 0) {
    low_bits += 65536.0;
  }
  const auto code = static_cast<std::uint16_t>(low_bits);
  if (!IsPermittedKey(code)) {
    return false;
  }
  const bool down = event.Bool("down");
  if (!down && IsModifierKey(code) && held.keys.count(code) == 0) {
    // Key state is global: this release would lift the local user's own Ctrl or Alt, and with it the
    // emergency chord.
    return true;
  }
  if (down) {
    held.keys.insert(code);
  } else {
    held.keys.erase(code);
  }
  const bool sent = SendAll(desktop, {VirtualKeyRecord(code, down, desktop)});
  if (!sent && !down) {
    // The release did not go in, so the key may still be down: a later release tries again.
    held.keys.insert(code);
  }
  return sent;
}

bool RunText(const MethodArguments& event, InputDesktop& desktop) {
  const std::string text = event.String("text");
  if (text.empty() || text.size() > kMaxTextBytes) {
    return false;
  }
  const std::optional<std::u16string> units = Utf16FromStrictUtf8(text);
  if (!units || units->empty() || units->size() > kMaxTextUnits) {
    return false;
  }
  std::vector<InputRecord> records;
  records.reserve(units->size() * 2);
  for (const char16_t unit : *units) {
    records.push_back(KeyRecord(0, unit, InputFlag::kKeyUnicode));
    records.push_back(KeyRecord(0, unit, InputFlag::kKeyUnicode | InputFlag::kKeyUp));
  }
  return SendAll(desktop, records);
}

}  // namespace

bool RunInputEvent(const MethodArguments& event, ConsentMode mode, const ConsentArea& area, HeldInput& held,
                   InputDesktop& desktop, VirtualController& controller) {
  const std::string type = event.String("type");
  if (type == "gamepad") {
    return mode == ConsentMode::kGamepad && RunGamepad(event, controller);
  }
  if (mode != ConsentMode::kDesktop) {
    return false;
  }
  if (type == "move" || type == "position") {
    return RunPointer(event, type == "move", area, desktop);
  }
  if (type == "click") {
    return RunClick(event, held, desktop);
  }
  if (type == "button") {
    return RunButton(event, held, desktop);
  }
  if (type == "scroll") {
    return RunScroll(event, desktop);
  }
  if (type == "key") {
    return RunKey(event, held, desktop);
  }
  if (type == "text") {
    return RunText(event, desktop);
  }
  return false;
}

std::vector<InputRecord> ReleaseRecords(const HeldInput& held, InputDesktop& desktop) {
  std::vector<InputRecord> records;
  if (held.left) {
    records.push_back(MouseRecord(InputFlag::kMouseLeftUp));
  }
  if (held.right) {
    records.push_back(MouseRecord(InputFlag::kMouseRightUp));
  }
  std::transform(held.keys.begin(), held.keys.end(), std::back_inserter(records),
                 [&desktop](std::uint16_t key) { return VirtualKeyRecord(key, false, desktop); });
  return records;
}

HeldInput HeldAfterRelease(const HeldInput& held, std::size_t inserted) {
  // The records go in order: left, right, then the keys ascending.
  HeldInput remaining = held;
  if (remaining.left && inserted > 0) {
    remaining.left = false;
    --inserted;
  }
  if (remaining.right && inserted > 0) {
    remaining.right = false;
    --inserted;
  }
  while (!remaining.keys.empty() && inserted > 0) {
    remaining.keys.erase(remaining.keys.begin());
    --inserted;
  }
  return remaining;
}

bool IsPermittedKey(std::uint16_t code) {
  switch (code) {
    case 0x08:  // Backspace
    case 0x09:  // Tab
    case 0x0D:  // Enter
    case 0x10:  // Shift
    case 0x11:  // Ctrl
    case 0x12:  // Alt
    case 0x1B:  // Escape
    case 0x20:  // Space
    case 0x2D:  // Insert
    case 0x2E:  // Delete
    case 0x5B:  // left Windows key
    case 0x5C:  // right Windows key
      return true;
    default:
      // Page Up to the arrows; digits and letters (with the unassigned codes between them); F1 to F12.
      return (code >= 0x21 && code <= 0x28) || (code >= 0x30 && code <= 0x5A) || (code >= 0x70 && code <= 0x7B);
  }
}

bool IsExtendedKey(std::uint16_t code) {
  // Page Up, Page Down, End, Home, the arrows; Insert, Delete; the left and right Windows keys.
  return (code >= 0x21 && code <= 0x28) || code == 0x2D || code == 0x2E || code == 0x5B || code == 0x5C;
}

}  // namespace corvane::client
