#pragma once
// The virtual-gamepad bus driver's result codes, I/O-control codes and request records (portable).
// Every record starts with its own size in bytes; all fields are little-endian.

#include <array>
#include <cstddef>
#include <cstdint>

#include "gamepad/gamepad_state.h"

namespace corvane::client {

// What a bus operation ended with.
enum class BusResult : std::uint32_t {
  kSuccess = 0x20000000,
  kBusNotFound = 0xE0000001,    // bus not found, or bus handle not open
  kNoFreeSerial = 0xE0000002,   // the driver accepted no serial number
  kInvalidTarget = 0xE0000003,  // null target, no serial, or a report the driver did not take
  kUnplugFailed = 0xE0000004,   // the driver refused the unplug request
  kTargetAlreadyConnected = 0xE0000005,
  kTargetNotInitialised = 0xE0000006,
  kTargetNotPluggedIn = 0xE0000007,
  kBusVersionMismatch = 0xE0000008,
  kBusDeviceNotOpened = 0xE0000009,
  kConnectionAlreadyOpen = 0xE0000012,
  kConnectionNull = 0xE0000013,
};

// The driver's I/O-control codes (METHOD_BUFFERED, device type FILE_DEVICE_BUS_EXTENDER).
namespace BusIoControl {
inline constexpr std::uint32_t kPlugIn = 0x002AA004;
inline constexpr std::uint32_t kUnplug = 0x002AA008;
inline constexpr std::uint32_t kCheckVersion = 0x002AA00C;
inline constexpr std::uint32_t kWaitReady = 0x002AA010;
inline constexpr std::uint32_t kSubmitReport = 0x002AA808;
inline constexpr std::uint32_t kAwaitOutput = 0x002AE820;
}  // namespace BusIoControl

// The only interface version this client speaks.
inline constexpr std::uint32_t kBusInterfaceVersion = 1;
// Target types the driver knows; the host plugs in only the Xbox 360 wired controller.
inline constexpr std::uint32_t kXbox360WiredTarget = 0;
inline constexpr std::uint32_t kDualShock4WiredTarget = 2;
// The vendor and product id of the Xbox 360 wired controller.
inline constexpr std::uint16_t kXbox360VendorId = 0x045E;
inline constexpr std::uint16_t kXbox360ProductId = 0x028E;
// Serial numbers run from 1 to this, inclusive; 0 means none.
inline constexpr std::uint32_t kLastSerial = 65535;
// Bytes of driver output carried by a notification record.
inline constexpr std::size_t kNotificationDataSize = 64;

// The check-version request: size 8, version.
std::array<std::uint8_t, 8> CheckVersionRecord(std::uint32_t version);
// The plug-in request: size 16, serial, target type, vendor id, product id.
std::array<std::uint8_t, 16> PlugInRecord(std::uint32_t serial, std::uint32_t target_type, std::uint16_t vendor_id,
                                          std::uint16_t product_id);
// The unplug request: size 8, serial.
std::array<std::uint8_t, 8> UnplugRecord(std::uint32_t serial);
// The wait-ready request: size 8, serial.
std::array<std::uint8_t, 8> WaitReadyRecord(std::uint32_t serial);
// The submit-report request: size 20, serial, then the 12-byte report in XInput's layout.
std::array<std::uint8_t, 20> SubmitReportRecord(std::uint32_t serial, const GamepadState& report);
// A fresh await-output (notification) request: size 72, everything else zero.
std::array<std::uint8_t, 72> AwaitOutputRecord();

// The serial number a filled notification record is about.
std::uint32_t NotificationSerial(const std::array<std::uint8_t, 72>& record);
// The driver's output bytes in a filled notification record.
std::array<std::uint8_t, kNotificationDataSize> NotificationData(const std::array<std::uint8_t, 72>& record);

}  // namespace corvane::client
