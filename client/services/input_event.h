#pragma once
// One "input" event of an authorised session turned into injected input (portable): the validation
// of its fields, the records it sends, the pointer kept inside the consent area, and the keys and
// buttons it leaves held. The Windows host turns the records into INPUT structures for SendInput.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "gamepad/virtual_controller.h"
#include "services/method_arguments.h"

namespace corvane::client {

// The kind of control the local user approved; kNone without consent.
enum class ConsentMode { kNone, kDesktop, kGamepad };

// The rectangle, in virtual-screen pixels, that injected pointer motion may not leave; right and
// bottom are exclusive.
struct ConsentArea {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  friend bool operator==(const ConsentArea&, const ConsentArea&) = default;
};

// The virtual screen: the bounding rectangle of all monitors.
struct VirtualScreen {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// A point in virtual-screen pixels.
struct ScreenPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// One INPUT record with the only fields the host ever sets (all others are zero).
struct InputRecord {
  enum class Type : std::uint8_t { kMouse, kKeyboard };
  Type type = Type::kMouse;
  std::int32_t dx = 0;           // mouse
  std::int32_t dy = 0;           // mouse
  std::uint32_t mouse_data = 0;  // mouse: the wheel delta
  std::uint16_t vk = 0;          // keyboard: wVk
  std::uint16_t scan = 0;        // keyboard: wScan (a UTF-16 unit for Unicode records)
  std::uint32_t flags = 0;       // dwFlags

  friend bool operator==(const InputRecord&, const InputRecord&) = default;
};

// dwFlags values of mouse and keyboard records.
namespace InputFlag {
inline constexpr std::uint32_t kMouseMove = 0x0001;
inline constexpr std::uint32_t kMouseLeftDown = 0x0002;
inline constexpr std::uint32_t kMouseLeftUp = 0x0004;
inline constexpr std::uint32_t kMouseRightDown = 0x0008;
inline constexpr std::uint32_t kMouseRightUp = 0x0010;
inline constexpr std::uint32_t kMouseWheel = 0x0800;
inline constexpr std::uint32_t kMouseVirtualDesk = 0x4000;
inline constexpr std::uint32_t kMouseAbsolute = 0x8000;
inline constexpr std::uint32_t kKeyExtended = 0x0001;
inline constexpr std::uint32_t kKeyUp = 0x0002;
inline constexpr std::uint32_t kKeyUnicode = 0x0004;
}  // namespace InputFlag

// The desktop that injected input acts on: the cursor, the screen, SendInput and scan codes.
class InputDesktop {
 public:
  virtual ~InputDesktop() = default;

  // The cursor position, or nothing when it cannot be read.
  virtual std::optional<ScreenPoint> CursorPosition() = 0;
  // The virtual screen now.
  virtual VirtualScreen VirtualScreenRect() = 0;
  // Sends the records in one SendInput call; the number Windows inserted.
  virtual std::uint32_t SendInput(const std::vector<InputRecord>& records) = 0;
  // What Windows maps a virtual key to as a scan code (MapVirtualKeyW with MAPVK_VK_TO_VSC): 0 for
  // none; only the low byte is the scan code.
  virtual std::uint32_t ScanCode(std::uint16_t virtual_key) = 0;
};

// The keys and mouse buttons injected down and not yet up.
struct HeldInput {
  std::set<std::uint16_t> keys;  // virtual-key codes, ascending
  bool left = false;
  bool right = false;

  // True when nothing is held.
  bool Empty() const { return keys.empty() && !left && !right; }
};

// Runs one event (the call's arguments, "type" and its fields) in `mode`: true when the event was
// valid for the mode and every record was inserted (a gamepad report: accepted). `held` records
// what may be pressed: a press is recorded even when Windows refused it, a release only when it went
// in, and a click whose release did not go in leaves its button held, so that a later release of
// everything lets go of whatever is down. A release of a modifier (Shift, Ctrl, Alt, a Windows key)
// that `held` does not hold sends nothing and succeeds: the remote side cannot lift a modifier the
// local user is holding.
bool RunInputEvent(const MethodArguments& event, ConsentMode mode, const ConsentArea& area, HeldInput& held,
                   InputDesktop& desktop, VirtualController& controller);

// The one batch that lets everything in `held` go: left-up, right-up, then each key up in ascending
// order, each key with its scan code from `desktop`. Empty when nothing is held.
std::vector<InputRecord> ReleaseRecords(const HeldInput& held, InputDesktop& desktop);

// What is still held after Windows inserted only the first `inserted` records of ReleaseRecords(held).
HeldInput HeldAfterRelease(const HeldInput& held, std::size_t inserted);

// Whether a virtual-key code may be injected.
bool IsPermittedKey(std::uint16_t code);

// Whether a permitted key's records carry the extended-key flag: the navigation block (Page Up to
// the arrows, Insert, Delete) and the Windows keys, which share scan codes with keypad keys or need
// the E0 prefix.
bool IsExtendedKey(std::uint16_t code);

}  // namespace corvane::client
