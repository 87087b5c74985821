#include "app/app.h"

namespace scrivia::app {
namespace {

using platform::SpeechRecognizer;

void onMicrophoneAnswer(const std::shared_ptr<App>& app,
                        const std::shared_ptr<SpeechRecognizer>& recognizer, bool granted)
    SCRIVIA_REQUIRES(platform::mainThread) {
    if (!granted) return app->stream.fail(events::code::micDenied, events::message::micDenied);
    if (!recognizer->isAvailable())
        return app->stream.fail(events::code::unavailable, events::message::unavailable);
    session::SegmentRulesConfig rules;
    rules.pauseSeconds = app->settings.pauseSeconds;
    session::Environment environment{app->platform, app->stream, rules, app->settings.punctuation};
    for (const auto& entry : app->settings.words) environment.ownWords.push_back(entry.written);
    // Stored before it starts, in this same task, so that a stop cannot come between.
    app->scrivia = std::make_shared<session::Scrivia>(recognizer, environment);
    app->scrivia->start();
}

void startAfterMic(const std::shared_ptr<App>& app, std::shared_ptr<SpeechRecognizer> recognizer) {
    app->platform.audio.requestMicrophoneAccess([app, recognizer](bool granted) {
        app->platform.runLoop.post([app, recognizer, granted] {
            platform::mainThread.assertHeld();  // a task of the main loop
            onMicrophoneAnswer(app, recognizer, granted);
        });
    });
}

void onAuthorization(const std::shared_ptr<App>& app,
                     const std::shared_ptr<SpeechRecognizer>& recognizer,
                     platform::AuthorizationStatus status) {
    using namespace events;
    switch (status) {
        case 3:
            return startAfterMic(app, recognizer);
        case 0:
            return app->stream.fail(code::speechDenied, message::speechNotDetermined);
        case 1:
            return app->stream.fail(code::speechDenied, message::speechDenied);
        case 2:
            return app->stream.fail(code::speechDenied, message::speechRestricted);
        default:
            return app->stream.fail(code::speechDenied, message::speechUnknown);
    }
}

}  // namespace

void requestPermissions(const std::shared_ptr<App>& app,
                        std::shared_ptr<SpeechRecognizer> recognizer) {
    app->platform.speech.requestAuthorization(
        [app, recognizer](platform::AuthorizationStatus status) {
            app->platform.runLoop.post(
                [app, recognizer, status] { onAuthorization(app, recognizer, status); });
        });
}

}  // namespace scrivia::app
