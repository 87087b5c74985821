// A simulated platform for unit tests: virtual time, an in-memory stdout, a
// pipe for stdin, a scripted recogniser and a microphone the test feeds by hand.
// Nothing here sleeps, reads a real clock or touches a sound device.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace scrivia::sim {

// Thrown by SimProcess::exit so that the test regains control where a real
// process would have ended.
struct ExitCalled {
    int status;
};

// Runs `work` on a real thread named `name`, joins it and rethrows what it threw.
void onOtherThread(const std::string& name, const std::function<void()>& work);

// Virtual monotonic time; moves only when the test (or SimRunLoop::advance)
// sets it.
class SimClock : public platform::Clock {
  public:
    platform::Instant now() override { return now_.load(); }
    void set(platform::Instant t) { now_.store(t); }

  private:
    std::atomic<double> now_{1000.0};
};

// A run loop the test drives: nothing runs until the test asks, and delayed
// work runs when virtual time reaches it.
class SimRunLoop : public platform::RunLoop {
  public:
    explicit SimRunLoop(SimClock& clock) : clock_(clock) {}

    void post(std::function<void()> task) override;
    void postAfter(double seconds, std::function<void()> task) override;
    void scheduleRepeating(double interval, std::function<void()> block) override;
    // Runs what is due now and returns: the test owns time.
    void run() override { runDue(); }

    // Runs every task due at the current virtual time until none is: posted
    // tasks first, in order, then delayed tasks and timers by due time, ties
    // by submission (a timer's rescheduling counts as a new submission).
    // False when it gave up on a task that keeps itself due.
    bool runDue();
    // Moves virtual time forward by `seconds`, stopping at each due instant on
    // the way so that every task sees the clock at its own due time.
    void advance(double seconds);
    // Blocks until a task is due (typically posted by another thread); the
    // real-time bound only stops a broken test from hanging.
    bool waitForPost(double realSecondsMax = 5.0);

  private:
    struct Timed {
        double start;  // when it was scheduled
        double interval;
        std::uint64_t ticks;  // due = start + ticks * interval, without drift
        std::uint64_t order;
        bool repeating;
        std::function<void()> task;
        double due() const { return start + static_cast<double>(ticks) * interval; }
    };

    // The next task due at the current time, taken off the queue, or an empty
    // function when nothing is due.
    std::function<void()> takeDue();
    // The timed entry that runs first, or end(); call with the lock held.
    std::vector<Timed>::iterator earliestLocked();

    SimClock& clock_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
    std::vector<Timed> timed_;
    std::uint64_t nextOrder_ = 0;
};

class SimProcess : public platform::Process {
  public:
    SimProcess();
    ~SimProcess() override;

    std::string currentLocaleIdentifier() override { return locale; }
    std::string locale = "fr_FR";

    int standardOutput() override { return stdout_; }
    int standardInput() override { return stdinRead_; }
    // A real, named thread, joined when the process object goes away. An exit
    // from it is recorded in `exitStatus` and ends only that thread.
    void runInBackground(const std::string& name, std::function<void()> work) override;
    [[noreturn]] void exit(int status) override;
    // Written under a lock by exit(); read it on the thread that called exit or
    // after the background threads are done.
    std::optional<int> exitStatus;

    // Every complete line written to stdout so far, without its '\n'.
    std::vector<std::string> outputLines();
    void writeStdin(const std::string& bytes);
    // End of input for the reader; closing twice is harmless.
    void closeStdin();

  private:
    int stdout_ = -1;
    int stdinRead_ = -1;
    int stdinWrite_ = -1;
    std::mutex mutex_;       // guards threads_, exitStatus
    std::mutex stdinMutex_;  // guards stdinWrite_
    std::vector<std::thread> threads_;
};

class SimRequest : public platform::RecognitionRequest {
  public:
    void append(const platform::AudioBuffer&) override {
        ++buffers_;
        if (ended_) ++afterEnd_;
    }
    void endAudio() override { ended_ = true; }

    std::size_t appendedBuffers() const { return buffers_; }
    bool audioEnded() const { return ended_; }
    // Buffers appended after endAudio().
    std::size_t appendedAfterEnd() const { return afterEnd_; }

  private:
    std::atomic<std::size_t> buffers_{0}, afterEnd_{0};
    std::atomic<bool> ended_{false};
};

class SimTask : public platform::RecognitionTask {
  public:
    void cancel() override { cancelled_ = true; }
    bool cancelled() const { return cancelled_; }

    std::shared_ptr<SimRequest> request;
    platform::RequestSettings settingsAtOpen;  // the request's settings when the task opened
    platform::ResultHandler handler;

    // Deliver on the calling thread whether or not the task was cancelled, as a
    // real recogniser may; the core has to drop what it no longer wants.
    void partial(const std::string& text) { deliver(platform::RecognitionResult{text, false}, {}); }
    void final(const std::string& text) { deliver(platform::RecognitionResult{text, true}, {}); }
    void error(const std::string& description) { deliver({}, platform::Error{description}); }

  private:
    void deliver(std::optional<platform::RecognitionResult> result,
                 std::optional<platform::Error> error) {
        auto call = handler;  // a copy, so that the handler may drop the task that holds it
        call(std::move(result), std::move(error));
    }
    std::atomic<bool> cancelled_{false};
};

class SimRecognizer : public platform::SpeechRecognizer {
  public:
    std::string identifier;
    bool onDevice = true;
    bool available = true;
    int availabilityAsked = 0;                    // calls of isAvailable()
    std::vector<std::shared_ptr<SimTask>> tasks;  // every task opened, in order

