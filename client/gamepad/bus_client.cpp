#include "gamepad/bus_client.h"

#include <setupapi.h>

#include <cstring>

namespace corvane::client {
namespace {

class SystemDeviceIo final : public BusDeviceIo {
 public:
  std::vector<std::wstring> EnumerateDevicePaths(const GUID& interface_class) override {
    std::vector<std::wstring> paths;
    const UniqueDeviceInfoList list(
        SetupDiGetClassDevsW(&interface_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list) {
      return paths;
    }
    const HDEVINFO set = list.Get();
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &interface_class, index, &interface_data);
         ++index) {
      DWORD required = 0;
      SetupDiGetDeviceInterfaceDetailW(set, &interface_data, nullptr, 0, &required, nullptr);
      if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        continue;
      }
      // DWORD-aligned storage for the variable-length detail record.
      std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (SetupDiGetDeviceInterfaceDetailW(set, &interface_data, detail, required, nullptr, nullptr)) {
        paths.emplace_back(detail->DevicePath);
      }
    }
    return paths;
  }

  HANDLE OpenDevice(const std::wstring& path) override {
    return CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED, nullptr);
  }

  BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                       DWORD* bytes_returned, OVERLAPPED* overlapped) override {
    return ::DeviceIoControl(device, code, input, input_size, output, output_size, bytes_returned, overlapped);
  }

  BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* bytes_transferred, BOOL wait) override {
    return ::GetOverlappedResult(device, overlapped, bytes_transferred, wait);
  }

  BOOL CancelIoEx(HANDLE device, OVERLAPPED* overlapped) override { return ::CancelIoEx(device, overlapped); }

  BOOL CloseDevice(HANDLE device) override { return ::CloseHandle(device); }
};

// Sends one request with its own OVERLAPPED and auto-reset event and waits for its completion.
// Returns the Win32 error (ERROR_SUCCESS when the driver completed it successfully).
DWORD SendRequest(BusDeviceIo& io, HANDLE device, DWORD code, void* input, DWORD input_size) {
  const UniqueEvent event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!event) {
    return GetLastError();
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.Get();
  DWORD error = ERROR_SUCCESS;
  if (!io.DeviceIoControl(device, code, input, input_size, nullptr, 0, nullptr, &overlapped)) {
    error = GetLastError();
  }
  // A request refused at once never completes through its OVERLAPPED: waiting for it would hang.
  if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING) {
    DWORD transferred = 0;
    error = io.GetOverlappedResult(device, &overlapped, &transferred, TRUE) ? ERROR_SUCCESS : GetLastError();
  }
  return error;
}

template <std::size_t N>
DWORD SendRecord(BusDeviceIo& io, HANDLE device, std::uint32_t code, std::array<std::uint8_t, N> record) {
  return SendRequest(io, device, code, record.data(), static_cast<DWORD>(N));
}

// Waits for a cancelled request to land, so that the driver never writes into a record or
// OVERLAPPED that is gone.
void CancelAndCollect(BusDeviceIo& io, HANDLE device, OVERLAPPED* overlapped) {
  DWORD transferred = 0;
  if (io.CancelIoEx(device, overlapped) || GetLastError() != ERROR_NOT_FOUND) {
    io.GetOverlappedResult(device, overlapped, &transferred, TRUE);
  }
}

}  // namespace

std::unique_ptr<BusDeviceIo> SystemBusDeviceIo() { return std::make_unique<SystemDeviceIo>(); }

BusTarget::BusTarget(std::uint32_t type, std::uint16_t vendor_id, std::uint16_t product_id)
    : type_(type), vendor_id_(vendor_id), product_id_(product_id) {
  output_event_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (output_event_) {
    state_ = BusTargetState::kInitialised;
  }
}

BusTarget::~BusTarget() {
  if (connection_ != nullptr) {
    // A target whose unplug was refused still sits in its slot.
    const std::lock_guard<std::mutex> lock(connection_->slots_lock_);
    connection_->LeaveSlot(*this);
  }
}

void BusDevice::Reset(HANDLE handle) {
  if (handle_ != INVALID_HANDLE_VALUE) {
    const DWORD last_error = GetLastError();
    io_.CloseDevice(handle_);
    SetLastError(last_error);
  }
  handle_ = handle;
}

