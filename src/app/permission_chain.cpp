#include "app/app.h"

namespace scrivia::app {
namespace {

using platform::SpeechRecognizer;

void onMicrophoneAnswer(const std::shared_ptr<App>& app,
                        const std::shared_ptr<SpeechRecognizer>& recognizer, bool granted) {
    if (!granted) app->stream.fail(events::code::micDenied, events::message::micDenied);
    if (!recognizer->isAvailable())
        app->stream.fail(events::code::unavailable, events::message::unavailable);
    session::Environment environment{app->platform, app->stream, app->settings.pauseSeconds,
                                     app->settings.punctuation};
    // Stored before it starts, in this same task, so that a stop cannot come between.
    app->scrivia = std::make_shared<session::Scrivia>(recognizer, environment);
    app->scrivia->start();
}

void startAfterMic(const std::shared_ptr<App>& app, std::shared_ptr<SpeechRecognizer> recognizer) {
    app->platform.audio.requestMicrophoneAccess([app, recognizer](bool granted) {
        app->platform.runLoop.post(
            [app, recognizer, granted] { onMicrophoneAnswer(app, recognizer, granted); });
    });
}

void onAuthorization(const std::shared_ptr<App>& app,
                     const std::shared_ptr<SpeechRecognizer>& recognizer,
                     platform::AuthorizationStatus status) {
    using namespace events;
    switch (status) {
        case 3:
            startAfterMic(app, recognizer);
            return;
        case 0:
            app->stream.fail(code::speechDenied, message::speechNotDetermined);
        case 1:
            app->stream.fail(code::speechDenied, message::speechDenied);
        case 2:
            app->stream.fail(code::speechDenied, message::speechRestricted);
        default:
            app->stream.fail(code::speechDenied, message::speechUnknown);
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
