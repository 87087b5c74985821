#include "platform/linux/audio/pulse_connection.h"

#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

namespace scrivia::platform::linux_ {

namespace {
constexpr pa_usec_t kServerTimeout = 5 * PA_USEC_PER_SEC;
}  // namespace

bool waitForServer(pa_context* context, const PulseWaiting& loop,
                   const std::function<bool()>& done) {
    struct Timer {
        const PulseWaiting& loop;
        bool expired = false;
    } timer{loop};
    pa_time_event* event = pa_context_rttime_new(
        context, pa_rtclock_now() + kServerTimeout,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            auto& timer = *static_cast<Timer*>(data);
            timer.expired = true;
            timer.loop.wake();
        },
        &timer);
    bool broken = false;
    while (!done() && !timer.expired && !broken) broken = !loop.wait();
    if (event != nullptr) loop.api->time_free(event);
    return done();
}

int connectToServer(pa_context* context, const PulseWaiting& loop) {
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return pa_context_errno(context);
    }
    const bool settled = waitForServer(context, loop, [context] {
        const pa_context_state_t state = pa_context_get_state(context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!settled) return PA_ERR_TIMEOUT;
    return pa_context_get_state(context) == PA_CONTEXT_READY ? PA_OK : pa_context_errno(context);
}

}  // namespace scrivia::platform::linux_
