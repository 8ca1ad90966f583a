// The bus driver's request records, byte for byte against hand-written literals.
#include "gamepad/bus_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace corvane::client {
namespace {

// "08 00 ab" as bytes.
std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::istringstream in(text);
  std::string pair;
  while (in >> pair) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  }
  return bytes;
}

template <std::size_t N>
std::vector<std::uint8_t> Bytes(const std::array<std::uint8_t, N>& record) {
  return {record.begin(), record.end()};
}

TEST(BusRecords, SizeAndSerialRecordsAreLittleEndian) {
  EXPECT_EQ(Bytes(CheckVersionRecord(1)), Hex("08 00 00 00 01 00 00 00"));
  EXPECT_EQ(Bytes(UnplugRecord(0x01020304)), Hex("08 00 00 00 04 03 02 01"));
  EXPECT_EQ(Bytes(WaitReadyRecord(65535)), Hex("08 00 00 00 ff ff 00 00"));
}

TEST(BusRecords, PlugInCarriesTypeVendorAndProduct) {
  EXPECT_EQ(Bytes(PlugInRecord(2, kXbox360WiredTarget, kXbox360VendorId, kXbox360ProductId)),
            Hex("10 00 00 00 02 00 00 00 00 00 00 00 5e 04 8e 02"));
  EXPECT_EQ(Bytes(PlugInRecord(0x00010203, 0x0A0B0C0D, 0x1122, 0x3344)),
            Hex("10 00 00 00 03 02 01 00 0d 0c 0b 0a 22 11 44 33"));
}

TEST(BusRecords, ReportCarriesEveryFieldInXInputOrder) {
  GamepadState state;
  state.buttons = 0x9001;  // Y, A, up
  state.lt = 0x7F;
  state.rt = 0xFF;
  state.lx = -32768;
  state.ly = 32767;
  state.rx = -1;
  state.ry = 0x0102;
  EXPECT_EQ(Bytes(SubmitReportRecord(7, state)), Hex("14 00 00 00 07 00 00 00 01 90 7f ff 00 80 ff 7f ff ff 02 01"));
  EXPECT_EQ(Bytes(SubmitReportRecord(1, GamepadState{})),
            Hex("14 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
}

TEST(BusRecords, FreshNotificationRecordIsOnlyItsSize) {
  std::vector<std::uint8_t> expected(72, 0);
  expected[0] = 0x48;
  EXPECT_EQ(Bytes(AwaitOutputRecord()), expected);
}

TEST(BusRecords, NotificationSerialAndDataAreReadFromTheirOffsets) {
  std::array<std::uint8_t, 72> record{};
  record[0] = 0x48;
  record[4] = 0x34;
  record[5] = 0x12;
  record[6] = 0x00;
  record[7] = 0x80;
  for (std::size_t i = 8; i < record.size(); ++i) {
    record[i] = static_cast<std::uint8_t>(i);
  }
  EXPECT_EQ(NotificationSerial(record), 0x80001234u);
  const auto data = NotificationData(record);
  EXPECT_EQ(data.front(), 8);
  EXPECT_EQ(data[1], 9);
  EXPECT_EQ(data.back(), 71);
}

}  // namespace
}  // namespace corvane::client
