#include "session/scrivia.h"

#include <algorithm>

#include "events/text.h"
#include "platform/locale_identifier.h"

namespace scrivia::session {

Scrivia::Scrivia(std::shared_ptr<platform::SpeechRecognizer> recognizer, Environment environment)
    : environment(environment),
      recognizer(std::move(recognizer)),
      engine(environment.platform.audio.makeEngine()),
      lastChange(now()),
      segmentStart(now()),
      onDevice(this->recognizer->supportsOnDeviceRecognition()) {}

void Scrivia::start() {
    auto& stream = environment.stream;
    const auto format = engine->inputFormat();
    if (!(format.sampleRate > 0) || format.channelCount == 0)
        return stream.fail(events::code::noMic, events::message::noMic);

    std::weak_ptr<Scrivia> weak = weak_from_this();
    engine->installTap(tapBufferSize, format, [weak](const platform::AudioBuffer& buffer) {
        platform::audioThread.assertHeld();  // the engine calls its tap there
        if (auto self = weak.lock()) self->tap(buffer);
    });
    engine->setStoppedHandler([weak, &loop = environment.platform.runLoop](platform::Error error) {
        loop.post([weak, error] {
            platform::mainThread.assertHeld();  // a task of the main loop
            if (auto self = weak.lock()) self->microphoneLost(error);
        });
    });
    engine->prepare();
    if (auto error = engine->start())
        return stream.fail(events::code::engine,
                           events::message::enginePrefix + error->description);

    newRequest();
    stream.emit(
        events::readyEvent(platform::dashedIdentifier(recognizer->localeIdentifier()), onDevice));
    environment.platform.runLoop.scheduleRepeating(watchdogInterval, [weak] {
        platform::mainThread.assertHeld();  // a task of the main loop
        if (auto self = weak.lock()) self->tick();
    });
}

// The lock is held across the append (which only queues the buffer), so a
// request replaced by the main thread has had its last buffer by the time
// the replacement returns.
void Scrivia::tap(const platform::AudioBuffer& buffer) {
    {
        platform::MutexLock lock(requestLock);
        if (tapRequest) tapRequest->append(buffer);
    }
    const float* first = buffer.floatChannelData ? buffer.floatChannelData[0] : nullptr;
    if (auto level = levelMeter.measure(now(), first, buffer.frameLength))
        environment.stream.emit(events::levelEvent(*level));
}

void Scrivia::tick() {
    if (!request || stopping) return;
    switch (judgeSegment(environment.segmentRules, now(), lastChange, segmentStart,
                         !lastText.empty())) {
        case SegmentVerdict::keep:
            return;
        case SegmentVerdict::close:
            return closeSegment();
        case SegmentVerdict::renew:
            // Nothing heard for a whole segment: renew the request silently.
            if (task) task->cancel();
            return newRequest();
    }
}

void Scrivia::newRequest() {
    auto& speech = environment.platform.speech;
    auto next = speech.makeRequest();
    next->settings.shouldReportPartialResults = true;
    next->settings.taskHint = platform::TaskHint::dictation;
    if (onDevice) next->settings.requiresOnDeviceRecognition = true;
    if (speech.canSetPunctuation()) next->settings.addsPunctuation = environment.punctuation;

    // From here on the tap feeds the new request, even before its task opens.
    setRequest(next);
    lastText.clear();
    lastChange = now();
    segmentStart = now();

    std::weak_ptr<Scrivia> weak = weak_from_this();
    task = recognizer->recognitionTask(
        next, [weak, next](std::optional<platform::RecognitionResult> result,
                           std::optional<platform::Error> error) {
            platform::mainThread.assertHeld();  // results reach their handler there
            auto self = weak.lock();
            if (!self) return;
            // Results of requests that were abandoned are not wanted.
            if (self->request != next && !self->owed.contains(next.get())) return;
            self->handle(result, error, next);
        });
}

void Scrivia::setRequest(RequestPtr next) {
    request = next;
    platform::MutexLock lock(requestLock);
    tapRequest = std::move(next);
}

void Scrivia::handle(const std::optional<platform::RecognitionResult>& result,
                     const std::optional<platform::Error>& error, const RequestPtr& forRequest) {
    const bool current = request && request == forRequest;
    if (!result) {
        if (error) handleError(*error, forRequest);
        return;
    }
    if (result->isFinal) {
        owed.settle(forRequest.get());
        emitFinal(result->text);
        if (stopping) {
            if (owed.empty()) finish();
        } else if (current) {
            newRequest();
        }
        return;
    }
    if (!current) {
        owed.update(forRequest.get(), result->text);
        return;
    }
    if (events::canonicallyEqual(result->text, lastText)) return;
    lastText = result->text;
    lastChange = now();
    // The request closed by the stop stays current; what it hears after the
    // stop is still speech from before it, and is owed.
    if (stopping) owed.update(forRequest.get(), lastText);
    environment.stream.emit(events::partialEvent(lastText));
}

void Scrivia::handleError(const platform::Error& error, const RequestPtr& forRequest) {
    if (auto text = owed.settle(forRequest.get())) {
        emitFinal(*text);
        if (stopping && owed.empty()) finish();
        return;
    }
    // While stopping, a current request that owes nothing has already settled
    // its text: a late error of it must not cut the owed segments short.
    if (forRequest != request || stopping) return;
    if (errors.record(now()))
        return environment.stream.fail(events::code::recognizer,
                                       events::message::recognizerPrefix + error.description);
    emitFinal(lastText);
    newRequest();
}

// Finals may be written in another order than spoken (owed segments settle
// as their results come), so the line feeds go to the next final written.
void Scrivia::emitFinal(std::string_view text) {
    const auto settled = events::trimmed(text);
    const auto feeds = events::edgeLineFeeds(text);
    const int before = std::min(lineBreaksOwed + feeds.front, maxLineBreaks);
    if (settled.empty()) {
        lineBreaksOwed = before;  // a segment of only "new paragraph"
        return;
    }
    environment.stream.emit(events::finalEvent(settled, before));
    lineBreaksOwed = std::min(feeds.back, maxLineBreaks);
}

void Scrivia::closeSegment() {
    if (!request) return;
    auto closed = request;
    owed.owe(closed, lastText);
    if (!stopping) newRequest();
    // Ended only once the tap feeds the next request, so that no buffer the
    // audio thread is handing over reaches a request that takes no more audio.
    closed->endAudio();
}

void Scrivia::stop() {
    if (stopping) return;
    stopping = true;
    if (!lastText.empty()) {
        // The closed request stays current, and `lastText` keeps its text.
        closeSegment();
    } else if (owed.empty()) {
        return finish();
    } else {
        // Nothing heard in this segment: drop its request and wait only for
        // the segments still owed.
        setRequest(nullptr);
    }
    std::weak_ptr<Scrivia> weak = weak_from_this();
    environment.platform.runLoop.postAfter(gracePeriod, [weak] {
        platform::mainThread.assertHeld();  // a task of the main loop
        if (auto self = weak.lock()) self->flush();
    });
}

void Scrivia::stopNow() {
    stop();
    flush();
}

void Scrivia::abandon() {
    releaseAudio();
    environment.stream.close(1);
}

void Scrivia::microphoneLost(const platform::Error&) {
    if (environment.stream.hasEnded()) return;
    settleAll();
    environment.stream.fail(events::code::noMic, events::message::noMic);
}

void Scrivia::flush() {
    if (environment.stream.hasEnded()) return;
    settleAll();
    finish();
}

void Scrivia::settleAll() {
    for (const auto& text : owed.settleAll()) emitFinal(text);
    // The stop closed the current segment: its text is owed or already
    // written. Otherwise it is still open, so heard after everything owed.
    if (!stopping) emitFinal(lastText);
    lastText.clear();
}

void Scrivia::releaseAudio() {
    engine->removeTap();
    engine->stop();
    if (task) task->cancel();
}

void Scrivia::finish() {
    releaseAudio();
    environment.stream.end(0);
}

}  // namespace scrivia::session
