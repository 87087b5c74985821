#include "events/text.h"
#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::handle(const std::optional<platform::RecognitionResult>& result,
                     const std::optional<platform::Error>& error,
                     const std::shared_ptr<platform::RecognitionRequest>& forRequest) {
    const bool current = request && request == forRequest;

    if (result) {
        if (result->isFinal) {
            takePending(forRequest.get());
            emitFinal(result->text);
            if (stopping) {
                if (pending.empty()) finish();
                return;
            }
            if (current) newRequest();
            return;
        }
        if (!current) {
            if (auto* entry = findPending(forRequest.get())) entry->text = result->text;
            return;
        }
        if (events::canonicallyEqual(result->text, lastText)) return;
        lastText = result->text;
        lastChange = now();
        environment.stream.emit(events::partialEvent(lastText));
        return;
    }
    if (!error) return;

    if (auto stored = takePending(forRequest.get())) {
        emitFinal(*stored);
        if (stopping && pending.empty()) finish();
        return;
    }
    // While stopping, a current request without an entry has already settled
    // its text: a late error of it owes nothing, and the segments still owed
    // must not be cut short.
    if (!current || stopping) return;

    const auto at = now();
    std::erase_if(errorsRecently,
                  [at](platform::Instant earlier) { return !(at - earlier < errorWindow); });
    errorsRecently.push_back(at);
    if (errorsRecently.size() >= errorLimit)
        environment.stream.fail(events::code::recognizer,
                                events::message::recognizerPrefix + error->description);
    emitFinal(lastText);
    newRequest();
}

}  // namespace scrivia::session
