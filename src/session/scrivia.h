// The dictation session: one per process, created once both permissions are
// granted. It owns the recogniser, the engine and the current request, and
// applies the segment rules, the error window and the owed segments.
//
// Threads: everything here is main-thread state, except `request`, which the
// audio thread reads under `requestLock`, and `levelMeter`, which only the
// audio thread touches after construction.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "audio/level_meter.h"
#include "events/event_stream.h"
#include "platform/platform.h"
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
    void start();
    // The orderly stop: the current segment closes, owed text is written
    // within the grace period, then "end". Later calls change nothing.
    void stop();
    // The stop without the grace period: what is owed is written at once as
    // it stands, then "end".
    void stopNow();
    // The host has gone: nothing more can reach it, so the microphone is
    // released at once.
    void abandon();
    bool isStopping() const { return stopping; }

  private:
    using RequestPtr = std::shared_ptr<platform::RecognitionRequest>;

    platform::Instant now() { return environment.platform.clock.now(); }
    // AUDIO THREAD: hands the buffer to the current request and the meter.
    void tap(const platform::AudioBuffer& buffer);
    // The watchdog: closes a segment after a pause or when it is too old.
    void tick();
    // Opens a fresh request and task and makes them current.
    void newRequest();
    void setRequest(RequestPtr next);
    // Everything the recogniser reports for `forRequest`.
    void handle(const std::optional<platform::RecognitionResult>& result,
                const std::optional<platform::Error>& error, const RequestPtr& forRequest);
    void handleError(const platform::Error& error, const RequestPtr& forRequest);
    // Writes settled text as "final", trimmed; nothing when blank. The line
    // feeds trimmed off are not lost: they go before the next final written.
    void emitFinal(std::string_view text);
    // Owes the current request's text and opens the next one.
    void closeSegment();
    // The microphone is gone for good: what is owed is written, then "no-mic".
    void microphoneLost(const platform::Error& error);
    // Writes whatever is still owed, in spoken order, then finishes.
    void flush();
    // Writes every text still owed, the current segment's last.
    void settleAll();
    void releaseAudio();
    // Tears the audio down and writes "end"; the run ends with status 0.
    void finish();

    Environment environment;
    std::shared_ptr<platform::SpeechRecognizer> recognizer;
    std::unique_ptr<platform::AudioEngine> engine;
    std::mutex requestLock;  // held to replace `request`, and by the tap while it appends
    RequestPtr request;      // written on main under requestLock; read by the audio thread under it
    std::shared_ptr<platform::RecognitionTask> task;
    OwedSegments owed;
    std::string lastText;
    int lineBreaksOwed = 0;  // said after the last final written, owed to the next one
    platform::Instant lastChange;
    platform::Instant segmentStart;
    bool stopping = false;
    ErrorWindow errors;
    audio::LevelMeter levelMeter;  // audio thread only, after construction
    const bool onDevice;
};

}  // namespace scrivia::session
