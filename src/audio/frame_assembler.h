// Cuts a stream of interleaved float samples, arriving in fragments of any
// size, into planar buffers of exactly one size. Pure: no server, no thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/audio_buffer.h"

namespace scrivia::audio {

class FrameAssembler {
  public:
    // Buffers of `bufferSize` frames of `channels` channels at `sampleRate`;
    // a zero size or channel count delivers nothing.
    FrameAssembler(std::uint32_t bufferSize, std::uint32_t channels, double sampleRate);

    // Takes `size` bytes (null `bytes`: a hole of that size, taken as silence so
    // what follows keeps its place in time) and calls `deliver` with each full
    // buffer. A frame cut between two fragments is joined.
    void consume(const std::uint8_t* bytes, std::size_t size,
                 const std::function<void(const AudioBuffer&)>& deliver);

  private:
    void appendFrame(const std::uint8_t* frame,
                     const std::function<void(const AudioBuffer&)>& deliver);

    std::uint32_t bufferSize_;
    std::uint32_t channels_;
    double sampleRate_;
    std::vector<float> samples_;              // channel c at [c * bufferSize_]
    std::vector<float*> channelStarts_;       // into samples_
    std::uint32_t filled_ = 0;                // frames of samples_ filled so far
    std::vector<std::uint8_t> partialFrame_;  // a frame split across fragments
    std::size_t partialBytes_ = 0;
};

}  // namespace scrivia::audio
