// The events scrivia writes, and its error codes with their French messages
// (events/error_codes.h, which the build makes from docs/errors.json).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "events/error_codes.h"

namespace scrivia::events {

// A flat JSON object with a string member "type"; members are strings,
// booleans, numbers or arrays of strings.
using Event = nlohmann::json;

Event localesEvent(const std::vector<std::string>& locales,
                   const std::vector<std::string>& onDevice);
Event readyEvent(const std::string& locale, bool onDevice);
Event levelEvent(double value);
Event partialEvent(const std::string& text);
// "lineBreaksBefore" is written only when there are some.
Event finalEvent(const std::string& text, int lineBreaksBefore = 0);
Event errorEvent(const std::string& code, const std::string& message);
Event endEvent();

}  // namespace scrivia::events
