#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::newRequest() {
    auto& speech = environment.platform.speech;
    auto next = speech.makeRequest();
    next->settings.shouldReportPartialResults = true;
    next->settings.taskHint = platform::TaskHint::dictation;
    if (onDevice) next->settings.requiresOnDeviceRecognition = true;
    if (speech.canSetPunctuation()) next->settings.addsPunctuation = environment.punctuation;

    // From here on the tap feeds the new request, even before its task opens.
    setRequest(next);
    lastText.clear();
    lastChange = now();
    segmentStart = now();

    std::weak_ptr<Scrivia> weak = weak_from_this();
    task = recognizer->recognitionTask(
        next, [weak, next](std::optional<platform::RecognitionResult> result,
                           std::optional<platform::Error> error) {
            auto self = weak.lock();
            if (!self) return;
            // Results of requests that were abandoned are not wanted.
            if (self->request != next && !self->findPending(next.get())) return;
            self->handle(result, error, next);
        });
}

}  // namespace scrivia::session
