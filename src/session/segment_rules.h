// When the current segment closes. Main thread only; holds no locks and
// touches no platform: instants are plain seconds.
#pragma once

#include <optional>
#include <string>

namespace scrivia::session {

struct SegmentRulesConfig {
    double pauseSeconds = 1.2;    // unchanged text for this long closes the segment, > 0
    double maxAgeSeconds = 45.0;  // a segment older than this is closed, or renewed if silent

    // What is wrong with these values, naming the field; none when they are usable.
    std::optional<std::string> invalid() const;
};

enum class SegmentVerdict { keep, close, renew };

// What the watchdog does with a segment that started at `segmentStart` and
// whose text last changed at `lastChange`.
SegmentVerdict judgeSegment(const SegmentRulesConfig& config, double now, double lastChange,
                            double segmentStart, bool hasText);

// `seconds` as a pause the user may choose: within [0.4, 5]; NaN gives 0.4.
double clampedPause(double seconds);

}  // namespace scrivia::session
