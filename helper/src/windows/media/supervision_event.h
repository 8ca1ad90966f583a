#pragma once
// What one supervision step of a running broadcast yields for the session loop.

#include <string>
#include <variant>

#include "protocol/messages.h"

namespace corvane::helper {

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
