#pragma once
// The rectangle a "sourceId" names: the virtual screen ("-1"), a monitor by its handle or by its
// place in the enumeration, or the primary monitor (Windows).

#include <cstdint>
#include <optional>
#include <string>

#include "services/input_event.h"

namespace corvane::client {

// The number at the start of `text` as std::stoull reads it (leading white space skipped, a sign
// allowed, digits up to the first other character); nothing without digits or on overflow.
std::optional<std::uint64_t> ParseSourceNumber(const std::string& text);

// The monitor or virtual-screen rectangle `source_id` names, the task bar included.
ConsentArea ResolveSourceRect(const std::string& source_id);

}  // namespace corvane::client
