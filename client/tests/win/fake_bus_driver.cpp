#include "fake_bus_driver.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace corvane::client::testing {
namespace {

// What kernel32 puts into OVERLAPPED.Internal while a request is out. The fake keeps Win32 error
// codes there once a request completes; only its own GetOverlappedResult reads them.
constexpr ULONG_PTR kPending = 0x103;
// Bounds every wait of the fake: a client that waits for what never comes fails instead of hanging.
constexpr DWORD kWaitLimitMs = 10000;
constexpr auto kWaitLimit = std::chrono::milliseconds(kWaitLimitMs);

// The bus interface class, written out here so that a wrong constant in the client shows.
constexpr GUID kExpectedClass = {0x96E42B22, 0xF5E9, 0x42F8, {0xB0, 0x43, 0xED, 0x0F, 0x93, 0x2F, 0x01, 0x4F}};

// Request codes, written out here for the same reason.
constexpr DWORD kPlugIn = 0x002AA004;
constexpr DWORD kUnplug = 0x002AA008;
constexpr DWORD kCheckVersion = 0x002AA00C;
constexpr DWORD kWaitReady = 0x002AA010;
constexpr DWORD kSubmitReport = 0x002AA808;
constexpr DWORD kAwaitOutput = 0x002AE820;

std::uint32_t U32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::uint16_t U16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

}  // namespace

// The seam handed to the client: every call goes to the driver.
class FakeDeviceIo final : public BusDeviceIo {
 public:
  explicit FakeDeviceIo(FakeBusDriver& driver) : driver_(driver) {}

  std::vector<std::wstring> EnumerateDevicePaths(const GUID& interface_class) override {
    return driver_.EnumerateDevicePaths(interface_class);
  }
  HANDLE OpenDevice(const std::wstring& path) override { return driver_.OpenDevice(path); }
  BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                       DWORD* /*bytes_returned*/, OVERLAPPED* overlapped) override {
    return driver_.DeviceIoControl(device, code, input, input_size, output, output_size, overlapped);
  }
  BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* bytes_transferred, BOOL wait) override {
    return driver_.GetOverlappedResult(device, overlapped, bytes_transferred, wait);
  }
  BOOL CancelIoEx(HANDLE device, OVERLAPPED* overlapped) override { return driver_.CancelIoEx(device, overlapped); }
  BOOL CloseDevice(HANDLE device) override { return driver_.CloseDevice(device); }

 private:
  FakeBusDriver& driver_;
};

FakeBusDriver::~FakeBusDriver() {
  {
    const std::lock_guard<std::mutex> lock(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  completer_.join();
}

std::unique_ptr<BusDeviceIo> FakeBusDriver::Seam() { return std::make_unique<FakeDeviceIo>(*this); }

void FakeBusDriver::AddInterface(Interface behaviour) {
  const std::lock_guard<std::mutex> lock(lock_);
  interfaces_.push_back(behaviour);
}

void FakeBusDriver::TakeSerial(std::uint32_t serial) {
  const std::lock_guard<std::mutex> lock(lock_);
  taken_.insert(serial);
}

void FakeBusDriver::RefuseAllSerials() {
  const std::lock_guard<std::mutex> lock(lock_);
  refuse_all_serials_ = true;
}

void FakeBusDriver::SetWaitReadyError(DWORD error) {
  const std::lock_guard<std::mutex> lock(lock_);
  wait_ready_error_ = error;
}

void FakeBusDriver::SetReportError(DWORD error, bool when_issued) {
  const std::lock_guard<std::mutex> lock(lock_);
  report_error_ = error;
  report_when_issued_ = when_issued;
}

void FakeBusDriver::SetUnplugError(DWORD error) {
  const std::lock_guard<std::mutex> lock(lock_);
  unplug_error_ = error;
}

void FakeBusDriver::SetUnplugHook(std::function<void(std::uint32_t)> hook) {
  const std::lock_guard<std::mutex> lock(lock_);
  unplug_hook_ = std::move(hook);
}

void FakeBusDriver::HoldCancellation() {
  const std::lock_guard<std::mutex> lock(lock_);
  hold_cancellation_ = true;
}

void FakeBusDriver::FinishCancellation() {
  const std::lock_guard<std::mutex> lock(lock_);
  hold_cancellation_ = false;
  if (notification_out_) {
    CompleteOutstanding(ERROR_OPERATION_ABORTED, 0);
  }
}

bool FakeBusDriver::WaitForNotificationRequests(std::size_t count) {
  std::unique_lock<std::mutex> lock(lock_);
  return changed_.wait_for(lock, kWaitLimit, [&] { return notification_requests_ >= count; });
}

bool FakeBusDriver::WaitForCancellation() {
  std::unique_lock<std::mutex> lock(lock_);
  return changed_.wait_for(lock, kWaitLimit, [&] { return cancellations_ > 0; });
}

bool FakeBusDriver::WaitForDeviceClosed(DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(lock_);
  return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return device_closed_; });
}

