// Any text in an event: one line of valid JSON that gives the text back, with
// invalid UTF-8 replaced.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "events/json_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    auto line = scrivia::events::jsonLine(scrivia::events::finalEvent(text));
    if (!line || line->find('\n') != line->size() - 1) std::abort();
    auto parsed = nlohmann::json::parse(*line, nullptr, false);
    if (parsed.is_discarded() || parsed["type"] != "final") std::abort();
    const auto back = parsed["text"].get<std::string>();
    // Valid UTF-8 comes back as it was.
    if (nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::ignore) ==
            nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) &&
        back != text)
        std::abort();
    return 0;
}
