#pragma once
// The monitors and top-level windows that can be broadcast, enumerated afresh on every call.

#include <vector>

#include "common/result.h"
#include "protocol/messages.h"

namespace corvane::helper {

// Monitors (in the system's order) then titled, visible windows of other processes (sorted by name),
// at most 256 entries once windows are added; or the system error of a failed enumeration.
Result<std::vector<protocol::CaptureSource>> list_capture_sources();

}  // namespace corvane::helper
