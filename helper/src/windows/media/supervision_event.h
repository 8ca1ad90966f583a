#pragma once
// What the broadcast engine reports to the session loop: a started broadcast, a profile update, and
// what one supervision step of a running broadcast yields.

#include <string>
#include <variant>

#include "common/result.h"
#include "protocol/messages.h"

namespace corvane::helper {

// A broadcast that started: the active video encoder and whether system audio is part of it.
struct BroadcastStarted {
  std::string encoder;
  bool system_audio_active = false;
};

// What a profile update did: the active encoder's name, or why it failed; `broadcast_lost` when that
// failure also ended the broadcast (neither the new nor the previous configuration could be started).
struct ProfileUpdate {
  Result<std::string> encoder;
  bool broadcast_lost = false;
};

// The broadcast ended by itself (end of stream).
struct BroadcastEnded {};

// The broadcast failed and could not recover; `message` says why.
struct BroadcastFailed {
  std::string message;
};

// Nothing happened, the broadcast ended, statistics are due, a component was switched, or it failed.
using SupervisionEvent = std::variant<std::monostate, BroadcastEnded, protocol::BroadcastStats,
                                      protocol::BroadcastRecovery, BroadcastFailed>;

}  // namespace corvane::helper
