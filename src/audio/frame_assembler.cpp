#include "audio/frame_assembler.h"

#include <algorithm>
#include <cstring>

namespace scrivia::audio {

namespace {
constexpr std::size_t kSampleBytes = sizeof(float);
}  // namespace

FrameAssembler::FrameAssembler(std::uint32_t bufferSize, std::uint32_t channels, double sampleRate)
    : bufferSize_(channels == 0 ? 0 : bufferSize),
      channels_(channels),
      sampleRate_(sampleRate),
      samples_(static_cast<std::size_t>(bufferSize_) * channels, 0.0f),
      channelStarts_(channels),
      partialFrame_(channels * kSampleBytes, 0) {
    for (std::uint32_t c = 0; c < channels_; ++c) {
        channelStarts_[c] = samples_.data() + static_cast<std::size_t>(c) * bufferSize_;
    }
}

void FrameAssembler::consume(const std::uint8_t* bytes, std::size_t size,
                             const std::function<void(const AudioBuffer&)>& deliver) {
    const std::size_t frameBytes = partialFrame_.size();
    if (frameBytes == 0) return;
    while (size > 0) {
        if (partialBytes_ > 0 || size < frameBytes) {
            const std::size_t taken = std::min(frameBytes - partialBytes_, size);
            if (bytes != nullptr) {
                std::memcpy(partialFrame_.data() + partialBytes_, bytes, taken);
                bytes += taken;
            } else {
                std::memset(partialFrame_.data() + partialBytes_, 0, taken);
            }
            partialBytes_ += taken;
            size -= taken;
            if (partialBytes_ == frameBytes) {
                appendFrame(partialFrame_.data(), deliver);
                partialBytes_ = 0;
            }
            continue;
        }
        appendFrame(bytes, deliver);
        if (bytes != nullptr) bytes += frameBytes;
        size -= frameBytes;
    }
}

void FrameAssembler::appendFrame(const std::uint8_t* frame,
                                 const std::function<void(const AudioBuffer&)>& deliver) {
    if (bufferSize_ == 0) return;
    for (std::uint32_t c = 0; c < channels_; ++c) {
        float sample = 0.0f;
        if (frame != nullptr) std::memcpy(&sample, frame + c * kSampleBytes, kSampleBytes);
        channelStarts_[c][filled_] = sample;
    }
    if (++filled_ < bufferSize_) return;
    filled_ = 0;
    deliver(AudioBuffer{channelStarts_.data(), bufferSize_, channels_, sampleRate_});
}

}  // namespace scrivia::audio
