#include "gamepad/virtual_gamepad.h"

#include <utility>

namespace corvane::client {
namespace {

// Reports older than this are taken back by the watchdog.
constexpr std::uint64_t kWatchdogMilliseconds = 500;

}  // namespace

VirtualGamepad::VirtualGamepad(std::unique_ptr<BusDeviceIo> io, std::function<std::uint64_t()> now)
    : io_(std::move(io)), now_(std::move(now)) {}

VirtualGamepad::~VirtualGamepad() { Release(); }

bool VirtualGamepad::Send(const GamepadState& state) {
  if (corvane::client::SubmitReport(connection_.get(), target_.get(), state) != BusResult::kSuccess) {
    return false;
  }
  // 0 means "nothing pending", so a clock reading of 0 counts as 1.
  const std::uint64_t now = now_();
  last_report_tick_ = now == 0 ? 1 : now;
  return true;
}

bool VirtualGamepad::Attach() {
  if (target_ == nullptr) {
    Release();
    connection_ = AllocateConnection(*io_);
    if (connection_ == nullptr || Connect(connection_.get()) != BusResult::kSuccess) {
      Release();
      return false;
    }
    target_ = AllocateTarget();
    if (target_ == nullptr || PlugIn(connection_.get(), target_.get()) != BusResult::kSuccess) {
      Release();
      return false;
    }
  }
  // A controller that does not take the neutral report would lose every report after it: let it go.
  if (!Send(GamepadState{})) {
    Release();
    return false;
  }
  return true;
}

bool VirtualGamepad::SubmitReport(const GamepadState& state) {
  if (connection_ == nullptr || target_ == nullptr) {
    return false;
  }
  return Send(state);
}

void VirtualGamepad::Neutralize() {
  if (connection_ != nullptr && target_ != nullptr) {
    corvane::client::SubmitReport(connection_.get(), target_.get(), GamepadState{});
  }
  last_report_tick_ = 0;
}

void VirtualGamepad::WatchdogTick() {
  if (connection_ == nullptr || target_ == nullptr || last_report_tick_ == 0) {
    return;
  }
  if (now_() - last_report_tick_ > kWatchdogMilliseconds) {
    corvane::client::SubmitReport(connection_.get(), target_.get(), GamepadState{});
    last_report_tick_ = 0;
  }
}

void VirtualGamepad::Release() {
  if (target_ != nullptr) {
    if (connection_ != nullptr) {
      corvane::client::SubmitReport(connection_.get(), target_.get(), GamepadState{});
      Unplug(connection_.get(), target_.get());
    }
    FreeTarget(connection_.get(), std::move(target_));
  }
  if (connection_ != nullptr) {
    FreeConnection(std::move(connection_));
  }
  last_report_tick_ = 0;
}

bool VirtualGamepad::ProbeReady() {
  if (target_ != nullptr) {
    return true;
  }
  std::unique_ptr<BusConnection> probe = AllocateConnection(*io_);
  if (probe == nullptr) {
    return false;
  }
  const bool ready = Connect(probe.get()) == BusResult::kSuccess;
  Disconnect(probe.get());
  FreeConnection(std::move(probe));
  return ready;
}

}  // namespace corvane::client