void FakeBusDriver::CompleteNotification(std::uint32_t serial, const std::array<std::uint8_t, 64>& data) {
  const std::lock_guard<std::mutex> lock(lock_);
  if (!notification_out_) {
    Fault("no notification request to complete");
    return;
  }
  std::uint8_t record[72] = {72, 0, 0, 0};
  for (std::size_t i = 0; i < 4; ++i) {
    record[4 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
  }
  std::memcpy(record + 8, data.data(), data.size());
  std::memcpy(notification_record_, record, sizeof record);
  CompleteOutstanding(ERROR_SUCCESS, 72);
}

void FakeBusDriver::FailNotification(DWORD error) {
  const std::lock_guard<std::mutex> lock(lock_);
  if (!notification_out_) {
    Fault("no notification request to fail");
    return;
  }
  CompleteOutstanding(error, 0);
}

void FakeBusDriver::SignalNotificationEarly() {
  const std::lock_guard<std::mutex> lock(lock_);
  if (!notification_out_) {
    Fault("no notification request to signal");
    return;
  }
  SetEvent(notification_->hEvent);
}

void FakeBusDriver::FailNotificationsAtOnce(DWORD error, std::size_t count) {
  const std::lock_guard<std::mutex> lock(lock_);
  notification_failures_left_ = count;
  notification_failure_ = error;
  notification_failure_when_issued_ = false;
}

void FakeBusDriver::RefuseNotifications(DWORD error, std::size_t count) {
  const std::lock_guard<std::mutex> lock(lock_);
  notification_failures_left_ = count;
  notification_failure_ = error;
  notification_failure_when_issued_ = true;
}

void FakeBusDriver::CompleteOutstanding(DWORD error, DWORD bytes) {
  notification_->Internal = error;
  notification_->InternalHigh = bytes;
  notification_out_ = false;
  SetEvent(notification_->hEvent);
}

std::vector<FakeBusRequest> FakeBusDriver::Requests() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return requests_;
}

std::vector<DWORD> FakeBusDriver::Codes() const {
  const std::lock_guard<std::mutex> lock(lock_);
  std::vector<DWORD> codes;
  for (const FakeBusRequest& request : requests_) {
    if (request.code != kAwaitOutput) {
      codes.push_back(request.code);
    }
  }
  return codes;
}

std::size_t FakeBusDriver::Count(DWORD code) const {
  const std::lock_guard<std::mutex> lock(lock_);
  return static_cast<std::size_t>(std::count_if(
      requests_.begin(), requests_.end(), [code](const FakeBusRequest& request) { return request.code == code; }));
}

std::size_t FakeBusDriver::NotificationRequests() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return notification_requests_;
}

std::size_t FakeBusDriver::Cancellations() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return cancellations_;
}

std::vector<GamepadState> FakeBusDriver::Reports(std::uint32_t serial) const {
  const std::lock_guard<std::mutex> lock(lock_);
  std::vector<GamepadState> reports;
  for (const auto& [to, report] : reports_) {
    if (to == serial) {
      reports.push_back(report);
    }
  }
  return reports;
}

std::set<std::uint32_t> FakeBusDriver::Plugged() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return plugged_;
}

std::vector<std::wstring> FakeBusDriver::Opened() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return opened_;
}

int FakeBusDriver::OpenDevices() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return static_cast<int>(open_handles_.size());
}

std::vector<std::string> FakeBusDriver::Faults() const {
  const std::lock_guard<std::mutex> lock(lock_);
  return faults_;
}

void FakeBusDriver::Fault(std::string text) { faults_.push_back(std::move(text)); }

bool FakeBusDriver::KnownOpen(HANDLE device) const { return open_handles_.count(device) != 0; }

std::vector<std::wstring> FakeBusDriver::EnumerateDevicePaths(const GUID& interface_class) {
  const std::lock_guard<std::mutex> lock(lock_);
  if (std::memcmp(&interface_class, &kExpectedClass, sizeof(GUID)) != 0) {
    Fault("enumerated another interface class");
    return {};
  }
  std::vector<std::wstring> paths;
  for (std::size_t i = 0; i < interfaces_.size(); ++i) {
    paths.push_back(L"\\\\?\\root#system#000" + std::to_wstring(i) + L"#{96e42b22-f5e9-42f8-b043-ed0f932f014f}");
  }
  return paths;
}

