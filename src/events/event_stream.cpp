#include "events/event_stream.h"

#include "events/json_line.h"

namespace scrivia::events {

void EventStream::emit(const Event& event) {
    const bool droppable = event.value("type", "") == "level";
    auto line = jsonLine(event);
    platform::MutexLock lock(outLock_);
    if (!ended_ && line) out_.write(std::move(*line), droppable);
}

void EventStream::fail(const std::string& code, const std::string& message) {
    emit(errorEvent(code, message));
    end(1);
}

void EventStream::end(int status) {
    {
        platform::MutexLock lock(outLock_);
        if (ended_) return;
        ended_ = true;
        if (auto line = jsonLine(endEvent())) out_.write(std::move(*line), false);
    }
    runLoop_.quit(status);
}

void EventStream::close(int status) {
    {
        platform::MutexLock lock(outLock_);
        ended_ = true;
    }
    runLoop_.quit(status);
}

bool EventStream::hasEnded() {
    platform::MutexLock lock(outLock_);
    return ended_;
}

}  // namespace scrivia::events
