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
  if (!connection_->SubmitReport(*target_, state)) {
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
    connection_ = std::make_unique<BusConnection>(*io_);
    if (!connection_->Connect()) {
      Release();
      return false;
    }
    target_ = std::make_unique<BusTarget>();
    if (!connection_->PlugIn(*target_)) {
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
    static_cast<void>(connection_->SubmitReport(*target_, GamepadState{}));  // best effort
  }
  last_report_tick_ = 0;
}

void VirtualGamepad::WatchdogTick() {
  if (connection_ == nullptr || target_ == nullptr || last_report_tick_ == 0) {
    return;
  }
  if (now_() - last_report_tick_ > kWatchdogMilliseconds) {
    static_cast<void>(connection_->SubmitReport(*target_, GamepadState{}));  // best effort
    last_report_tick_ = 0;
  }
}

void VirtualGamepad::Release() {
  if (target_ != nullptr && connection_ != nullptr) {
    static_cast<void>(connection_->SubmitReport(*target_, GamepadState{}));  // best effort
    static_cast<void>(connection_->Unplug(*target_));
  }
  // The target leaves its slot before the connection (and its notification thread) goes.
  target_.reset();
  connection_.reset();
  last_report_tick_ = 0;
}

bool VirtualGamepad::ProbeReady() {
  if (target_ != nullptr) {
    return true;
  }
  BusConnection probe(*io_);
  return probe.Connect().HasValue();
}

}  // namespace corvane::client
