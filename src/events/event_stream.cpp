#include "events/event_stream.h"

#include <unistd.h>

#include <cerrno>

#include "events/json_line.h"

namespace scrivia::events {

bool EventStream::write(const std::string& line, bool last) {
    std::lock_guard lock(outLock);
    // "end" closes the stream for good, so a level from the audio thread can
    // never follow it while the process is on its way out.
    if (ended) return false;
    ended = last;
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(out, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the host stopped reading; nothing to tell it
        data += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

void EventStream::emit(const Event& event) {
    if (auto line = jsonLine(event)) write(*line, false);
}

void EventStream::fail(const std::string& code, const std::string& message) {
    emit(errorEvent(code, message));
    end(1);
}

void EventStream::end(int status) {
    if (auto line = jsonLine(endEvent())) write(*line, true);
    platform::exitProcess(process, status);
}

}  // namespace scrivia::events
