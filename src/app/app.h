// What one run of scrivia holds from start-up to exit.
#pragma once

#include <memory>

#include "app/settings.h"
#include "events/event_stream.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"
#include "session/scrivia.h"

namespace scrivia::app {

struct App {
    explicit App(platform::Platform& platform)
        : platform(platform), stream(platform.process.standardOutput(), platform.runLoop) {}

    platform::Platform& platform;
    events::EventStream stream;  // standard output and its lock
    Settings settings;
    // The session, once both permissions are granted; never cleared.
    std::shared_ptr<session::Scrivia> scrivia SCRIVIA_GUARDED_BY(platform::mainThread);
};

// Writes the "locales" event; the run then ends with status 0.
void listLocales(App& app);

// The recogniser for `settings.localeId`, or the "unsupported" error.
std::shared_ptr<platform::SpeechRecognizer> selectRecognizer(App& app);

// Asks for speech authorisation, then the microphone, then starts the session.
void requestPermissions(const std::shared_ptr<App>& app,
                        std::shared_ptr<platform::SpeechRecognizer> recognizer);

// Starts the reader of control lines on standard input.
void startControlChannel(const std::shared_ptr<App>& app);

// Signals stop the run like "stop" (a second one at once); a host that has
// closed standard output ends it.
void watchHost(const std::shared_ptr<App>& app);

}  // namespace scrivia::app
