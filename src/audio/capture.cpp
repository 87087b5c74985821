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

// Audio thread: hands the buffer to whichever request is current now, held
// for the length of the append, then to the level meter.
void Scrivia::tap(const platform::AudioBuffer& buffer) {
    if (auto current = currentRequest()) current->append(buffer);
    sendLevel(buffer);
}

}  // namespace scrivia::session