BusConnection::BusConnection(BusDeviceIo& io) : io_(io), device_(io) {
  stop_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

BusConnection::~BusConnection() { Disconnect(); }

void BusConnection::LeaveSlot(BusTarget& target) {
  for (BusTarget*& slot : slots_) {
    if (slot == &target) {
      slot = nullptr;
    }
  }
  target.connection_ = nullptr;
}

void BusConnection::DeliverNotification(const std::array<std::uint8_t, 72>& record) {
  const std::uint32_t serial = NotificationSerial(record);
  // The serial comes from the driver: never index past the table.
  if (serial == 0 || serial > kLastSerial) {
    return;
  }
  const std::lock_guard<std::mutex> lock(slots_lock_);
  BusTarget* target = slots_[serial];
  if (target != nullptr && target->type_ == kDualShock4WiredTarget) {
    target->output_ = NotificationData(record);
    SetEvent(target->output_event_.Get());
  }
}

// Waits for the outstanding await-output request or the stop event. A failed wait leaves the
// request out with this OVERLAPPED, so it is waited for again rather than another issued; each
// failed wait counts in `failures`. Returns what woke it, or WAIT_FAILED once the bound is reached.
DWORD BusConnection::WaitForRequestOrStop(HANDLE request_event, int& failures) const {
  const HANDLE waits[2] = {stop_event_.Get(), request_event};
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 || woken == WAIT_OBJECT_0 + 1) {
      return woken;
    }
    if (++failures >= kNotificationFailureLimit) {
      return WAIT_FAILED;
    }
  }
}

DWORD WINAPI BusConnection::NotificationThreadMain(LPVOID parameter) {
  static_cast<BusConnection*>(parameter)->RunNotifications();
  return 0;
}

// Keeps one await-output request out until stopped. Failures with no output between them are
// counted; at the bound the thread ends, so that a driver failing every request does not keep a
// core busy for as long as the connection lives.
void BusConnection::RunNotifications() {
  const UniqueEvent request_event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!request_event) {
    return;
  }
  const HANDLE device = device_.Get();
  int failures = 0;
  while (failures < kNotificationFailureLimit) {
    std::array<std::uint8_t, 72> record = AwaitOutputRecord();
    OVERLAPPED overlapped{};
    overlapped.hEvent = request_event.Get();
    if (!io_.DeviceIoControl(device, BusIoControl::kAwaitOutput, record.data(), static_cast<DWORD>(record.size()),
                             record.data(), static_cast<DWORD>(record.size()), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      // Refused when issued: nothing will ever signal its event.
      ++failures;
      continue;
    }
    if (WaitForRequestOrStop(request_event.Get(), failures) != WAIT_OBJECT_0 + 1) {
      // Stopped, or the waits keep failing: the request must land before its record and OVERLAPPED
      // go with this frame.
      CancelAndCollect(io_, device, &overlapped);
      break;
    }
    DWORD transferred = 0;
    if (io_.GetOverlappedResult(device, &overlapped, &transferred, FALSE)) {
      failures = 0;
      DeliverNotification(record);
      continue;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_OPERATION_ABORTED) {
      break;
    }
    if (error == ERROR_IO_INCOMPLETE) {
      CancelAndCollect(io_, device, &overlapped);
      break;
    }
    ++failures;
  }
}

Expected<Done, BusResult> BusConnection::CheckTargetCall() const {
  if (!device_.IsOpen()) {
    return Fail(BusResult::kBusNotFound);
  }
  return Done{};
}

Expected<Done, BusResult> BusConnection::Connect() {
  if (!stop_event_) {
    return Fail(BusResult::kConnectionNull);
  }
  if (device_.IsOpen()) {
    return Fail(BusResult::kConnectionAlreadyOpen);
  }
  BusResult result = BusResult::kBusNotFound;
  for (const std::wstring& path : io_.EnumerateDevicePaths(kBusInterfaceClass)) {
    const HANDLE device = io_.OpenDevice(path);
    if (device == INVALID_HANDLE_VALUE) {
      result = BusResult::kBusDeviceNotOpened;
      continue;
    }
    device_.Reset(device);
    if (SendRecord(io_, device, BusIoControl::kCheckVersion, CheckVersionRecord(kBusInterfaceVersion)) !=
        ERROR_SUCCESS) {
      device_.Reset();
      result = BusResult::kBusVersionMismatch;
      continue;
    }
    notification_thread_.Reset(CreateThread(nullptr, 0, NotificationThreadMain, this, 0, nullptr));
    if (!notification_thread_) {
      device_.Reset();
      return Fail(BusResult::kBusDeviceNotOpened);
    }
    return Done{};
  }
  return Fail(result);
}

