#pragma once
// What the remote-input consent needs of the virtual Xbox 360 controller (portable): the real one
// sits on the bus driver, tests put a recording one in its place.

#include "gamepad/gamepad_state.h"

namespace corvane::client {

// A virtual controller that can be plugged in, fed reports and unplugged.
class VirtualController {
 public:
  virtual ~VirtualController() = default;

  // Plugs the controller in (or, when it is plugged in already, re-sends a neutral report); false
  // when no controller is attached afterwards.
  virtual bool Attach() = 0;
  // Sends one report; false when there is no controller or the driver refused it.
  virtual bool SubmitReport(const GamepadState& state) = 0;
  // Sends a neutral report now (result ignored) and stops the watchdog until the next report.
  virtual void Neutralize() = 0;
  // Called every 100 ms during a gamepad consent: returns the controller to neutral once, 500 to
  // 600 ms after the last report.
  virtual void WatchdogTick() = 0;
  // Neutral report, unplug and disconnect; harmless when nothing is attached.
  virtual void Release() = 0;
};

}  // namespace corvane::client
