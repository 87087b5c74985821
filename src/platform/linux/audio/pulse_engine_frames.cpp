// The stream's fragments, cut into the tap's buffers. Audio thread, libpulse's lock held.
#include <pulse/pulseaudio.h>

#include "platform/linux/audio/pulse_engine.h"

namespace scrivia::platform::linux_ {

void PulseEngine::resetStorage() {
    frames_.emplace(bufferSize_, streamChannels_, streamRate_);
}

void PulseEngine::onStreamRead(pa_stream* stream, std::size_t, void* engine) {
    auto* self = static_cast<PulseEngine*>(engine);
    self->loopLock_.assertHeld();  // libpulse calls back with its lock held
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t size = 0;
        if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) return;
        if (self->frames_) {
            self->frames_->consume(static_cast<const std::uint8_t*>(data), size,
                                   [self](const AudioBuffer& buffer) {
                                       self->loopLock_.assertHeld();  // called right here
                                       if (self->block_) self->block_(buffer);
                                   });
        }
        pa_stream_drop(stream);
    }
}

}  // namespace scrivia::platform::linux_
