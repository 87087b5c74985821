#include "session/segment_rules.h"

#include <cmath>

namespace scrivia::session {

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
