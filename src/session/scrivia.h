// The dictation session: one per process, created once both permissions are
// granted. It owns the recogniser, the engine and the current request, and
// applies the segment rules, the error window and the owed segments.
//
// Threads: everything here is main-thread state, guarded by the main thread's
// role, except the request the tap feeds, which the audio thread reads under
// `requestLock_`, and `levelMeter_`, which only the audio thread touches.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/level_meter.h"
#include "events/event_stream.h"
#include "platform/platform.h"
#include "platform/thread_safety.h"
#include "session/error_window.h"
#include "session/owed_segments.h"
#include "session/segment_rules.h"

namespace scrivia::session {

// What a session reaches of its process, and how it is asked to behave.
struct Environment {
    platform::Platform& platform;
    events::EventStream& stream;
    SegmentRulesConfig segmentRules;
    bool punctuation = true;
    std::vector<std::string> ownWords = {};  // written forms, put on each request
};

class Scrivia : public std::enable_shared_from_this<Scrivia> {
  public:
    static constexpr double watchdogInterval = 0.2;  // seconds between ticks
    static constexpr double gracePeriod = 2.5;       // seconds the stop waits for owed text
    static constexpr std::uint32_t tapBufferSize = 2048;
    static constexpr int maxLineBreaks = 2;  // a new paragraph; more show nothing more

    Scrivia(std::shared_ptr<platform::SpeechRecognizer> recognizer, Environment environment);

    // Taps the microphone, opens the first request, writes "ready" and starts
    // the watchdog; or ends the run with "no-mic" or "engine".
    void start() SCRIVIA_REQUIRES(platform::mainThread);
    // The orderly stop: the current segment closes, owed text is written
    // within the grace period, then "end". Later calls change nothing.
    void stop() SCRIVIA_REQUIRES(platform::mainThread);
    // The stop without the grace period: what is owed is written at once as
    // it stands, then "end".
    void stopNow() SCRIVIA_REQUIRES(platform::mainThread);
    // The host has gone: nothing more can reach it, so the microphone is
    // released at once.
    void abandon() SCRIVIA_REQUIRES(platform::mainThread);
    bool isStopping() const SCRIVIA_REQUIRES(platform::mainThread) { return stopping_; }

  private:
    using RequestPtr = std::shared_ptr<platform::RecognitionRequest>;

    platform::Instant now() { return environment_.platform.clock.now(); }
    // Hands the buffer to the current request and the meter; never waits for
    // the main thread or the recogniser.
    void tap(const platform::AudioBuffer& buffer) SCRIVIA_REQUIRES(platform::audioThread)
        SCRIVIA_EXCLUDES(requestLock_);
    // The watchdog: closes a segment after a pause or when it is too old.
    void tick() SCRIVIA_REQUIRES(platform::mainThread);
    // Opens a fresh request and task and makes them current.
    void newRequest() SCRIVIA_REQUIRES(platform::mainThread);
    void setRequest(RequestPtr next) SCRIVIA_REQUIRES(platform::mainThread)
        SCRIVIA_EXCLUDES(requestLock_);
    // Everything the recogniser reports for `forRequest`.
    void handle(const std::optional<platform::RecognitionResult>& result,
                const std::optional<platform::Error>& error, const RequestPtr& forRequest)
        SCRIVIA_REQUIRES(platform::mainThread);
    void handleError(const platform::Error& error, const RequestPtr& forRequest)
        SCRIVIA_REQUIRES(platform::mainThread);
    // Writes settled text as "final", trimmed; nothing when blank. The line
    // feeds trimmed off are not lost: they go before the next final written.
    void emitFinal(std::string_view text) SCRIVIA_REQUIRES(platform::mainThread);
    // Owes the current request's text and opens the next one.
    void closeSegment() SCRIVIA_REQUIRES(platform::mainThread);
    // The microphone is gone for good: what is owed is written, then "no-mic".
    void microphoneLost(const platform::Error& error) SCRIVIA_REQUIRES(platform::mainThread);
    // Writes whatever is still owed, in spoken order, then finishes.
    void flush() SCRIVIA_REQUIRES(platform::mainThread);
    // Writes every text still owed, the current segment's last.
    void settleAll() SCRIVIA_REQUIRES(platform::mainThread);
    void releaseAudio() SCRIVIA_REQUIRES(platform::mainThread);
    // Tears the audio down and writes "end"; the run ends with status 0.
    void finish() SCRIVIA_REQUIRES(platform::mainThread);

    const Environment environment_;
    const std::shared_ptr<platform::SpeechRecognizer> recognizer_;
    const std::unique_ptr<platform::AudioEngine> engine_;
    platform::Mutex
        requestLock_;  // held to replace the tap's request, and by the tap while it appends
    RequestPtr tapRequest_ SCRIVIA_GUARDED_BY(requestLock_);
    RequestPtr request_ SCRIVIA_GUARDED_BY(platform::mainThread);  // the same, as main sees it
    std::shared_ptr<platform::RecognitionTask> task_ SCRIVIA_GUARDED_BY(platform::mainThread);
    OwedSegments owed_ SCRIVIA_GUARDED_BY(platform::mainThread);
    std::string lastText_ SCRIVIA_GUARDED_BY(platform::mainThread);
    // Said after the last final written, owed to the next one.
    int lineBreaksOwed_ SCRIVIA_GUARDED_BY(platform::mainThread) = 0;
    platform::Instant lastChange_ SCRIVIA_GUARDED_BY(platform::mainThread);
    platform::Instant segmentStart_ SCRIVIA_GUARDED_BY(platform::mainThread);
    bool stopping_ SCRIVIA_GUARDED_BY(platform::mainThread) = false;
    ErrorWindow errors_ SCRIVIA_GUARDED_BY(platform::mainThread);
    audio::LevelMeter levelMeter_ SCRIVIA_GUARDED_BY(platform::audioThread);
    const bool onDevice_;
};

}  // namespace scrivia::session
