#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::tick() {
    if (!request) return;
    if (stopping) return;
    const auto at = now();
    if (!lastText.empty() && at - lastChange >= environment.pauseSeconds) {
        closeSegment();
        return;
    }
    if (at - segmentStart > maxSegmentAge) {
        if (!lastText.empty()) {
            closeSegment();
        } else {
            // Nothing heard for a whole segment: renew the request silently.
            if (task) task->cancel();
            newRequest();
        }
    }
}

}  // namespace scrivia::session
