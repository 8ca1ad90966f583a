#pragma once
// The client of the virtual-gamepad bus driver's device interface: discovery, the connection with
// its notification thread, targets (virtual controllers) and their reports. The driver is reached
// only through `BusDeviceIo`, so that tests can put a fake driver behind it.

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gamepad/bus_protocol.h"
#include "gamepad/gamepad_state.h"

namespace corvane::client {

// The device interface class of the bus: {96E42B22-F5E9-42F8-B043-ED0F932F014F}.
inline constexpr GUID kBusInterfaceClass = {
    0x96E42B22, 0xF5E9, 0x42F8, {0xB0, 0x43, 0xED, 0x0F, 0x93, 0x2F, 0x01, 0x4F}};

// The device calls the bus client makes, with Win32's signatures and error reporting (the result
// plus GetLastError).
class BusDeviceIo {
 public:
  virtual ~BusDeviceIo() = default;

  // The device paths of the present interfaces of `interface_class`, in enumeration order.
  virtual std::vector<std::wstring> EnumerateDevicePaths(const GUID& interface_class) = 0;
  // Opens a device path for overlapped I/O; INVALID_HANDLE_VALUE on failure.
  virtual HANDLE OpenDevice(const std::wstring& path) = 0;
  // DeviceIoControl on an overlapped handle.
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD input_size, void* output,
                               DWORD output_size, DWORD* bytes_returned, OVERLAPPED* overlapped) = 0;
  // GetOverlappedResult.
  virtual BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* bytes_transferred, BOOL wait) = 0;
  // CancelIoEx.
  virtual BOOL CancelIoEx(HANDLE device, OVERLAPPED* overlapped) = 0;
  // Closes a handle from OpenDevice.
  virtual BOOL CloseDevice(HANDLE device) = 0;
};

// The real device: SetupDi discovery, CreateFileW, DeviceIoControl and friends.
std::unique_ptr<BusDeviceIo> SystemBusDeviceIo();

// Failed await-output requests or waits in a row, with no output between, that end the notification thread.
// Five: retries follow at once, so a few ride out a stray error and more would only spin longer.
inline constexpr int kNotificationFailureLimit = 5;

// Target states.
enum class BusTargetState : std::uint8_t {
  kNone = 0,
  kInitialised = 1,
  kConnected = 2,
  kDisconnected = 3,
};

// One virtual controller on the bus.
struct BusTarget {
  BusTarget() = default;
  ~BusTarget();
  BusTarget(const BusTarget&) = delete;
  BusTarget& operator=(const BusTarget&) = delete;

  std::uint32_t serial = 0;  // 0 = none
  BusTargetState state = BusTargetState::kNone;
  std::uint16_t vendor_id = kXbox360VendorId;
  std::uint16_t product_id = kXbox360ProductId;
  std::uint32_t type = kXbox360WiredTarget;
  bool wait_ready_unsupported = false;  // the driver refused wait-ready with invalid parameter
  // Driver output for DualShock 4 targets, written by the notification thread under the slot lock
  // (read it with `ReadTargetOutput`); `output_event` (auto-reset) is signalled after each write.
  std::array<std::uint8_t, kNotificationDataSize> output{};
  HANDLE output_event = nullptr;
};

// An open (or openable) connection to the bus.
struct BusConnection {
  explicit BusConnection(BusDeviceIo& device_io) : io(device_io) {}
  // Disconnects, then closes the stop event.
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  BusDeviceIo& io;                       // the seam every device call goes through
  HANDLE device = INVALID_HANDLE_VALUE;  // open while connected
  HANDLE notification_thread = nullptr;  // runs while connected, unless the driver keeps failing it
  HANDLE stop_event = nullptr;           // manual reset; ends the notification thread
  // Guards `slots` and the output of the targets in them: the notification thread reads a slot and
  // writes into its target while holding it, and a target leaves its slot under it before it is
  // freed, so the thread never reaches a freed target.
  std::mutex slots_lock;
  std::array<BusTarget*, kLastSerial + 1> slots{};
};

// A new connection with its stop event, not connected; null when the event cannot be created.
std::unique_ptr<BusConnection> AllocateConnection(BusDeviceIo& io);
// Finds the bus, opens it, checks its version and starts the notification thread.
BusResult Connect(BusConnection* connection);
// Stops and joins the notification thread, closes the device and empties the slots.
void Disconnect(BusConnection* connection);
// Disconnects and frees.
void FreeConnection(std::unique_ptr<BusConnection> connection);

// A new Xbox 360 wired target in state initialised; null when its output event cannot be created.
std::unique_ptr<BusTarget> AllocateTarget();
// Plugs `target` in under the first serial the driver accepts and waits until it is ready.
BusResult PlugIn(BusConnection* connection, BusTarget* target);
// Unplugs a connected target.
BusResult Unplug(BusConnection* connection, BusTarget* target);
// Takes `target` out of the connection's slots (if `connection` is given) and frees it.
void FreeTarget(BusConnection* connection, std::unique_ptr<BusTarget> target);
// Sends one report for `target` and waits until the driver took it; any failure of the request
// (refused when issued, or completed with an error) gives kInvalidTarget.
BusResult SubmitReport(BusConnection* connection, const BusTarget* target, const GamepadState& report);
// The last driver output of `target`, read under the slot lock.
std::array<std::uint8_t, kNotificationDataSize> ReadTargetOutput(BusConnection& connection, const BusTarget& target);

}  // namespace corvane::client