void BusConnection::Disconnect() {
  if (notification_thread_) {
    SetEvent(stop_event_.Get());
    WaitForSingleObject(notification_thread_.Get(), INFINITE);
    notification_thread_.Reset();
    // The connection may be connected again.
    ResetEvent(stop_event_.Get());
  }
  device_.Reset();
  const std::lock_guard<std::mutex> lock(slots_lock_);
  for (BusTarget* target : slots_) {
    if (target != nullptr) {
      target->connection_ = nullptr;
    }
  }
  slots_.fill(nullptr);
}

Expected<Done, BusResult> BusConnection::PlugIn(BusTarget& target) {
  if (const auto checked = CheckTargetCall(); !checked) {
    return checked;
  }
  if (target.state_ == BusTargetState::kNone) {
    return Fail(BusResult::kTargetNotInitialised);
  }
  if (target.state_ == BusTargetState::kConnected) {
    return Fail(BusResult::kTargetAlreadyConnected);
  }
  const HANDLE device = device_.Get();
  std::uint32_t serial = 1;
  while (SendRecord(io_, device, BusIoControl::kPlugIn,
                    PlugInRecord(serial, target.type_, target.vendor_id_, target.product_id_)) != ERROR_SUCCESS) {
    if (serial == kLastSerial) {
      return Fail(BusResult::kNoFreeSerial);
    }
    ++serial;
  }
  target.serial_ = serial;
  const DWORD ready = SendRecord(io_, device, BusIoControl::kWaitReady, WaitReadyRecord(serial));
  if (ready != ERROR_SUCCESS && ready != ERROR_INVALID_PARAMETER) {
    // The controller never became ready: give its serial back. The serial is forgotten too, so that
    // no later report reaches a controller another program plugs in under it.
    SendRecord(io_, device, BusIoControl::kUnplug, UnplugRecord(serial));
    target.state_ = BusTargetState::kDisconnected;
    target.serial_ = 0;
    return Fail(BusResult::kTargetNotPluggedIn);
  }
  target.wait_ready_unsupported_ = ready == ERROR_INVALID_PARAMETER;
  target.state_ = BusTargetState::kConnected;
  // Only a target that is not connected gets here, so it sits in no slot.
  const std::lock_guard<std::mutex> lock(slots_lock_);
  slots_[serial] = &target;
  target.connection_ = this;
  return Done{};
}

Expected<Done, BusResult> BusConnection::Unplug(BusTarget& target) {
  if (const auto checked = CheckTargetCall(); !checked) {
    return checked;
  }
  if (target.state_ == BusTargetState::kNone) {
    return Fail(BusResult::kTargetNotInitialised);
  }
  if (target.state_ != BusTargetState::kConnected) {
    return Fail(BusResult::kTargetNotPluggedIn);
  }
  if (SendRecord(io_, device_.Get(), BusIoControl::kUnplug, UnplugRecord(target.serial_)) != ERROR_SUCCESS) {
    return Fail(BusResult::kUnplugFailed);
  }
  target.state_ = BusTargetState::kDisconnected;
  const std::lock_guard<std::mutex> lock(slots_lock_);
  if (target.connection_ == this) {
    LeaveSlot(target);
  }
  return Done{};
}

Expected<Done, BusResult> BusConnection::SubmitReport(const BusTarget& target, const GamepadState& report) {
  if (const auto checked = CheckTargetCall(); !checked) {
    return checked;
  }
  if (target.serial_ == 0) {
    return Fail(BusResult::kInvalidTarget);
  }
  // A report the driver did not take is lost input, whatever the error: the caller must know.
  if (SendRecord(io_, device_.Get(), BusIoControl::kSubmitReport, SubmitReportRecord(target.serial_, report)) !=
      ERROR_SUCCESS) {
    return Fail(BusResult::kInvalidTarget);
  }
  return Done{};
}

std::array<std::uint8_t, kNotificationDataSize> BusConnection::ReadTargetOutput(const BusTarget& target) {
  const std::lock_guard<std::mutex> lock(slots_lock_);
  return target.output_;
}

}  // namespace corvane::client
