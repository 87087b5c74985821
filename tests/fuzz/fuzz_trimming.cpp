// Any bytes: trimming gives a slice of the text, is idempotent, and a text is
// canonically equal to itself.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "events/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string once = scrivia::events::trimmed(text);
    if (text.find(once) == std::string::npos) std::abort();
    if (scrivia::events::trimmed(once) != once) std::abort();
    if (!scrivia::events::canonicallyEqual(text, text)) std::abort();
    return 0;
}
