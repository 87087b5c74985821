#include "events/text.h"
#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::emitFinal(std::string_view text) {
    auto settled = events::trimmed(text);
    if (!settled.empty()) environment.stream.emit(events::finalEvent(settled));
}

void Scrivia::closeSegment() {
    if (!request) return;
    auto closed = request;
    if (auto* entry = findPending(closed.get()))
        entry->text = lastText;
    else
        pending.push_back({closed, lastText});
    if (!stopping) newRequest();
    // Ended only once the tap feeds the next request, so that no buffer the
    // audio thread is handing over reaches a request that takes no more audio.
    closed->endAudio();
}

}  // namespace scrivia::session
