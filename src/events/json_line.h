// One event as one line of JSON.
#pragma once

#include <optional>
#include <string>

#include "events/events.h"

namespace scrivia::events {

// Compact UTF-8 JSON followed by a line feed, with every solidus written as
// "\/"; nothing when the event cannot be serialised (invalid UTF-8).
std::optional<std::string> jsonLine(const Event& event);

}  // namespace scrivia::events
