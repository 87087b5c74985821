#include "session/scrivia.h"

#include <limits>

namespace scrivia::session {

Scrivia::Scrivia(std::shared_ptr<platform::SpeechRecognizer> recognizer, Environment environment)
    : environment(environment),
      recognizer(std::move(recognizer)),
      engine(environment.platform.audio.makeEngine()),
      lastChange(now()),
      segmentStart(now()),
      // Far enough back that the first buffer always passes the level throttle.
      lastLevelSent(-std::numeric_limits<double>::infinity()),
      onDevice(this->recognizer->supportsOnDeviceRecognition()) {}

void Scrivia::setRequest(RequestPtr next) {
    std::lock_guard lock(requestLock);
    request = std::move(next);
}

Scrivia::PendingEntry* Scrivia::findPending(const platform::RecognitionRequest* key) {
    for (auto& entry : pending)
        if (entry.request.get() == key) return &entry;
    return nullptr;
}

std::optional<std::string> Scrivia::takePending(const platform::RecognitionRequest* key) {
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (it->request.get() == key) {
            std::string text = std::move(it->text);
            pending.erase(it);
            return text;
        }
    }
    return std::nullopt;
}

}  // namespace scrivia::session
