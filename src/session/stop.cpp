#include "events/text.h"
#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::stop() {
    if (stopping) return;
    stopping = true;
    if (!lastText.empty()) {
        // The closed request stays current, and `lastText` keeps its text.
        closeSegment();
    } else if (pending.empty()) {
        finish();
    } else {
        // Nothing heard in this segment: drop its request and wait only for
        // the segments still owed.
        setRequest(nullptr);
    }
    std::weak_ptr<Scrivia> weak = weak_from_this();
    environment.platform.runLoop.postAfter(gracePeriod, [weak] {
        if (auto self = weak.lock()) self->flush();
    });
}

void Scrivia::flush() {
    // In the order the segments were spoken.
    for (const auto& entry : pending) emitFinal(entry.text);
    pending.clear();
    finish();
}

void Scrivia::finish() {
    engine->removeTap();
    engine->stop();
    if (task) task->cancel();
    environment.stream.end(0);
}

}  // namespace scrivia::session
