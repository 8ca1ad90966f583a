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

#include "base/expected.h"
#include "base/handles.h"
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

class BusConnection;

// One virtual controller. It is plugged in through a connection, which then holds it in the slot of
// its serial; it leaves that slot, under the slot lock, before it is freed.
class BusTarget {
 public:
  // A target of the driver's kind `type` (an Xbox 360 wired controller unless said otherwise), in
  // state initialised; in state none when its output event cannot be made.
  explicit BusTarget(std::uint32_t type = kXbox360WiredTarget, std::uint16_t vendor_id = kXbox360VendorId,
                     std::uint16_t product_id = kXbox360ProductId);
  ~BusTarget();
  BusTarget(const BusTarget&) = delete;
  BusTarget& operator=(const BusTarget&) = delete;

  std::uint32_t Serial() const { return serial_; }  // 0 = none
  BusTargetState State() const { return state_; }
  // Whether the driver refused wait-ready with invalid parameter (it does not know the request).
  bool WaitReadyUnsupported() const { return wait_ready_unsupported_; }
  // Signalled (auto-reset) after each driver output the notification thread stores for this target.
  HANDLE OutputEvent() const { return output_event_.Get(); }

 private:
  friend class BusConnection;
  friend struct BusConnectionTestAccess;  // tests make a target whose output event failed

  const std::uint32_t type_;
  const std::uint16_t vendor_id_;
  const std::uint16_t product_id_;
  std::uint32_t serial_ = 0;
  BusTargetState state_ = BusTargetState::kNone;
  bool wait_ready_unsupported_ = false;
  // Written by the notification thread under the slot lock of `connection_`, as is `connection_`
  // itself once the target is in a slot.
  std::array<std::uint8_t, kNotificationDataSize> output_{};
  BusConnection* connection_ = nullptr;  // the connection whose slot holds this target
  UniqueEvent output_event_;
};

// The bus device handle, opened and closed through the device-I/O seam.
class BusDevice {
 public:
  explicit BusDevice(BusDeviceIo& io) : io_(io) {}
  ~BusDevice() { Reset(); }
  BusDevice(const BusDevice&) = delete;
  BusDevice& operator=(const BusDevice&) = delete;

  HANDLE Get() const { return handle_; }
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes the device held (if any) and takes `handle`.
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE);

 private:
  BusDeviceIo& io_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A connection to the bus: the device, the notification thread that keeps an await-output request
// out while connected, and the slots of the targets plugged in through it.
class BusConnection {
 public:
  // Reaches the driver through `io`, which outlives the connection; not connected yet.
  explicit BusConnection(BusDeviceIo& io);
  // Disconnects.
  ~BusConnection();
  BusConnection(const BusConnection&) = delete;
  BusConnection& operator=(const BusConnection&) = delete;

  // Finds the bus, opens it, checks its version and starts the notification thread. kConnectionNull
  // when the connection's stop event could not be made.
  Expected<Done, BusResult> Connect();
  // Stops and joins the notification thread, closes the device and empties the slots; the connection
  // may connect again.
  void Disconnect();
  // The notification thread's handle, null when none runs or was joined; it can end by itself when
  // the driver keeps failing its requests.
  HANDLE NotificationThread() const { return notification_thread_.Get(); }
  bool IsOpen() const { return device_.IsOpen(); }

  // Plugs `target` in under the first serial the driver accepts and waits until it is ready.
  Expected<Done, BusResult> PlugIn(BusTarget& target);
  // Unplugs a connected target.
  Expected<Done, BusResult> Unplug(BusTarget& target);
  // Sends one report for `target` and waits until the driver took it; any failure of the request
  // (refused when issued, or completed with an error) gives kInvalidTarget.
  Expected<Done, BusResult> SubmitReport(const BusTarget& target, const GamepadState& report);
  // The last driver output of `target`, read under the slot lock.
  std::array<std::uint8_t, kNotificationDataSize> ReadTargetOutput(const BusTarget& target);

 private:
  friend class BusTarget;
  friend struct BusConnectionTestAccess;  // tests make the thread's waits fail and look into the slots

  static DWORD WINAPI NotificationThreadMain(LPVOID parameter);
  void RunNotifications();
  DWORD WaitForRequestOrStop(HANDLE request_event, int& failures) const;
  void DeliverNotification(const std::array<std::uint8_t, 72>& record);
  // The checks every target operation starts with.
  Expected<Done, BusResult> CheckTargetCall() const;
  // Takes `target` out of its slot and forgets this connection in it; under the slot lock.
  void LeaveSlot(BusTarget& target);

  BusDeviceIo& io_;  // the seam every device call goes through
  // Guards `slots_` and the output of the targets in them: the notification thread reads a slot and
  // writes into its target while holding it, and a target leaves its slot under it before it is
  // freed, so the thread never reaches a freed target.
  std::mutex slots_lock_;
  std::array<BusTarget*, kLastSerial + 1> slots_{};
  BusDevice device_;                  // open while connected
  UniqueEvent stop_event_;            // manual reset; ends the notification thread
  UniqueThread notification_thread_;  // runs while connected; joined before the device closes
};

}  // namespace corvane::client
