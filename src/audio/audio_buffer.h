// A buffer of microphone samples as the tap hands it on: planar float
// channels, borrowed for the length of the call.
#pragma once

#include <cstdint>

namespace scrivia::audio {

struct AudioBuffer {
    const float* const* floatChannelData = nullptr;  // null when no float samples
    std::uint32_t frameLength = 0;                   // valid frames per channel
    std::uint32_t channelCount = 0;
    double sampleRate = 0;  // hertz of these samples
};

}  // namespace scrivia::audio
