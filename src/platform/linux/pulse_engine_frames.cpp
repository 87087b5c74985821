// Interleaved float samples from the stream, cut into the tap's buffers.
// Audio thread, libpulse's lock held.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/pulse_engine.h"

namespace scrivia::platform::linux_ {

namespace {
constexpr std::size_t kSampleBytes = sizeof(float);
}  // namespace

void PulseEngine::resetStorage() {
    samples_.assign(static_cast<std::size_t>(bufferSize_) * streamChannels_, 0.0f);
    channelStarts_.resize(streamChannels_);
    for (std::uint32_t c = 0; c < streamChannels_; ++c) {
        channelStarts_[c] = samples_.data() + static_cast<std::size_t>(c) * bufferSize_;
    }
    filled_ = 0;
    partialFrame_.assign(streamChannels_ * kSampleBytes, 0);
    partialBytes_ = 0;
}

void PulseEngine::onStreamRead(pa_stream* stream, std::size_t, void* engine) {
    auto* self = static_cast<PulseEngine*>(engine);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t size = 0;
        if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) return;
        // A hole (no data but a size) becomes silence, so the audio after it
        // keeps its place in time.
        self->consume(static_cast<const std::uint8_t*>(data), size);
        pa_stream_drop(stream);
    }
}

void PulseEngine::consume(const std::uint8_t* bytes, std::size_t size) {
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
                appendFrame(partialFrame_.data());
                partialBytes_ = 0;
            }
            continue;
        }
        appendFrame(bytes);
        if (bytes != nullptr) bytes += frameBytes;
        size -= frameBytes;
    }
}

void PulseEngine::appendFrame(const std::uint8_t* frame) {
    if (bufferSize_ == 0) return;
    for (std::uint32_t c = 0; c < streamChannels_; ++c) {
        float sample = 0.0f;
        if (frame != nullptr) std::memcpy(&sample, frame + c * kSampleBytes, kSampleBytes);
        channelStarts_[c][filled_] = sample;
    }
    if (++filled_ < bufferSize_) return;
    filled_ = 0;
    if (block_) {
        const AudioBuffer buffer{channelStarts_.data(), bufferSize_, streamChannels_, streamRate_};
        block_(buffer);
    }
}

}  // namespace scrivia::platform::linux_
