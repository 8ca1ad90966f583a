#pragma once
// A fake of the virtual-gamepad bus driver behind the bus client's device-I/O seam, for tests. It
// checks every request record byte for byte, keeps the bus's plugged serials and the reports each
// one got, and completes requests through their OVERLAPPED and event as a driver does: ordinary
// requests pend (ERROR_IO_PENDING) and are completed at once, refused serials fail at once, and the
// notification request stays out until the test completes, fails or cancels it (or, for a counted
// number of requests, fails at once or is refused when issued).

#include <windows.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gamepad/bus_client.h"
#include "gamepad/gamepad_state.h"

namespace corvane::client::testing {

// One request as the driver received it.
struct FakeBusRequest {
  DWORD code = 0;
  std::vector<std::uint8_t> input;
};

// How one interface of the fake bus behaves.
struct FakeBusInterface {
  bool opens = true;            // CreateFileW succeeds
  bool accepts_version = true;  // check-version succeeds
};

// The fake driver; it must outlive every seam it hands out.
class FakeBusDriver {
 public:
  using Interface = FakeBusInterface;

  FakeBusDriver() = default;
  ~FakeBusDriver();
  FakeBusDriver(const FakeBusDriver&) = delete;
  FakeBusDriver& operator=(const FakeBusDriver&) = delete;

  // A device-I/O seam bound to this driver.
  std::unique_ptr<BusDeviceIo> Seam();

  // --- The scene ---
  // Adds a bus interface (none: no driver installed).
  void AddInterface(Interface behaviour = {});
  // Another program's controller holds `serial`.
  void TakeSerial(std::uint32_t serial);
  // Every plug-in request is refused.
  void RefuseAllSerials();
  // Wait-ready requests complete with `error` (ERROR_SUCCESS: accepted).
  void SetWaitReadyError(DWORD error);
  // Report requests complete with `error`; with `when_issued` they are refused at once with it.
  void SetReportError(DWORD error, bool when_issued = false);
  // Unplug requests complete with `error`.
  void SetUnplugError(DWORD error);
  // Runs on the caller's thread when an unplug request arrives, before it completes.
  void SetUnplugHook(std::function<void(std::uint32_t serial)> hook);
  // CancelIoEx of the notification request is recorded but completes only on `FinishCancellation`.
  void HoldCancellation();
  // Completes a held cancellation with ERROR_OPERATION_ABORTED.
  void FinishCancellation();

  // --- The notification request ---
  // Waits (bounded) until `count` notification requests were issued in all; false on time-out.
  bool WaitForNotificationRequests(std::size_t count);
  // Waits (bounded) until a CancelIoEx of the notification request arrived; false on time-out.
  bool WaitForCancellation();
  // Completes the outstanding notification request with a record for `serial` carrying `data`.
  void CompleteNotification(std::uint32_t serial, const std::array<std::uint8_t, 64>& data);
  // Completes the outstanding notification request with `error`.
  void FailNotification(DWORD error);
  // Signals the notification request's event while the request is still out.
  void SignalNotificationEarly();
  // The next `count` notification requests pend and complete at once with `error`, as from a driver
  // that fails every one of them; later ones stay out as usual.
  void FailNotificationsAtOnce(DWORD error, std::size_t count);
  // The next `count` notification requests are refused when issued with `error`.
  void RefuseNotifications(DWORD error, std::size_t count);
  // Waits (bounded) until the device handle is closed; false on time-out.
  bool WaitForDeviceClosed(DWORD milliseconds);

  // --- What happened ---
  std::vector<FakeBusRequest> Requests() const;
  // The codes of all requests but the notification requests, in order.
  std::vector<DWORD> Codes() const;
  std::size_t Count(DWORD code) const;
  std::size_t NotificationRequests() const;
  std::size_t Cancellations() const;
  // Every report the serial got, in order.
  std::vector<GamepadState> Reports(std::uint32_t serial) const;
  // Serials this client holds plugged in.
  std::set<std::uint32_t> Plugged() const;
  // Device paths opened, and how many handles are open now.
  std::vector<std::wstring> Opened() const;
  int OpenDevices() const;
  // Protocol violations seen: wrong records, requests on closed handles, waits that never end.
  std::vector<std::string> Faults() const;

 private:
  friend class FakeDeviceIo;

  std::vector<std::wstring> EnumerateDevicePaths(const GUID& interface_class);
  HANDLE OpenDevice(const std::wstring& path);
  BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                       OVERLAPPED* overlapped);
  BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* bytes_transferred, BOOL wait);
  BOOL CancelIoEx(HANDLE device, OVERLAPPED* overlapped);
  BOOL CloseDevice(HANDLE device);

  // How an ordinary request ends: refused at once, or pending and completed with `error`.
  struct Outcome {
    DWORD error = ERROR_SUCCESS;
    bool at_once = false;
  };
  // Runs an ordinary request on the bus state; notes faults. Called with the lock held.
  Outcome Serve(std::size_t interface_index, DWORD code, const std::vector<std::uint8_t>& input);
  // Completes queued requests from a thread of its own, as a driver's completion would arrive.
  void CompleteQueued();
  // Completes the outstanding notification request. Called with the lock held.
  void CompleteOutstanding(DWORD error, DWORD bytes);
  void Fault(std::string text);
  bool KnownOpen(HANDLE device) const;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Interface> interfaces_;
  std::set<std::uint32_t> taken_;
  bool refuse_all_serials_ = false;
  DWORD wait_ready_error_ = ERROR_SUCCESS;
  DWORD report_error_ = ERROR_SUCCESS;
  bool report_when_issued_ = false;
  DWORD unplug_error_ = ERROR_SUCCESS;
  std::function<void(std::uint32_t)> unplug_hook_;
  bool hold_cancellation_ = false;

  std::vector<FakeBusRequest> requests_;
  std::set<std::uint32_t> plugged_;
  std::vector<std::pair<std::uint32_t, GamepadState>> reports_;
  std::vector<std::wstring> opened_;
  std::map<HANDLE, std::size_t> open_handles_;  // handle → interface index
  std::size_t next_handle_ = 0;
  std::vector<std::string> faults_;

  // The notification request: out (waiting for the driver) from issue to completion, collected
  // when the client read its completed result.
  OVERLAPPED* notification_ = nullptr;
  std::uint8_t* notification_record_ = nullptr;
  bool notification_out_ = false;
  bool notification_uncollected_ = false;
  std::size_t notification_requests_ = 0;
  // The counted failures of the next notification requests.
  std::size_t notification_failures_left_ = 0;
  DWORD notification_failure_ = ERROR_SUCCESS;
  bool notification_failure_when_issued_ = false;
  std::size_t cancellations_ = 0;
  bool device_closed_ = false;

  std::deque<std::pair<OVERLAPPED*, DWORD>> completions_;
  bool stopping_ = false;
  std::thread completer_{[this] { CompleteQueued(); }};
};

}  // namespace corvane::client::testing
