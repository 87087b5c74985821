#include "events/json_line.h"

namespace scrivia::events {

Event localesEvent(const std::vector<std::string>& locales,
                   const std::vector<std::string>& onDevice) {
    return {{"type", "locales"}, {"locales", locales}, {"onDevice", onDevice}};
}
Event readyEvent(const std::string& locale, bool onDevice) {
    return {{"type", "ready"}, {"locale", locale}, {"onDevice", onDevice}};
}
Event levelEvent(double value) {
    return {{"type", "level"}, {"value", value}};
}
Event partialEvent(const std::string& text) {
    return {{"type", "partial"}, {"text", text}};
}
Event finalEvent(const std::string& text, int lineBreaksBefore) {
    Event event{{"type", "final"}, {"text", text}};
    if (lineBreaksBefore > 0) event["lineBreaksBefore"] = lineBreaksBefore;
    return event;
}
Event errorEvent(const std::string& code, const std::string& message) {
    return {{"type", "error"}, {"code", code}, {"message", message}};
}
Event endEvent() {
    return {{"type", "end"}};
}

std::optional<std::string> jsonLine(const Event& event) {
    std::string json;
    try {
        json = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    // Outside strings compact JSON has no solidus, so every one found is in a
    // string and gets its reverse solidus.
    std::string line;
    line.reserve(json.size() + 8);
    for (char c : json) {
        if (c == '/') line += '\\';
        line += c;
    }
    line += '\n';
    return line;
}

}  // namespace scrivia::events