HANDLE FakeBusDriver::OpenDevice(const std::wstring& path) {
  const std::lock_guard<std::mutex> lock(lock_);
  opened_.push_back(path);
  for (std::size_t i = 0; i < interfaces_.size(); ++i) {
    if (path == L"\\\\?\\root#system#000" + std::to_wstring(i) + L"#{96e42b22-f5e9-42f8-b043-ed0f932f014f}") {
      if (!interfaces_[i].opens) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      // Not a real handle: only this fake ever sees it.
      const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7F000 + 4 * ++next_handle_));
      open_handles_[handle] = i;
      device_closed_ = false;
      return handle;
    }
  }
  Fault("opened an unknown path");
  SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL FakeBusDriver::DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD input_size, void* output,
                                    DWORD output_size, OVERLAPPED* overlapped) {
  std::vector<std::uint8_t> bytes;
  if (input != nullptr) {
    const auto* begin = static_cast<const std::uint8_t*>(input);
    bytes.assign(begin, begin + input_size);
  }
  if (code == kUnplug && bytes.size() == 8) {
    std::function<void(std::uint32_t)> hook;
    {
      const std::lock_guard<std::mutex> lock(lock_);
      hook = unplug_hook_;
    }
    if (hook) {
      hook(U32(bytes, 4));
    }
  }
  const std::lock_guard<std::mutex> lock(lock_);
  if (overlapped == nullptr || overlapped->hEvent == nullptr) {
    Fault("request " + Hex(code) + " without an OVERLAPPED event");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  overlapped->Internal = kPending;
  const auto handle = open_handles_.find(device);
  if (handle == open_handles_.end()) {
    Fault("request " + Hex(code) + " on a handle that is not open");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  requests_.push_back({code, bytes});
  // The size field comes first and must match the record's length.
  if (bytes.size() < 4 || U32(bytes, 0) != bytes.size()) {
    Fault("request " + Hex(code) + " whose size field does not match its length");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (code == kAwaitOutput) {
    std::vector<std::uint8_t> fresh(72, 0);
    fresh[0] = 72;
    if (bytes != fresh || output == nullptr || output_size != 72) {
      Fault("notification request that is not a fresh 72-byte record with a 72-byte output");
    }
    if (notification_out_ || notification_uncollected_) {
      Fault("a second notification request while one is out");
    }
    ++notification_requests_;
    changed_.notify_all();
    const bool fails = notification_failures_left_ > 0;
    if (fails) {
      --notification_failures_left_;
      if (notification_failure_when_issued_) {
        SetLastError(notification_failure_);
        return FALSE;
      }
    }
    notification_ = overlapped;
    notification_record_ = static_cast<std::uint8_t*>(output);
    notification_out_ = true;
    notification_uncollected_ = true;
    if (fails) {
      CompleteOutstanding(notification_failure_, 0);
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
  }
  if (output != nullptr || output_size != 0) {
    Fault("request " + Hex(code) + " with an output buffer");
  }
  const Outcome outcome = Serve(handle->second, code, bytes);
  if (outcome.at_once) {
    SetLastError(outcome.error);
    return FALSE;
  }
  completions_.emplace_back(overlapped, outcome.error);
  changed_.notify_all();
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}

FakeBusDriver::Outcome FakeBusDriver::Serve(std::size_t interface_index, DWORD code,
                                            const std::vector<std::uint8_t>& input) {
  const auto malformed = [&](const char* what) {
    Fault("request " + Hex(code) + ": " + what);
    return Outcome{ERROR_INVALID_PARAMETER, false};
  };
  switch (code) {
    case kCheckVersion:
      if (input != std::vector<std::uint8_t>{8, 0, 0, 0, 1, 0, 0, 0}) {
        return malformed("not version 1 in 8 bytes");
      }
      return {static_cast<DWORD>(interfaces_[interface_index].accepts_version ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED),
              false};
    case kPlugIn: {
      if (input.size() != 16) {
        return malformed("not 16 bytes");
      }
      const std::uint32_t serial = U32(input, 4);
      const std::uint32_t type = U32(input, 8);
      if (serial == 0 || serial > 65535) {
        return malformed("serial out of range");
      }
      if (type == 0 && (U16(input, 12) != 0x045E || U16(input, 14) != 0x028E)) {
        return malformed("an Xbox 360 controller with another vendor or product id");
      }
      if (type != 0 && type != 2) {
        return malformed("unknown target type");
      }
      if (refuse_all_serials_ || taken_.count(serial) != 0 || plugged_.count(serial) != 0) {
        return {ERROR_INVALID_PARAMETER, true};
      }
      plugged_.insert(serial);
      return {ERROR_SUCCESS, false};
    }
    case kWaitReady:
      if (input.size() != 8) {
        return malformed("not 8 bytes");
      }
      if (plugged_.count(U32(input, 4)) == 0) {
        return malformed("wait-ready for a serial that is not plugged in");
      }
      return {wait_ready_error_, false};
    case kUnplug: {
      if (input.size() != 8) {
        return malformed("not 8 bytes");
      }
      const std::uint32_t serial = U32(input, 4);
      if (plugged_.count(serial) == 0) {
        return malformed("unplug of a serial that is not plugged in");
      }
      if (unplug_error_ != ERROR_SUCCESS) {
        return {unplug_error_, false};
      }
      plugged_.erase(serial);
      return {ERROR_SUCCESS, false};
    }
    case kSubmitReport: {
      if (input.size() != 20) {
        return malformed("not 20 bytes");
      }
      const std::uint32_t serial = U32(input, 4);
      if (plugged_.count(serial) == 0) {
        return malformed("report for a serial that is not plugged in");
      }
      if (report_error_ != ERROR_SUCCESS) {
        return {report_error_, report_when_issued_};
      }
      GamepadState report;
      report.buttons = U16(input, 8);
      report.lt = input[10];
      report.rt = input[11];
      report.lx = static_cast<std::int16_t>(U16(input, 12));
      report.ly = static_cast<std::int16_t>(U16(input, 14));
      report.rx = static_cast<std::int16_t>(U16(input, 16));
      report.ry = static_cast<std::int16_t>(U16(input, 18));
      reports_.emplace_back(serial, report);
      return {ERROR_SUCCESS, false};
    }
    default:
      Fault("unknown request " + Hex(code));
      return {ERROR_INVALID_FUNCTION, true};
  }
}

void FakeBusDriver::CompleteQueued() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !completions_.empty(); });
    if (completions_.empty()) {
      return;
    }
    const auto [overlapped, error] = completions_.front();
    completions_.pop_front();
    // Result and event together under the lock: a client that sees the result may close the event.
    overlapped->Internal = error;
    overlapped->InternalHigh = 0;
    SetEvent(overlapped->hEvent);
  }
}

