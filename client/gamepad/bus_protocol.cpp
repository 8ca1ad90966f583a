#include "gamepad/bus_protocol.h"

#include <algorithm>

namespace corvane::client {
namespace {

template <std::size_t N>
void PutU16(std::array<std::uint8_t, N>& record, std::size_t offset, std::uint16_t value) {
  record[offset] = static_cast<std::uint8_t>(value & 0xFFu);
  record[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

template <std::size_t N>
void PutU32(std::array<std::uint8_t, N>& record, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    record[offset + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFu);
  }
}

// A record of N bytes whose first field is its size.
template <std::size_t N>
std::array<std::uint8_t, N> SizedRecord() {
  std::array<std::uint8_t, N> record{};
  PutU32(record, 0, static_cast<std::uint32_t>(N));
  return record;
}

// The size-and-serial records (unplug, wait-ready) share one shape.
std::array<std::uint8_t, 8> SerialRecord(std::uint32_t serial) {
  auto record = SizedRecord<8>();
  PutU32(record, 4, serial);
  return record;
}

}  // namespace

std::array<std::uint8_t, 8> CheckVersionRecord(std::uint32_t version) {
  auto record = SizedRecord<8>();
  PutU32(record, 4, version);
  return record;
}

std::array<std::uint8_t, 16> PlugInRecord(std::uint32_t serial, std::uint32_t target_type, std::uint16_t vendor_id,
                                          std::uint16_t product_id) {
  auto record = SizedRecord<16>();
  PutU32(record, 4, serial);
  PutU32(record, 8, target_type);
  PutU16(record, 12, vendor_id);
  PutU16(record, 14, product_id);
  return record;
}

std::array<std::uint8_t, 8> UnplugRecord(std::uint32_t serial) { return SerialRecord(serial); }

std::array<std::uint8_t, 8> WaitReadyRecord(std::uint32_t serial) { return SerialRecord(serial); }

std::array<std::uint8_t, 20> SubmitReportRecord(std::uint32_t serial, const GamepadState& report) {
  auto record = SizedRecord<20>();
  PutU32(record, 4, serial);
  PutU16(record, 8, report.buttons);
  record[10] = report.lt;
  record[11] = report.rt;
  PutU16(record, 12, static_cast<std::uint16_t>(report.lx));
  PutU16(record, 14, static_cast<std::uint16_t>(report.ly));
  PutU16(record, 16, static_cast<std::uint16_t>(report.rx));
  PutU16(record, 18, static_cast<std::uint16_t>(report.ry));
  return record;
}

std::array<std::uint8_t, 72> AwaitOutputRecord() { return SizedRecord<72>(); }

std::uint32_t NotificationSerial(const std::array<std::uint8_t, 72>& record) {
  std::uint32_t serial = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    serial |= static_cast<std::uint32_t>(record[4 + i]) << (8 * i);
  }
  return serial;
}

std::array<std::uint8_t, kNotificationDataSize> NotificationData(const std::array<std::uint8_t, 72>& record) {
  std::array<std::uint8_t, kNotificationDataSize> data{};
  std::copy(record.begin() + 8, record.end(), data.begin());
  return data;
}

}  // namespace corvane::client
