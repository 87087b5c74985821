// Any bytes in any chunks: the reader never keeps more than its bound, and a
// "stop" it reports is a line that reads "stop" once trimmed.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/control_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    scrivia::app::ControlLineReader whole, chunked;
    const bool stopped = whole.feed(bytes);
    // Chunking must not change the verdict.
    bool chunkedStop = false;
    for (std::size_t i = 0; i < bytes.size() && !chunkedStop; i += 7)
        chunkedStop = chunked.feed(bytes.substr(i, 7));
    if (stopped != chunkedStop) std::abort();
    return 0;
}
