#include <algorithm>
#include <cmath>

#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::sendLevel(const platform::AudioBuffer& buffer) {
    const auto at = now();
    if (!(at - lastLevelSent > levelInterval)) return;
    if (buffer.floatChannelData == nullptr) return;
    lastLevelSent = at;
    const std::uint32_t frames = buffer.frameLength;
    if (frames == 0) return;

    // Single precision throughout, as the meter's figures are defined.
    const float* samples = buffer.floatChannelData[0];
    float sum = 0.0f;
    for (std::uint32_t i = 0; i < frames; ++i) sum += samples[i] * samples[i];
    const float rms = std::sqrt(sum / static_cast<float>(frames));

    const double scaled = static_cast<double>(rms) * 12.0;
    const double level = std::isnan(scaled) ? 1.0 : std::min(1.0, scaled);
    environment.stream.emit(events::levelEvent(std::round(level * 100.0) / 100.0));
}

}  // namespace scrivia::session
