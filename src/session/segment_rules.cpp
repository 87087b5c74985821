#include "session/segment_rules.h"

#include <cmath>

namespace scrivia::session {

std::optional<std::string> SegmentRulesConfig::invalid() const {
    if (!(pauseSeconds > 0 && std::isfinite(pauseSeconds)))
        return "pauseSeconds must be a finite number > 0";
    // Else no segment could ever close at a pause.
    if (!(maxAgeSeconds >= pauseSeconds && std::isfinite(maxAgeSeconds)))
        return "maxAgeSeconds must be a finite number >= pauseSeconds";
    return std::nullopt;
}

SegmentVerdict judgeSegment(const SegmentRulesConfig& config, double now, double lastChange,
                            double segmentStart, bool hasText) {
    if (hasText && now - lastChange >= config.pauseSeconds) return SegmentVerdict::close;
    if (now - segmentStart > config.maxAgeSeconds)
        return hasText ? SegmentVerdict::close : SegmentVerdict::renew;
    return SegmentVerdict::keep;
}

double clampedPause(double seconds) {
    return std::fmin(std::fmax(seconds, 0.4), 5.0);
}

}  // namespace scrivia::session
