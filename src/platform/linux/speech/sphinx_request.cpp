#include "platform/linux/speech/sphinx_request.h"

#include <cmath>

namespace scrivia::platform::linux_ {

void SphinxRequest::append(const AudioBuffer& buffer) {
    if (buffer.floatChannelData == nullptr || buffer.frameLength == 0 || buffer.channelCount == 0 ||
        !std::isfinite(buffer.sampleRate) || buffer.sampleRate <= 0) {
        return;
    }
    // The decoder hears one channel: the average of all of them.
    AudioChunk chunk;
    chunk.sampleRate = buffer.sampleRate;
    chunk.samples.assign(buffer.floatChannelData[0],
                         buffer.floatChannelData[0] + buffer.frameLength);
    for (std::uint32_t c = 1; c < buffer.channelCount; ++c) {
        const float* channel = buffer.floatChannelData[c];
        for (std::uint32_t i = 0; i < buffer.frameLength; ++i) chunk.samples[i] += channel[i];
    }
    const float scale = 1.0f / static_cast<float>(buffer.channelCount);
    for (float& sample : chunk.samples) {
        // A stray NaN would poison the resampler's filter for the rest of the request.
        sample = std::isfinite(sample) ? sample * scale : 0.0f;
    }

    WakeWorker wake;
    {
        MutexLock lock(mutex_);
        if (ended_ || discarded_) return;
        chunks_.push_back(std::move(chunk));
        wake = wake_;
    }
    if (wake) wake();
}

void SphinxRequest::endAudio() {
    WakeWorker wake;
    {
        MutexLock lock(mutex_);
        ended_ = true;
        wake = wake_;
    }
    if (wake) wake();
}

SphinxRequest::Pending SphinxRequest::take() {
    MutexLock lock(mutex_);
    Pending pending;
    pending.chunks.swap(chunks_);
    pending.ended = ended_;
    return pending;
}

bool SphinxRequest::attach(WakeWorker wake) {
    MutexLock lock(mutex_);
    if (wake_ || !wake) return false;
    wake_ = std::move(wake);
    return true;
}

void SphinxRequest::discard() {
    MutexLock lock(mutex_);
    discarded_ = true;
    chunks_.clear();
}

SphinxTask::SphinxTask(std::shared_ptr<SphinxRequest> request, ResultHandler handler,
                       WakeWorker wake)
    : request(std::move(request)),
      reportsPartialResults(this->request->settings.shouldReportPartialResults),
      punctuates(this->request->settings.addsPunctuation.value_or(true)),
      wake_(std::move(wake)),
      handler_(std::move(handler)) {}

void SphinxTask::cancel() {
    cancelled.store(true);
    request->discard();
    ResultHandler released;
    {
        MutexLock lock(handlerMutex_);
        released.swap(handler_);
    }
    if (wake_) wake_();
}

void SphinxTask::deliver(platform::RunLoop& loop, std::optional<RecognitionResult> result,
                         std::optional<Error> error, bool last) {
    loop.post(
        [self = shared_from_this(), result = std::move(result), error = std::move(error), last] {
            if (self->cancelled.load()) return;
            ResultHandler handler;
            {
                MutexLock lock(self->handlerMutex_);
                // A copy, so the handler may cancel the task while it runs.
                if (last) {
                    handler.swap(self->handler_);
                } else {
                    handler = self->handler_;
                }
            }
            if (handler) handler(result, error);
        });
}

}  // namespace scrivia::platform::linux_
