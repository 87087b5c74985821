// The dictation session: one per process, created once both permissions are
// granted. All of its state lives on the main thread, except `request`, which
// the audio thread reads under `requestLock`, and `lastLevelSent`, which only
// the audio thread touches after construction.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "events/event_stream.h"
#include "platform/platform.h"

namespace scrivia::session {

// What a session reaches of its process.
struct Environment {
    platform::Platform& platform;
    events::EventStream& stream;
    double pauseSeconds;
    bool punctuation;
};

class Scrivia : public std::enable_shared_from_this<Scrivia> {
  public:
    // Timing rules, in seconds.
    static constexpr double watchdogInterval = 0.2;
    static constexpr double maxSegmentAge = 45.0;
    static constexpr double levelInterval = 0.12;
    static constexpr double errorWindow = 6.0;
    static constexpr std::size_t errorLimit = 5;
    static constexpr double gracePeriod = 2.5;
    static constexpr std::uint32_t tapBufferSize = 2048;

    Scrivia(std::shared_ptr<platform::SpeechRecognizer> recognizer, Environment environment);

    // Taps the microphone, opens the first request, writes "ready" and starts
    // the watchdog; or ends the run with "no-mic" or "engine".
    void start();
    // The level meter; audio thread.
    void sendLevel(const platform::AudioBuffer& buffer);
    // The watchdog: closes a segment after a pause or when it is too old.
    void tick();
    // Opens a fresh request and task and makes them current.
    void newRequest();
    // Everything the recogniser reports for `forRequest`.
    void handle(const std::optional<platform::RecognitionResult>& result,
                const std::optional<platform::Error>& error,
                const std::shared_ptr<platform::RecognitionRequest>& forRequest);
    // Writes settled text as "final", trimmed; nothing when blank.
    void emitFinal(std::string_view text);
    // Parks the current request with its text and opens the next one.
    void closeSegment();
    // The orderly stop, asked by the host.
    void stop();
    // Tears the audio down, writes "end" and exits with status 0.
    [[noreturn]] void finish();

    bool isStopping() const { return stopping; }

  private:
    using RequestPtr = std::shared_ptr<platform::RecognitionRequest>;
    struct PendingEntry {
        RequestPtr request;  // kept alive, so its identity stays unique
        std::string text;
    };

    platform::Instant now() { return environment.platform.clock.now(); }
    void setRequest(RequestPtr next);
    void tap(const platform::AudioBuffer& buffer);
    // Closed requests still owing their final text, in the order they were closed.
    PendingEntry* findPending(const platform::RecognitionRequest* key);
    std::optional<std::string> takePending(const platform::RecognitionRequest* key);
    void flush();

    Environment environment;
    std::shared_ptr<platform::SpeechRecognizer> recognizer;
    std::unique_ptr<platform::AudioEngine> engine;
    RequestPtr request;
    std::mutex requestLock;  // held to replace `request`, and by the tap while it appends
    std::shared_ptr<platform::RecognitionTask> task;
    std::vector<PendingEntry> pending;
    std::string lastText;
    platform::Instant lastChange;
    platform::Instant segmentStart;
    bool stopping = false;
    std::vector<platform::Instant> errorsRecently;
    platform::Instant lastLevelSent;
    bool onDevice;
};

}  // namespace scrivia::session
