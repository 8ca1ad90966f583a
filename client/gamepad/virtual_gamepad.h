#pragma once
// The virtual Xbox 360 controller on the bus driver: plugged in for a gamepad consent, fed the remote
// participant's reports, returned to neutral by a 500 ms watchdog and unplugged on release.

#include <cstdint>
#include <functional>
#include <memory>

#include "gamepad/bus_client.h"
#include "gamepad/gamepad_state.h"
#include "gamepad/virtual_controller.h"

namespace corvane::client {

// The host's one virtual controller; used on the UI thread only.
class VirtualGamepad : public VirtualController {
 public:
  // Reaches the driver through `io`; `now` is a millisecond clock (GetTickCount64 in the host).
  VirtualGamepad(std::unique_ptr<BusDeviceIo> io, std::function<std::uint64_t()> now);
  // Releases the controller, so that nothing stays pressed.
  ~VirtualGamepad() override;
  VirtualGamepad(const VirtualGamepad&) = delete;
  VirtualGamepad& operator=(const VirtualGamepad&) = delete;

  // Connects and plugs a controller in, or re-sends a neutral report to the one plugged in; when
  // anything fails, including that neutral report, nothing stays attached.
  bool Attach() override;
  // Sends one report; the watchdog counts from it.
  bool SubmitReport(const GamepadState& state) override;
  // Sends a neutral report and stops the watchdog until the next report.
  void Neutralize() override;
  // Sends one neutral report when more than 500 ms passed since the last report.
  void WatchdogTick() override;
  // Neutral report, unplug, disconnect; harmless when nothing is attached.
  void Release() override;
  // Whether a controller could be attached now: true while one is, otherwise whether the bus answers.
  bool ProbeReady();

 private:
  // Sends `state`; on success the watchdog counts from now.
  bool Send(const GamepadState& state);

  std::unique_ptr<BusDeviceIo> io_;
  std::function<std::uint64_t()> now_;
  std::unique_ptr<BusConnection> connection_;
  std::unique_ptr<BusTarget> target_;
  std::uint64_t last_report_tick_ = 0;  // 0 = no report waits to be neutralised
};

}  // namespace corvane::client
