#include "platform/linux/microphone.h"

#include <pthread.h>
#include <pulse/pulseaudio.h>

#include <thread>
#include <utility>

#include "platform/linux/pulse_engine.h"

namespace scrivia::platform::linux_ {

namespace {
constexpr pa_usec_t kProbeTimeout = 5 * PA_USEC_PER_SEC;
}  // namespace

bool probeMicrophoneAccess() {
    pa_mainloop* mainloop = pa_mainloop_new();
    if (mainloop == nullptr) return true;
    pa_context* context = pa_context_new(pa_mainloop_get_api(mainloop), "scrivia");
    if (context == nullptr) {
        pa_mainloop_free(mainloop);
        return true;
    }
    bool granted = true;
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        bool timedOut = false;
        pa_time_event* timer = pa_context_rttime_new(
            context, pa_rtclock_now() + kProbeTimeout,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* flag) {
                *static_cast<bool*>(flag) = true;
            },
            &timedOut);
        pa_context_state_t state = pa_context_get_state(context);
        while (!timedOut && state != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state)) {
            if (pa_mainloop_iterate(mainloop, 1, nullptr) < 0) break;
            state = pa_context_get_state(context);
        }
        granted = !(state == PA_CONTEXT_FAILED && pa_context_errno(context) == PA_ERR_ACCESS);
        if (timer != nullptr) pa_mainloop_get_api(mainloop)->time_free(timer);
        pa_context_disconnect(context);
    } else {
        granted = pa_context_errno(context) != PA_ERR_ACCESS;
    }
    pa_context_unref(context);
    pa_mainloop_free(mainloop);
    return granted;
}

std::unique_ptr<AudioEngine> AudioService::makeEngine() {
    return std::make_unique<PulseEngine>();
}

void AudioService::requestMicrophoneAccess(std::function<void(bool granted)> handler) {
    std::thread([handler = std::move(handler)] {
        pthread_setname_np(pthread_self(), "mic-access");
        handler(probeMicrophoneAccess());
    }).detach();
}

}  // namespace scrivia::platform::linux_
