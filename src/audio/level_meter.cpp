#include "audio/level_meter.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "audio/loudness.h"

namespace scrivia::audio {

std::optional<std::string> LevelMeterConfig::invalid() const {
    if (!(intervalSeconds >= 0 && std::isfinite(intervalSeconds)))
        return "intervalSeconds must be a finite number >= 0";
    if (!(gain > 0 && std::isfinite(gain))) return "gain must be a finite number > 0";
    return std::nullopt;
}

LevelMeter::LevelMeter(LevelMeterConfig config) : config_(config) {
    if (auto why = config.invalid()) throw std::invalid_argument(*why);
}

std::optional<double> LevelMeter::measure(double now, const float* samples, std::uint32_t frames) {
    if (!(now - lastSent_ > config_.intervalSeconds)) return std::nullopt;
    if (samples == nullptr) return std::nullopt;
    lastSent_ = now;
    if (frames == 0) return std::nullopt;

    // Single precision throughout, as the meter's figures are defined.
    const float rms = std::sqrt(meanSquare<float>(std::span<const float>(samples, frames)));
    const double scaled = static_cast<double>(rms) * config_.gain;
    const double level = std::isnan(scaled) ? 1.0 : std::min(1.0, scaled);
    return std::round(level * 100.0) / 100.0;
}

}  // namespace scrivia::audio
