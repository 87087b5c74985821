#include "audio/silence_gate.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "audio/loudness.h"

namespace scrivia::audio {
namespace {

std::size_t frames(double seconds, double frameSeconds) {
    return static_cast<std::size_t>(std::lround(seconds / frameSeconds));
}

double levelDb(const std::vector<std::int16_t>& frame) {
    const auto power = meanSquare<double>(std::span<const std::int16_t>(frame));
    return 10 * std::log10(power / (32768.0 * 32768.0) + 1e-12);
}

// The config, once it is known to be usable.
const SilenceGateConfig& checked(const SilenceGateConfig& config, double sampleRate) {
    if (auto why = config.invalid()) throw std::invalid_argument(*why);
    if (!(sampleRate > 0 && std::isfinite(sampleRate)))
        throw std::invalid_argument("sampleRate must be a finite number > 0");
    return config;
}

}  // namespace

std::optional<std::string> SilenceGateConfig::invalid() const {
    const auto finite = [](double x) { return std::isfinite(x); };
    if (!(frameSeconds > 0 && finite(frameSeconds)))
        return "frameSeconds must be a finite number > 0";
    if (!(marginDb >= 0 && finite(marginDb))) return "marginDb must be a finite number >= 0";
    if (!finite(quietestDb)) return "quietestDb must be a finite number";
    if (!(floorRiseDb >= 0 && finite(floorRiseDb)))
        return "floorRiseDb must be a finite number >= 0";
    if (!(preRollSeconds >= 0 && finite(preRollSeconds)))
        return "preRollSeconds must be a finite number >= 0";
    if (!(hangoverSeconds >= 0 && finite(hangoverSeconds)))
        return "hangoverSeconds must be a finite number >= 0";
    return std::nullopt;
}

SilenceGate::SilenceGate(double sampleRate, SilenceGateConfig config)
    : config_(checked(config, sampleRate)),
      frameSamples_(std::max<std::size_t>(1, std::lround(sampleRate * config.frameSeconds))),
      preRollFrames_(frames(config.preRollSeconds, config.frameSeconds)),
      hangoverFrames_(frames(config.hangoverSeconds, config.frameSeconds)),
      floorDb_(config.quietestDb) {}

void SilenceGate::admit(std::span<const std::int16_t> samples, std::vector<std::int16_t>& passed) {
    for (std::int16_t sample : samples) {
        frame_.push_back(sample);
        if (frame_.size() == frameSamples_) judge(passed);
    }
}

void SilenceGate::judge(std::vector<std::int16_t>& passed) {
    const double level = levelDb(frame_);
    const bool speech = level > floorDb_ + config_.marginDb;
    // The floor drops to a quieter room at once and rises to a louder one
    // slowly, so speech itself barely lifts it.
    floorDb_ = std::max(config_.quietestDb, std::min(level, floorDb_ + config_.floorRiseDb));
    if (speech) {
        for (const auto& held : preRoll_) passed.insert(passed.end(), held.begin(), held.end());
        preRoll_.clear();
        hangoverLeft_ = hangoverFrames_;
    } else if (hangoverLeft_ > 0) {
        --hangoverLeft_;
    } else {
        if (preRollFrames_ > 0) preRoll_.push_back(std::move(frame_));
        if (preRoll_.size() > preRollFrames_) preRoll_.pop_front();
        frame_.clear();
        passing_ = false;
        return;
    }
    passing_ = true;
    passed.insert(passed.end(), frame_.begin(), frame_.end());
    frame_.clear();
}

void SilenceGate::reset() {
    frame_.clear();
    preRoll_.clear();
    hangoverLeft_ = 0;
    passing_ = false;
    // The noise floor is kept: it belongs to the room, not the utterance. Made
    // anew, it would let the first seconds of each segment in a noisy room
    // through to the search while it climbed back.
}

}  // namespace scrivia::audio
