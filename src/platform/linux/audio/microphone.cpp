#include "platform/linux/audio/microphone.h"

#include <pulse/pulseaudio.h>

#include <utility>

#include "platform/linux/audio/pulse_connection.h"
#include "platform/linux/audio/pulse_engine.h"
#include "platform/linux/system/named_thread.h"

namespace scrivia::platform::linux_ {

bool probeMicrophoneAccess() {
    pa_mainloop* mainloop = pa_mainloop_new();
    if (mainloop == nullptr) return true;
    pa_context* context = pa_context_new(pa_mainloop_get_api(mainloop), kPulseClientName);
    if (context == nullptr) {
        pa_mainloop_free(mainloop);
        return true;
    }
    const PulseWaiting loop{pa_mainloop_get_api(mainloop),
                            [mainloop] { return pa_mainloop_iterate(mainloop, 1, nullptr) >= 0; },
                            [] {}};
    const bool granted = connectToServer(context, loop) != PA_ERR_ACCESS;
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(mainloop);
    return granted;
}

std::unique_ptr<AudioEngine> AudioService::makeEngine() {
    return std::make_unique<PulseEngine>();
}

void AudioService::requestMicrophoneAccess(std::function<void(bool granted)> handler) {
    startNamedThread("mic-access", [handler = std::move(handler)] {
        handler(probeMicrophoneAccess());
    }).detach();
}

}  // namespace scrivia::platform::linux_
