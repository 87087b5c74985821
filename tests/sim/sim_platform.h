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
    explicit SimRunLoop(SimClock& clock);

    void post(std::function<void()> task) override;
    void postAfter(double seconds, std::function<void()> task) override;
    void scheduleRepeating(double interval, std::function<void()> block) override;
    // Runs what is due now and returns: the test owns time.
    void run() override;

    // Runs every task due at the current virtual time until none is: posted
    // tasks first, in order, then delayed tasks and timers by due time, ties
    // by submission (a timer's rescheduling counts as a new submission).
    void runDue();
    // Moves virtual time forward by `seconds`, stopping at each due instant on
    // the way so that every task sees the clock at its own due time.
    void advance(double seconds);
    // Blocks until a posted task is pending (typically posted by another
    // thread); the real-time bound only stops a broken test from hanging.
    bool waitForPost(double realSecondsMax = 5.0);
    // Posted and delayed tasks not yet run, plus live repeating timers.
    std::size_t pendingTasks() const;

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

    // Takes the next task due at the current time off the queue, or returns
    // an empty function when nothing is due.
    std::function<void()> takeDue();
    // runDue, false when it gave up on a task that keeps itself due.
    bool runDueBounded();
    std::optional<double> nextDue() const;
    bool anythingDueLocked() const;

    SimClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
    std::vector<Timed> timed_;
    std::uint64_t nextOrder_ = 0;
};

class SimProcess : public platform::Process {
  public:
    SimProcess();
    ~SimProcess() override;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

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
    std::string rawOutput();
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
    void append(const platform::AudioBuffer& buffer) override;
    void endAudio() override;

    std::size_t appendedBuffers() const;
    std::size_t appendedFrames() const;
    bool audioEnded() const;
    // Buffers appended after endAudio().
    std::size_t appendedAfterEnd() const;
    // Channel 0 of every appended buffer that had float samples, in order.
    std::vector<float> samples() const;
    // The sample rate of the last buffer appended (0 before any).
    double lastSampleRate() const;

  private:
    mutable std::mutex mutex_;
    std::size_t buffers_ = 0;
    std::size_t frames_ = 0;
    std::size_t afterEnd_ = 0;
    bool ended_ = false;
    double lastSampleRate_ = 0;
    std::vector<float> samples_;
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
    void partial(const std::string& text);
    void final(const std::string& text);
    void error(const std::string& description);
    void deliver(std::optional<platform::RecognitionResult> result,
                 std::optional<platform::Error> error);

  private:
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
    bool isAvailable() override;
    std::shared_ptr<platform::RecognitionTask> recognitionTask(
        std::shared_ptr<platform::RecognitionRequest> request,
        platform::ResultHandler handler) override;
    // The last task opened, or null.
    std::shared_ptr<SimTask> lastTask() const;
};

class SimSpeechService : public platform::SpeechService {
  public:
    std::vector<std::string> locales;  // what supportedLocales() answers
    // Exact identifier -> recogniser; recognizer(id) answers null for others.
    std::map<std::string, std::shared_ptr<SimRecognizer>> served;
    std::vector<std::string> asked;                     // every identifier passed to recognizer()
    std::vector<std::shared_ptr<SimRequest>> requests;  // every request made, in order
    bool punctuationCapability = true;

    std::vector<std::string> supportedLocales() override { return locales; }
    std::shared_ptr<platform::SpeechRecognizer> recognizer(const std::string& identifier) override;
    void requestAuthorization(std::function<void(platform::AuthorizationStatus)> handler) override;
    std::shared_ptr<platform::RecognitionRequest> makeRequest() override;
    bool canSetPunctuation() override { return punctuationCapability; }

    // Whether authorisation was ever asked for, and how often.
    bool authorizationRequested() const;
    int authorizationRequests() const;
    // Calls the pending handler from a real second thread, joined before this
    // returns; an exception it throws is rethrown here. Fails the test when no
    // request is pending.
    void answerAuthorization(platform::AuthorizationStatus status);

    // Serves a recogniser for `id` and adds `id` to `locales` if missing.
    std::shared_ptr<SimRecognizer> serve(const std::string& id, bool onDevice = true,
                                         bool available = true);

  private:
    mutable std::mutex mutex_;
    std::function<void(platform::AuthorizationStatus)> authorizationHandler_;
    int authorizationRequests_ = 0;
};

class SimAudioService;

// Records its calls in the service's log; its tap lives in the service so that
// the test can feed it.
class SimEngine : public platform::AudioEngine {
  public:
    explicit SimEngine(SimAudioService& service) : service_(service) {}
    // Like a real engine going away: stopped, and its tap never called again.
    ~SimEngine() override;

    platform::AudioFormat inputFormat() override;
    void installTap(std::uint32_t bufferSize, platform::AudioFormat format,
                    platform::TapBlock block) override;
    void removeTap() override;
    void prepare() override;
    std::optional<platform::Error> start() override;
    void stop() override;

  private:
    SimAudioService& service_;
};

class SimAudioService : public platform::AudioService {
  public:
    platform::AudioFormat format{48000, 1};  // what inputFormat() answers
    std::optional<std::string> startError;   // start() fails with this description
    std::uint32_t tapBufferSize = 0;         // as passed to the last installTap()
    platform::AudioFormat tapFormat;
    int enginesMade = 0;
    // Engine calls so far, in order: "inputFormat", "installTap", "prepare",
    // "start", "removeTap", "stop". Appended under a lock; read it on the main
    // thread, where the engine is driven.
    std::vector<std::string> log;

    std::unique_ptr<platform::AudioEngine> makeEngine() override;
    void requestMicrophoneAccess(std::function<void(bool granted)> handler) override;

    bool tapInstalled() const;
    // Whether an engine has started and not stopped since.
    bool running() const;

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

    bool microphoneRequested() const;
    int microphoneRequests() const;
    // Calls the pending handler from a real second thread, joined before this
    // returns. Fails the test when no request is pending.
    void answerMicrophone(bool granted);

  private:
    friend class SimEngine;
    void record(const char* call);
    void deliver(const platform::AudioBuffer& buffer);

    std::mutex logMutex_;

    // Held while the tap runs, so that removing it waits for a call in flight.
    mutable std::mutex tapMutex_;
    platform::TapBlock tap_;
    const SimEngine* tapOwner_ = nullptr;
    const SimEngine* runningEngine_ = nullptr;

    mutable std::mutex accessMutex_;
    std::function<void(bool)> microphoneHandler_;
    int microphoneRequests_ = 0;
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