BOOL FakeBusDriver::GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* bytes_transferred, BOOL wait) {
  {
    const std::lock_guard<std::mutex> lock(lock_);
    if (!KnownOpen(device)) {
      Fault("GetOverlappedResult on a handle that is not open");
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (overlapped->Internal == kPending && !wait) {
      SetLastError(ERROR_IO_INCOMPLETE);
      return FALSE;
    }
  }
  if (wait && WaitForSingleObject(overlapped->hEvent, kWaitLimitMs) != WAIT_OBJECT_0) {
    const std::lock_guard<std::mutex> lock(lock_);
    if (overlapped->Internal == kPending) {
      Fault("waited for a request that never completes");
      SetLastError(ERROR_TIMEOUT);
      return FALSE;
    }
  }
  const std::lock_guard<std::mutex> lock(lock_);
  if (overlapped->Internal == kPending) {
    SetLastError(ERROR_IO_INCOMPLETE);
    return FALSE;
  }
  if (overlapped == notification_ && notification_uncollected_) {
    notification_uncollected_ = false;
    changed_.notify_all();
  }
  *bytes_transferred = static_cast<DWORD>(overlapped->InternalHigh);
  const auto error = static_cast<DWORD>(overlapped->Internal);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL FakeBusDriver::CancelIoEx(HANDLE device, OVERLAPPED* overlapped) {
  const std::lock_guard<std::mutex> lock(lock_);
  if (!KnownOpen(device)) {
    Fault("CancelIoEx on a handle that is not open");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ++cancellations_;
  changed_.notify_all();
  if (overlapped != notification_ || !notification_out_) {
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
  }
  if (!hold_cancellation_) {
    CompleteOutstanding(ERROR_OPERATION_ABORTED, 0);
  }
  return TRUE;
}

BOOL FakeBusDriver::CloseDevice(HANDLE device) {
  const std::lock_guard<std::mutex> lock(lock_);
  if (!KnownOpen(device)) {
    Fault("closed a handle that is not open");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (notification_uncollected_) {
    Fault("closed the device while its notification request is out");
  }
  open_handles_.erase(device);
  device_closed_ = true;
  changed_.notify_all();
  return TRUE;
}

}  // namespace corvane::client::testing
