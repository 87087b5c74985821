#include "session/scrivia.h"

#include <algorithm>

#include "events/text.h"
#include "platform/locale_identifier.h"

namespace scrivia::session {

Scrivia::Scrivia(std::shared_ptr<platform::SpeechRecognizer> recognizer, Environment environment)
    : environment_(environment),
      recognizer_(std::move(recognizer)),
      engine_(environment.platform.audio.makeEngine()),
      lastChange_(now()),
      segmentStart_(now()),
      onDevice_(recognizer_->supportsOnDeviceRecognition()) {}

void Scrivia::start() {
    auto& stream = environment_.stream;
    const auto format = engine_->inputFormat();
    if (!(format.sampleRate > 0) || format.channelCount == 0)
        return stream.fail(events::code::noMic, events::message::noMic);

    std::weak_ptr<Scrivia> weak = weak_from_this();
    engine_->installTap(tapBufferSize, format, [weak](const platform::AudioBuffer& buffer) {
        platform::audioThread.assertHeld();  // the engine calls its tap there
        if (auto self = weak.lock()) self->tap(buffer);
    });
    engine_->setStoppedHandler(
        [weak, &loop = environment_.platform.runLoop](platform::Error error) {
            loop.post([weak, error] {
                platform::mainThread.assertHeld();  // a task of the main loop
                if (auto self = weak.lock()) self->microphoneLost(error);
            });
        });
    engine_->prepare();
    if (auto error = engine_->start())
        return stream.fail(events::code::engine,
                           events::message::enginePrefix + error->description);

    newRequest();
    stream.emit(
        events::readyEvent(platform::dashedIdentifier(recognizer_->localeIdentifier()), onDevice_));
    environment_.platform.runLoop.scheduleRepeating(watchdogInterval, [weak] {
        platform::mainThread.assertHeld();  // a task of the main loop
        if (auto self = weak.lock()) self->tick();
    });
}

// The lock is held across the append (which only queues the buffer), so a
// request replaced by the main thread has had its last buffer by the time
// the replacement returns.
void Scrivia::tap(const platform::AudioBuffer& buffer) {
    {
        platform::MutexLock lock(requestLock_);
        if (tapRequest_) tapRequest_->append(buffer);
    }
    const float* first = buffer.floatChannelData ? buffer.floatChannelData[0] : nullptr;
    if (auto level = levelMeter_.measure(now(), first, buffer.frameLength))
        environment_.stream.emit(events::levelEvent(*level));
}

void Scrivia::tick() {
    if (!request_ || stopping_) return;
    switch (judgeSegment(environment_.segmentRules, now(), lastChange_, segmentStart_,
                         !lastText_.empty())) {
        case SegmentVerdict::keep:
            return;
        case SegmentVerdict::close:
            return closeSegment();
        case SegmentVerdict::renew:
            // Nothing heard for a whole segment: renew the request silently.
            if (task_) task_->cancel();
            return newRequest();
    }
}

void Scrivia::newRequest() {
    auto& speech = environment_.platform.speech;
    auto next = speech.makeRequest();
    next->settings.shouldReportPartialResults = true;
    next->settings.taskHint = platform::TaskHint::dictation;
    if (onDevice_) next->settings.requiresOnDeviceRecognition = true;
    if (speech.canSetPunctuation()) next->settings.addsPunctuation = environment_.punctuation;
    next->settings.contextualStrings = environment_.ownWords;

    // From here on the tap feeds the new request, even before its task opens.
    setRequest(next);
    lastText_.clear();
    lastChange_ = now();
    segmentStart_ = now();

    std::weak_ptr<Scrivia> weak = weak_from_this();
    task_ = recognizer_->recognitionTask(
        next, [weak, next](std::optional<platform::RecognitionResult> result,
                           std::optional<platform::Error> error) {
            platform::mainThread.assertHeld();  // results reach their handler there
            auto self = weak.lock();
            if (!self) return;
            // Results of requests that were abandoned are not wanted.
            if (self->request_ != next && !self->owed_.contains(next.get())) return;
            self->handle(result, error, next);
        });
}

void Scrivia::setRequest(RequestPtr next) {
    request_ = next;
    platform::MutexLock lock(requestLock_);
    tapRequest_ = std::move(next);
}

void Scrivia::handle(const std::optional<platform::RecognitionResult>& result,
                     const std::optional<platform::Error>& error, const RequestPtr& forRequest) {
    const bool current = request_ && request_ == forRequest;
    if (!result) {
        if (error) handleError(*error, forRequest);
        return;
    }
    if (result->isFinal) {
        owed_.settle(forRequest.get());
        emitFinal(result->text);
        if (stopping_) {
            if (owed_.empty()) finish();
        } else if (current) {
            newRequest();
        }
        return;
    }
    if (!current) {
        owed_.update(forRequest.get(), result->text);
        return;
    }
    if (events::canonicallyEqual(result->text, lastText_)) return;
    lastText_ = result->text;
    lastChange_ = now();
    // The request closed by the stop stays current; what it hears after the
    // stop is still speech from before it, and is owed.
    if (stopping_) owed_.update(forRequest.get(), lastText_);
    environment_.stream.emit(events::partialEvent(lastText_));
}

void Scrivia::handleError(const platform::Error& error, const RequestPtr& forRequest) {
    if (auto text = owed_.settle(forRequest.get())) {
        emitFinal(*text);
        if (stopping_ && owed_.empty()) finish();
        return;
    }
    // While stopping, a current request that owes nothing has already settled
    // its text: a late error of it must not cut the owed segments short.
    if (forRequest != request_ || stopping_) return;
    if (errors_.record(now()))
        return environment_.stream.fail(events::code::recognizer,
                                        events::message::recognizerPrefix + error.description);
    emitFinal(lastText_);
    newRequest();
}

// Finals may be written in another order than spoken (owed segments settle
// as their results come), so the line feeds go to the next final written.
void Scrivia::emitFinal(std::string_view text) {
    const auto settled = events::trimmed(text);
    const auto feeds = events::edgeLineFeeds(text);
    const int before = std::min(lineBreaksOwed_ + feeds.front, maxLineBreaks);
    if (settled.empty()) {
        lineBreaksOwed_ = before;  // a segment of only "new paragraph"
        return;
    }
    environment_.stream.emit(events::finalEvent(settled, before));
    lineBreaksOwed_ = std::min(feeds.back, maxLineBreaks);
}

void Scrivia::closeSegment() {
    if (!request_) return;
    auto closed = request_;
    owed_.owe(closed, lastText_);
    if (!stopping_) newRequest();
    // Ended only once the tap feeds the next request, so that no buffer the
    // audio thread is handing over reaches a request that takes no more audio.
    closed->endAudio();
}

void Scrivia::stop() {
    if (stopping_) return;
    stopping_ = true;
    if (!lastText_.empty()) {
        // The closed request stays current, and `lastText_` keeps its text.
        closeSegment();
    } else if (owed_.empty()) {
        return finish();
    } else {
        // Nothing heard in this segment: drop its request and wait only for
        // the segments still owed.
        setRequest(nullptr);
    }
    std::weak_ptr<Scrivia> weak = weak_from_this();
    environment_.platform.runLoop.postAfter(gracePeriod, [weak] {
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
    environment_.stream.close(1);
}

void Scrivia::microphoneLost(const platform::Error&) {
    if (environment_.stream.hasEnded()) return;
    settleAll();
    environment_.stream.fail(events::code::noMic, events::message::noMic);
}

void Scrivia::flush() {
    if (environment_.stream.hasEnded()) return;
    settleAll();
    finish();
}

void Scrivia::settleAll() {
    for (const auto& text : owed_.settleAll()) emitFinal(text);
    // The stop closed the current segment: its text is owed or already
    // written. Otherwise it is still open, so heard after everything owed.
    if (!stopping_) emitFinal(lastText_);
    lastText_.clear();
}

void Scrivia::releaseAudio() {
    engine_->removeTap();
    engine_->stop();
    if (task_) task_->cancel();
}

void Scrivia::finish() {
    releaseAudio();
    environment_.stream.end(0);
}

}  // namespace scrivia::session
