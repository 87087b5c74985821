// A lost stream or server: trying the microphone again, and never a monitor
// by surprise. All of it runs on libpulse's thread with its lock held.
#include <pulse/pulseaudio.h>

#include <utility>

#include "platform/linux/audio/pulse_connection.h"
#include "platform/linux/audio/pulse_engine.h"

namespace scrivia::platform::linux_ {

namespace {
// A restarting server is back well within this; a microphone that is not has gone.
constexpr pa_usec_t kRecoveryTime = 3 * PA_USEC_PER_SEC;
constexpr pa_usec_t kRetryInterval = 200 * PA_USEC_PER_MSEC;

timeval fromNow(pa_usec_t delay) {
    timeval when{};
    pa_gettimeofday(&when);
    return *pa_timeval_add(&when, delay);
}
}  // namespace

void PulseEngine::onContextState(pa_context* context, void* engine) {
    auto* self = static_cast<PulseEngine*>(engine);
    self->loopLock_.assertHeld();  // libpulse calls back with its lock held
    signalLoop(engine);            // start and inputFormat wait for this
    if (!self->running_) return;
    const pa_context_state_t state = pa_context_get_state(context);
    if (!PA_CONTEXT_IS_GOOD(state)) return self->lose(self->contextError());
    if (state != PA_CONTEXT_READY || !self->attempting_) return;
    // Reconnected: find out what the wanted source is before recording it.
    pa_operation* operation =
        pa_context_get_source_info_by_name(context, self->wanted_.c_str(), onSourceInfo, self);
    if (operation == nullptr) return self->lose(self->contextError());
    pa_operation_unref(operation);
}

void PulseEngine::onStreamState(pa_stream* stream, void* engine) {
    auto* self = static_cast<PulseEngine*>(engine);
    self->loopLock_.assertHeld();  // libpulse calls back with its lock held
    signalLoop(engine);
    if (!self->running_) return;
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (!PA_STREAM_IS_GOOD(state)) return self->lose(self->contextError());
    if (state != PA_STREAM_READY || self->retryTick_ == nullptr) return;
    // Recovered: the tap goes on receiving buffers from the new stream.
    pa_threaded_mainloop_get_api(self->mainloop_)->time_free(self->retryTick_);
    self->retryTick_ = nullptr;
    self->attempting_ = false;
}

void PulseEngine::onStreamMoved(pa_stream* stream, void* engine) {
    auto* self = static_cast<PulseEngine*>(engine);
    self->loopLock_.assertHeld();  // libpulse calls back with its lock held
    if (!self->running_) return;
    pa_operation* operation = pa_context_get_source_info_by_index(
        self->context_, pa_stream_get_device_index(stream), onSourceInfo, self);
    if (operation == nullptr) return self->lose(self->contextError());
    pa_operation_unref(operation);
}

// The source the server moved us to, or the one recovery would record from:
// a microphone is fine; the monitor of a sound output is not, unless start
// got exactly that one (the user's PULSE_SOURCE or the default they set).
void PulseEngine::onSourceInfo(pa_context*, const pa_source_info* info, int last, void* engine) {
    auto* self = static_cast<PulseEngine*>(engine);
    self->loopLock_.assertHeld();  // libpulse calls back with its lock held
    if (!self->running_ || last > 0) return;
    if (last < 0 || info == nullptr) return self->lose(self->contextError());
    if (info->monitor_of_sink != PA_INVALID_INDEX && self->chosenSource_ != info->name) {
        return self->lose(Error{"The only source left is the monitor of a sound output"});
    }
    if (self->stream_ == nullptr && self->attempting_ && !self->openStream(info->name)) {
        self->lose(self->contextError());
    }
}

void PulseEngine::lose(Error why) {
    attempting_ = false;                // whatever was on its way has failed
    if (retryTick_ != nullptr) return;  // recovering already: the next tick tries again
    lost_ = std::move(why);
    giveUpAt_ = pa_rtclock_now() + kRecoveryTime;
    const timeval when = fromNow(0);
    retryTick_ = pa_threaded_mainloop_get_api(mainloop_)->time_new(
        pa_threaded_mainloop_get_api(mainloop_), &when, onRetryTick, this);
}

void PulseEngine::onRetryTick(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                              void* engine) {
    auto* self = static_cast<PulseEngine*>(engine);
    self->loopLock_.assertHeld();  // libpulse calls back with its lock held
    if (pa_rtclock_now() >= self->giveUpAt_) return self->giveUp();
    if (!self->attempting_) self->attempt();
    const timeval next = fromNow(kRetryInterval);
    api->time_restart(event, &next);
}

// One step towards a new stream: a new context if the server went, then
// (once it is ready) the wanted source's details, then the stream.
void PulseEngine::attempt() {
    releaseStream();
    attempting_ = true;
    if (context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY) {
        return onContextState(context_, this);
    }
    releaseContext();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), kPulseClientName);
    if (context_ == nullptr) {
        attempting_ = false;
        return;
    }
    pa_context_set_state_callback(context_, onContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        attempting_ = false;
    }
}

void PulseEngine::giveUp() {
    running_ = false;
    pa_threaded_mainloop_get_api(mainloop_)->time_free(retryTick_);
    retryTick_ = nullptr;
    releaseContext();
    if (stoppedHandler_) stoppedHandler_(lost_);
}

}  // namespace scrivia::platform::linux_
