// Any arguments: parsing ends with every argument consumed and a pause in range.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scrivia::app::Settings settings;
    std::string all(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start <= all.size();) {
        std::size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        settings.args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    scrivia::app::parseOptions(settings);
    if (!settings.args.empty() || !(settings.pauseSeconds >= 0.4 && settings.pauseSeconds <= 5.0))
        std::abort();
    return 0;
}
