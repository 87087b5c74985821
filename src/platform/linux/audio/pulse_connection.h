// Reaching the sound server with a bound on how long it may take, for the
// engine (a threaded main loop) and the access probe (a plain one).
#pragma once

#include <pulse/context.h>
#include <pulse/mainloop-api.h>

#include <functional>

namespace scrivia::platform::linux_ {

// How the caller's main loop waits for news from the server. `api` is the
// loop's, as given to pa_context_new. `wait` blocks
// until something happened on the loop (with the loop's lock held, for a
// threaded loop) and returns false when the loop is broken; `wake` makes a
// waiting `wait` return, from a libpulse callback.
struct PulseWaiting {
    pa_mainloop_api* api = nullptr;
    std::function<bool()> wait;
    std::function<void()> wake;
};

// How scrivia's connections are named to the server.
inline constexpr const char* kPulseClientName = "scrivia";

// Waits until `done` holds or the server has had five seconds; true if done.
// A server that accepts the connection and then hangs cannot hang us.
bool waitForServer(pa_context* context, const PulseWaiting& loop,
                   const std::function<bool()>& done);

// Connects `context` to the server that is there (PULSE_SERVER or the user's;
// never one of our own: no autospawn) and waits until it is ready or has
// failed. The loop must wake on the context's state changes. PA_OK when
// ready; otherwise why not, PA_ERR_TIMEOUT when the server did not answer.
int connectToServer(pa_context* context, const PulseWaiting& loop);

}  // namespace scrivia::platform::linux_
