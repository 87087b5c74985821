#include "app/settings.h"
#include "session/scrivia.h"

namespace scrivia::session {

void Scrivia::start() {
    auto& stream = environment.stream;
    const auto format = engine->inputFormat();
    if (!(format.sampleRate > 0)) stream.fail(events::code::noMic, events::message::noMic);
    if (format.channelCount == 0) stream.fail(events::code::noMic, events::message::noMic);

    std::weak_ptr<Scrivia> weak = weak_from_this();
    engine->installTap(tapBufferSize, format, [weak](const platform::AudioBuffer& buffer) {
        if (auto self = weak.lock()) self->tap(buffer);
    });
    engine->prepare();
    if (auto error = engine->start())
        stream.fail(events::code::engine, events::message::enginePrefix + error->description);

    newRequest();
    stream.emit(
        events::readyEvent(app::dashedIdentifier(recognizer->localeIdentifier()), onDevice));
    environment.platform.runLoop.scheduleRepeating(watchdogInterval, [weak] {
        if (auto self = weak.lock()) self->tick();
    });
}

// Audio thread: hands the buffer to whichever request is current now, then
// to the level meter. The lock is held across the append (which only queues
// the buffer), so a request replaced by the main thread has had its last
// buffer by the time the replacement returns.
void Scrivia::tap(const platform::AudioBuffer& buffer) {
    {
        std::lock_guard lock(requestLock);
        if (request) request->append(buffer);
    }
    sendLevel(buffer);
}

}  // namespace scrivia::session
