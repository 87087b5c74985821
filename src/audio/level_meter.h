// The microphone meter: how loud a buffer is, at most once per interval.
// Audio thread only; holds no locks and touches no platform.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace scrivia::audio {

struct LevelMeterConfig {
    double intervalSeconds = 0.12;  // a level is reported only after more than this
    double gain = 12.0;             // RMS of speech is small; this spreads it over 0..1

    // What is wrong with these values, naming the field; none when they are usable.
    std::optional<std::string> invalid() const;
};

class LevelMeter {
  public:
    // Throws std::invalid_argument for a config that is `invalid()`.
    explicit LevelMeter(LevelMeterConfig config = {});

    // The level in hundredths for a buffer of `frames` first-channel samples
    // arriving at `now` (seconds), or nothing when it is too soon after the
    // last one or the buffer has no float samples (`samples` null). An empty
    // buffer restarts the interval without a level.
    std::optional<double> measure(double now, const float* samples, std::uint32_t frames);

  private:
    LevelMeterConfig config_;
    // Far back enough that the first buffer always passes.
    double lastSent_ = -std::numeric_limits<double>::infinity();
};

}  // namespace scrivia::audio
