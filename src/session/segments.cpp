#include "events/text.h"
#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::emitFinal(std::string_view text) {
    auto settled = events::trimmed(text);
    if (!settled.empty()) environment.stream.emit(events::finalEvent(settled));
}

void Scrivia::closeSegment() {
    if (!request) return;
    if (auto* entry = findPending(request.get()))
        entry->text = lastText;
    else
        pending.push_back({request, lastText});
    request->endAudio();
    if (!stopping) newRequest();
}

}  // namespace scrivia::session
