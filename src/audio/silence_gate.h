// Which audio is worth decoding: silence is held back, so the decoder spends
// nothing on it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace scrivia::audio {

struct SilenceGateConfig {
    double frameSeconds = 0.01;    // audio is judged in frames this long
    double marginDb = 10.0;        // a frame this much louder than the noise floor is speech
    double quietestDb = -60.0;     // the floor never falls below this (dB of full scale)
    double floorRiseDb = 0.02;     // the floor follows a louder room this much per frame
    double preRollSeconds = 0.3;   // audio kept from before speech: quiet starts of first words
    double hangoverSeconds = 0.5;  // audio passed after speech: quiet ends and gaps between words

    // What is wrong with these values, naming the field; none when they are usable.
    std::optional<std::string> invalid() const;
};

// Passes the frames of speech, with a pre-roll before and a hangover after
// each stretch of it, and holds back the rest. A plain value: its owner's
// thread only, no clock.
class SilenceGate {
  public:
    // Throws std::invalid_argument for a config that is `invalid()` or a rate that is not > 0.
    SilenceGate(double sampleRate, SilenceGateConfig config = {});

    // Appends to `passed` the samples to decode from `samples`, and any held
    // pre-roll that speech in them calls for.
    void admit(std::span<const std::int16_t> samples, std::vector<std::int16_t>& passed);
    // Forgets what it holds and the speech it heard, for a new utterance.
    void reset();
    // True when it holds back what it hears: before any speech, and once the
    // hangover after speech is over.
    bool closed() const { return !passing_; }

  private:
    void judge(std::vector<std::int16_t>& passed);

    const SilenceGateConfig config_;
    const std::size_t frameSamples_, preRollFrames_, hangoverFrames_;
    std::vector<std::int16_t> frame_;                // the frame being filled
    std::deque<std::vector<std::int16_t>> preRoll_;  // the latest quiet frames held back
    std::size_t hangoverLeft_ = 0;                   // quiet frames still to pass
    bool passing_ = false;                           // the last frame judged was passed
    double floorDb_;
};

}  // namespace scrivia::audio
