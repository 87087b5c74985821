// One event as one line of JSON.
#pragma once

#include <optional>
#include <string>

#include "events/events.h"

namespace scrivia::events {

// Compact UTF-8 JSON followed by a line feed, with every solidus written as
// "\/" and every byte sequence that is not valid UTF-8 as U+FFFD, so that no
// line is lost to a stray byte; nothing when the event cannot be serialised.
std::optional<std::string> jsonLine(const Event& event);

}  // namespace scrivia::events