    std::string localeIdentifier() override { return identifier; }
    bool supportsOnDeviceRecognition() override { return onDevice; }
    bool isAvailable() override {
        ++availabilityAsked;
        return available;
    }
    std::shared_ptr<platform::RecognitionTask> recognitionTask(
        std::shared_ptr<platform::RecognitionRequest> request,
        platform::ResultHandler handler) override;
};

// A permission request the test answers by hand, from a thread of its own as
// the platform would.
template <class Answer>
class PendingAnswer {
  public:
    void ask(std::function<void(Answer)> handler) {
        std::lock_guard lock(mutex_);
        ++asked_;
        handler_ = std::move(handler);
    }
    int asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }
    // Calls the pending handler on a thread named `thread`, joined before this
    // returns; false when nothing was asked.
    bool answer(const std::string& thread, Answer value) {
        std::function<void(Answer)> handler;
        {
            std::lock_guard lock(mutex_);
            handler.swap(handler_);
        }
        if (handler) onOtherThread(thread, [&] { handler(value); });
        return static_cast<bool>(handler);
    }

  private:
    mutable std::mutex mutex_;
    std::function<void(Answer)> handler_;
    int asked_ = 0;
};

class SimSpeechService : public platform::SpeechService {
  public:
    std::vector<std::string> locales;  // what supportedLocales() answers
    // Exact identifier -> recogniser; recognizer(id) answers null for others.
    std::map<std::string, std::shared_ptr<SimRecognizer>> served;
    std::vector<std::string> asked;  // every identifier passed to recognizer()
    bool punctuationCapability = true;

    std::vector<std::string> supportedLocales() override { return locales; }
    std::shared_ptr<platform::SpeechRecognizer> recognizer(const std::string& identifier) override;
    void requestAuthorization(std::function<void(platform::AuthorizationStatus)> h) override {
        authorization_.ask(std::move(h));
    }
    std::shared_ptr<platform::RecognitionRequest> makeRequest() override {
        return std::make_shared<SimRequest>();
    }
    bool canSetPunctuation() override { return punctuationCapability; }

    // Whether authorisation was ever asked for, and how often.
    bool authorizationRequested() const { return authorizationRequests() > 0; }
    int authorizationRequests() const { return authorization_.asked(); }
    // Calls the pending handler from a real second thread, joined before this
    // returns; an exception it throws is rethrown here. Fails the test when no
    // request is pending.
    void answerAuthorization(platform::AuthorizationStatus status);

    // Serves a recogniser for `id` and adds `id` to `locales` if missing.
    std::shared_ptr<SimRecognizer> serve(const std::string& id, bool onDevice = true,
                                         bool available = true);

  private:
    PendingAnswer<platform::AuthorizationStatus> authorization_;
};

class SimEngine;

class SimAudioService : public platform::AudioService {
  public:
    platform::AudioFormat format{48000, 1};  // what inputFormat() answers
    std::optional<std::string> startError;   // start() fails with this description
    std::uint32_t tapBufferSize = 0;         // as passed to the last installTap()
    int enginesMade = 0;
    // Engine calls so far, in order: "inputFormat", "installTap", "prepare",
    // "start", "removeTap", "stop". Appended under a lock; read it on the main
    // thread, where the engine is driven.
    std::vector<std::string> log;

    // Engines record their calls in `log`; their tap lives here, for push().
    std::unique_ptr<platform::AudioEngine> makeEngine() override;
    void requestMicrophoneAccess(std::function<void(bool granted)> handler) override {
        microphone_.ask(std::move(handler));
    }

    // One buffer through the tap on the calling thread; dropped unless a tap
    // is installed and the engine runs, as a real microphone would be silent.
    // channelCount = channels.size(), sampleRate = format.sampleRate.
    void push(const std::vector<std::vector<float>>& channels);
    // A buffer of `frames` frames without float samples.
    void pushNoFloatData(std::uint32_t frames);
    // Pushes `buffers` from a real thread named "audio" while `mainThreadWork`
    // runs on the calling thread; joins before returning and rethrows what
    // either side threw (the main side first).
    void pushFromThread(std::vector<std::vector<std::vector<float>>> buffers,
                        std::function<void()> mainThreadWork = {});

    bool microphoneRequested() const { return microphoneRequests() > 0; }
    int microphoneRequests() const { return microphone_.asked(); }
    // Calls the pending handler from a real second thread, joined before this
    // returns. Fails the test when no request is pending.
    void answerMicrophone(bool granted);

  private:
    friend class SimEngine;
    void record(const char* call);
    void deliver(const platform::AudioBuffer& buffer);

    std::mutex logMutex_;
    // Held while the tap runs, so that removing it waits for a call in flight.
    std::mutex tapMutex_;
    platform::TapBlock tap_;
    const SimEngine* tapOwner_ = nullptr;  // whose tap tap_ is
    const SimEngine* runningEngine_ = nullptr;
    PendingAnswer<bool> microphone_;
};

// One of each, wired together.
struct SimPlatform {
    // Destroyed bottom up: the process joins the stdin reader, which posts to
    // the run loop; the run loop's tasks hold the session, whose engine and
    // requests refer to the services.
    SimClock clock;
    SimAudioService audio;
    SimSpeechService speech;
    SimRunLoop runLoop{clock};
    SimProcess process;
    platform::Platform platform{speech, audio, runLoop, clock, process};

    // Drive the run loop; the exit status if the program exited meanwhile.
    std::optional<int> advance(double seconds);
    std::optional<int> runDue();
    // Every stdout line parsed as JSON; a line that does not parse fails the
    // test and is left out.
    std::vector<nlohmann::json> events();
};

}  // namespace scrivia::sim
