#include "gamepad/bus_client.h"

#include <setupapi.h>

#include <cstring>

namespace corvane::client {
namespace {

class SystemDeviceIo final : public BusDeviceIo {
 public:
  std::vector<std::wstring> EnumerateDevicePaths(const GUID& interface_class) override {
    std::vector<std::wstring> paths;
    const HDEVINFO set =
        SetupDiGetClassDevsW(&interface_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
      return paths;
    }
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
    SetupDiDestroyDeviceInfoList(set);
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
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) {
    return GetLastError();
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD error = ERROR_SUCCESS;
  if (!io.DeviceIoControl(device, code, input, input_size, nullptr, 0, nullptr, &overlapped)) {
    error = GetLastError();
  }
  // A request refused at once never completes through its OVERLAPPED: waiting for it would hang.
  if (error == ERROR_SUCCESS || error == ERROR_IO_PENDING) {
    DWORD transferred = 0;
    error = io.GetOverlappedResult(device, &overlapped, &transferred, TRUE) ? ERROR_SUCCESS : GetLastError();
  }
  CloseHandle(event);
  return error;
}

template <std::size_t N>
DWORD SendRecord(BusDeviceIo& io, HANDLE device, std::uint32_t code, std::array<std::uint8_t, N> record) {
  return SendRequest(io, device, code, record.data(), static_cast<DWORD>(N));
}

// Hands the notification record to the target in its slot, if that target takes output.
void DeliverNotification(BusConnection& connection, const std::array<std::uint8_t, 72>& record) {
  const std::uint32_t serial = NotificationSerial(record);
  // The serial comes from the driver: never index past the table.
  if (serial == 0 || serial > kLastSerial) {
    return;
  }
  const std::lock_guard<std::mutex> lock(connection.slots_lock);
  BusTarget* target = connection.slots[serial];
  if (target != nullptr && target->type == kDualShock4WiredTarget) {
    target->output = NotificationData(record);
    SetEvent(target->output_event);
  }
}

// Waits for a cancelled request to land, so that the driver never writes into a record or
// OVERLAPPED that is gone.
void CancelAndCollect(BusDeviceIo& io, HANDLE device, OVERLAPPED* overlapped) {
  DWORD transferred = 0;
  if (io.CancelIoEx(device, overlapped) || GetLastError() != ERROR_NOT_FOUND) {
    io.GetOverlappedResult(device, overlapped, &transferred, TRUE);
  }
}

// Waits for the outstanding await-output request or the stop event. A failed wait leaves the
// request out with this OVERLAPPED, so it is waited for again rather than another issued; each
// failed wait counts in `failures`. Returns what woke it, or WAIT_FAILED once the bound is reached.
DWORD WaitForRequestOrStop(const BusConnection& connection, HANDLE request_event, int& failures) {
  const HANDLE waits[2] = {connection.stop_event, request_event};
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

// Keeps one await-output request out until stopped. Failures with no output between them are
// counted; at the bound the thread ends, so that a driver failing every request does not keep a
// core busy for as long as the connection lives.
DWORD WINAPI NotificationThread(LPVOID parameter) {
  auto& connection = *static_cast<BusConnection*>(parameter);
  BusDeviceIo& io = connection.io;
  const HANDLE request_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (request_event == nullptr) {
    return 0;
  }
  int failures = 0;
  while (failures < kNotificationFailureLimit) {
    std::array<std::uint8_t, 72> record = AwaitOutputRecord();
    OVERLAPPED overlapped{};
    overlapped.hEvent = request_event;
    if (!io.DeviceIoControl(connection.device, BusIoControl::kAwaitOutput, record.data(),
                            static_cast<DWORD>(record.size()), record.data(), static_cast<DWORD>(record.size()),
                            nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      // Refused when issued: nothing will ever signal its event.
      ++failures;
      continue;
    }
    if (WaitForRequestOrStop(connection, request_event, failures) != WAIT_OBJECT_0 + 1) {
      // Stopped, or the waits keep failing: the request must land before its record and OVERLAPPED
      // go with this frame.
      CancelAndCollect(io, connection.device, &overlapped);
      break;
    }
    DWORD transferred = 0;
    if (io.GetOverlappedResult(connection.device, &overlapped, &transferred, FALSE)) {
      failures = 0;
      DeliverNotification(connection, record);
      continue;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_OPERATION_ABORTED) {
      break;
    }
    if (error == ERROR_IO_INCOMPLETE) {
      CancelAndCollect(io, connection.device, &overlapped);
      break;
    }
    ++failures;
  }
  CloseHandle(request_event);
  return 0;
}

void CloseDeviceOf(BusConnection& connection) {
  if (connection.device != INVALID_HANDLE_VALUE) {
    connection.io.CloseDevice(connection.device);
    connection.device = INVALID_HANDLE_VALUE;
  }
}

// The checks every target operation starts with.
BusResult CheckTargetCall(const BusConnection* connection, const BusTarget* target) {
  if (connection == nullptr) {
    return BusResult::kConnectionNull;
  }
  if (target == nullptr) {
    return BusResult::kInvalidTarget;
  }
  if (connection->device == INVALID_HANDLE_VALUE) {
    return BusResult::kBusNotFound;
  }
  return BusResult::kSuccess;
}

}  // namespace

std::unique_ptr<BusDeviceIo> SystemBusDeviceIo() { return std::make_unique<SystemDeviceIo>(); }

BusTarget::~BusTarget() {
  if (output_event != nullptr) {
    CloseHandle(output_event);
  }
}

BusConnection::~BusConnection() {
  Disconnect(this);
  if (stop_event != nullptr) {
    CloseHandle(stop_event);
  }
}

std::unique_ptr<BusConnection> AllocateConnection(BusDeviceIo& io) {
  auto connection = std::make_unique<BusConnection>(io);
  connection->stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (connection->stop_event == nullptr) {
    return nullptr;
  }
  return connection;
}

BusResult Connect(BusConnection* connection) {
  if (connection == nullptr) {
    return BusResult::kConnectionNull;
  }
  if (connection->device != INVALID_HANDLE_VALUE) {
    return BusResult::kConnectionAlreadyOpen;
  }
  BusResult result = BusResult::kBusNotFound;
  for (const std::wstring& path : connection->io.EnumerateDevicePaths(kBusInterfaceClass)) {
    const HANDLE device = connection->io.OpenDevice(path);
    if (device == INVALID_HANDLE_VALUE) {
      result = BusResult::kBusDeviceNotOpened;
      continue;
    }
    connection->device = device;
    if (SendRecord(connection->io, device, BusIoControl::kCheckVersion, CheckVersionRecord(kBusInterfaceVersion)) !=
        ERROR_SUCCESS) {
      CloseDeviceOf(*connection);
      result = BusResult::kBusVersionMismatch;
      continue;
    }
    connection->notification_thread = CreateThread(nullptr, 0, NotificationThread, connection, 0, nullptr);
    if (connection->notification_thread == nullptr) {
      CloseDeviceOf(*connection);
      return BusResult::kBusDeviceNotOpened;
    }
    return BusResult::kSuccess;
  }
  return result;
}

void Disconnect(BusConnection* connection) {
  if (connection == nullptr) {
    return;
  }
  if (connection->notification_thread != nullptr && connection->stop_event != nullptr) {
    SetEvent(connection->stop_event);
    WaitForSingleObject(connection->notification_thread, INFINITE);
    CloseHandle(connection->notification_thread);
    connection->notification_thread = nullptr;
    // The connection may be connected again.
    ResetEvent(connection->stop_event);
  }
  CloseDeviceOf(*connection);
  const std::lock_guard<std::mutex> lock(connection->slots_lock);
  connection->slots.fill(nullptr);
}

void FreeConnection(std::unique_ptr<BusConnection> connection) { connection.reset(); }

std::unique_ptr<BusTarget> AllocateTarget() {
  auto target = std::make_unique<BusTarget>();
  target->output_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (target->output_event == nullptr) {
    return nullptr;
  }
  target->state = BusTargetState::kInitialised;
  return target;
}

BusResult PlugIn(BusConnection* connection, BusTarget* target) {
  if (const BusResult checked = CheckTargetCall(connection, target); checked != BusResult::kSuccess) {
    return checked;
  }
  if (target->state == BusTargetState::kNone) {
    return BusResult::kTargetNotInitialised;
  }
  if (target->state == BusTargetState::kConnected) {
    return BusResult::kTargetAlreadyConnected;
  }
  BusDeviceIo& io = connection->io;
  std::uint32_t serial = 1;
  while (SendRecord(io, connection->device, BusIoControl::kPlugIn,
                    PlugInRecord(serial, target->type, target->vendor_id, target->product_id)) != ERROR_SUCCESS) {
    if (serial == kLastSerial) {
      return BusResult::kNoFreeSerial;
    }
    ++serial;
  }
  target->serial = serial;
  const DWORD ready = SendRecord(io, connection->device, BusIoControl::kWaitReady, WaitReadyRecord(serial));
  if (ready != ERROR_SUCCESS && ready != ERROR_INVALID_PARAMETER) {
    // The controller never became ready: give its serial back. The serial is forgotten too, so that
    // no later report reaches a controller another program plugs in under it.
    SendRecord(io, connection->device, BusIoControl::kUnplug, UnplugRecord(serial));
    target->state = BusTargetState::kDisconnected;
    target->serial = 0;
    return BusResult::kTargetNotPluggedIn;
  }
  target->wait_ready_unsupported = ready == ERROR_INVALID_PARAMETER;
  target->state = BusTargetState::kConnected;
  const std::lock_guard<std::mutex> lock(connection->slots_lock);
  connection->slots[serial] = target;
  return BusResult::kSuccess;
}

BusResult Unplug(BusConnection* connection, BusTarget* target) {
  if (const BusResult checked = CheckTargetCall(connection, target); checked != BusResult::kSuccess) {
    return checked;
  }
  if (target->state == BusTargetState::kNone) {
    return BusResult::kTargetNotInitialised;
  }
  if (target->state != BusTargetState::kConnected) {
    return BusResult::kTargetNotPluggedIn;
  }
  if (SendRecord(connection->io, connection->device, BusIoControl::kUnplug, UnplugRecord(target->serial)) !=
      ERROR_SUCCESS) {
    return BusResult::kUnplugFailed;
  }
  target->state = BusTargetState::kDisconnected;
  const std::lock_guard<std::mutex> lock(connection->slots_lock);
  if (target->serial <= kLastSerial && connection->slots[target->serial] == target) {
    connection->slots[target->serial] = nullptr;
  }
  return BusResult::kSuccess;
}

void FreeTarget(BusConnection* connection, std::unique_ptr<BusTarget> target) {
  if (connection != nullptr && target != nullptr) {
    // A target whose unplug was refused still sits in its slot.
    const std::lock_guard<std::mutex> lock(connection->slots_lock);
    for (BusTarget*& slot : connection->slots) {
      if (slot == target.get()) {
        slot = nullptr;
      }
    }
  }
  target.reset();
}

BusResult SubmitReport(BusConnection* connection, const BusTarget* target, const GamepadState& report) {
  if (const BusResult checked = CheckTargetCall(connection, target); checked != BusResult::kSuccess) {
    return checked;
  }
  if (target->serial == 0) {
    return BusResult::kInvalidTarget;
  }
  // A report the driver did not take is lost input, whatever the error: the caller must know.
  const DWORD error = SendRecord(connection->io, connection->device, BusIoControl::kSubmitReport,
                                 SubmitReportRecord(target->serial, report));
  return error == ERROR_SUCCESS ? BusResult::kSuccess : BusResult::kInvalidTarget;
}

std::array<std::uint8_t, kNotificationDataSize> ReadTargetOutput(BusConnection& connection, const BusTarget& target) {
  const std::lock_guard<std::mutex> lock(connection.slots_lock);
  return target.output;
}

}  // namespace corvane::client
