// The microphone on Linux: whether the sound server lets us in, and engines
// that record from its default source.
#pragma once

#include <functional>
#include <memory>

#include "platform/platform.h"

namespace scrivia::platform::linux_ {

// Connects to the sound server once and reports whether it let us in. Only a
// server that refuses this client denies access; with no server reachable the
// answer is yes, and the engine then finds no usable input. Blocks for up to a
// few seconds; call it off the main thread.
bool probeMicrophoneAccess();

class AudioService final : public platform::AudioService {
  public:
    std::unique_ptr<AudioEngine> makeEngine() override;
    // Answers on a short-lived thread of its own ("mic-access").
    void requestMicrophoneAccess(std::function<void(bool granted)> handler) override;
};

}  // namespace scrivia::platform::linux_
