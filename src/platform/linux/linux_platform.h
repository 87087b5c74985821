// Everything scrivia reaches of Linux, in one place: one of each service.
#pragma once

#include <memory>

#include "platform/linux/audio/microphone.h"
#include "platform/linux/speech/speech_service.h"
#include "platform/linux/system/process.h"
#include "platform/linux/system/run_loop.h"
#include "platform/platform.h"

namespace scrivia::platform::linux_ {

struct LinuxPlatform {
    // Declared before the services that keep a reference to it.
    RunLoop runLoop;
    Clock clock;
    Process process{runLoop};
    AudioService audio;
    SpeechService speech{runLoop};
    platform::Platform platform{speech, audio, runLoop, clock, process};
};

// The services hold references to one another, so the whole stays in one place.
std::unique_ptr<LinuxPlatform> makePlatform();

}  // namespace scrivia::platform::linux_
