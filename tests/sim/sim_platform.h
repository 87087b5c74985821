// A simulated platform for unit tests: virtual time, output in memory, a
// scripted recogniser and a microphone fed by hand. No real clock, audio or
// sound server; everything runs on the test's thread unless a test says so.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace scrivia::sim {

using platform::Instant;

class Clock : public platform::Clock {
  public:
    Instant now() override { return time.load(); }
    std::atomic<Instant> time{1000.0};
};

// Runs nothing by itself: `advance` runs whatever falls due, moving the clock.
class RunLoop : public platform::RunLoop {
  public:
    explicit RunLoop(Clock& clock) : clock(clock) {}
    void post(std::function<void()> task) override { postAfter(0, std::move(task)); }
    void postAfter(double seconds, std::function<void()> task) override;
    void scheduleRepeating(double interval, std::function<void()> block) override;
    int run() override;
    void quit(int status) override;

    // Runs every task due within `seconds` from now, in due order.
    void advance(double seconds);
    std::optional<int> status;  // set by the first quit

  private:
    struct Timer {
        Instant due;
        double interval;  // 0 for a one-shot task
        std::uint64_t order;
        std::function<void()> task;
    };
    Clock& clock;
    std::mutex mutex;
    std::vector<Timer> timers;
    std::uint64_t nextOrder = 0;
};

class Output : public platform::Output {
  public:
    void write(std::string line, bool droppable) override;
    void setClosedHandler(std::function<void()> handler) override { closed = std::move(handler); }
    std::function<void()> closed;
    std::vector<std::string> lines;
    std::mutex mutex;
};

class Process : public platform::Process {
  public:
    Process();
    ~Process() override;
    std::string currentLocaleIdentifier() override { return locale; }
    platform::Output& standardOutput() override { return output; }
    int standardInput() override { return stdinRead; }
    // Kept until `runBackground`, which runs it here: the reader then sees
    // whatever `input` wrote.
    void runInBackground(const std::string&, std::function<void()> work) override;
    void onTerminationRequest(std::function<void()> handler) override { terminate = handler; }
    std::function<void()> terminate;
    void input(const std::string& bytes, bool close);
    void runBackground();

    std::string locale = "fr_FR";
    Output output;

  private:
    int stdinRead = -1, stdinWrite = -1;
    std::vector<std::function<void()>> background;
};

class Request : public platform::RecognitionRequest {
  public:
    void append(const platform::AudioBuffer&) override { ++buffers; }
    void endAudio() override { ++endCalls; }
    std::atomic<int> buffers{0}, endCalls{0};
};

class Task : public platform::RecognitionTask {
  public:
    void cancel() override { cancelled = true; }
    void partial(const std::string& text) { deliver(platform::RecognitionResult{text, false}, {}); }
    void final(const std::string& text) { deliver(platform::RecognitionResult{text, true}, {}); }
    void error(const std::string& text) { deliver({}, platform::Error{text}); }

    std::shared_ptr<Request> request;
    platform::RequestSettings settings;  // as they were when the task opened
    platform::ResultHandler handler;
    bool cancelled = false;

  private:
    void deliver(std::optional<platform::RecognitionResult> r, std::optional<platform::Error> e);
};

class Recognizer : public platform::SpeechRecognizer {
  public:
    explicit Recognizer(std::string identifier) : identifier(std::move(identifier)) {}
    std::string localeIdentifier() override { return identifier; }
    bool supportsOnDeviceRecognition() override { return onDevice; }
    bool isAvailable() override { return available; }
    std::shared_ptr<platform::RecognitionTask> recognitionTask(
        std::shared_ptr<platform::RecognitionRequest> request,
        platform::ResultHandler handler) override;

    std::string identifier;
    bool onDevice = true, available = true;
    std::vector<std::shared_ptr<Task>> tasks;  // every task opened, in order
};

class Speech : public platform::SpeechService {
  public:
    std::vector<std::string> supportedLocales() override;
    std::shared_ptr<platform::SpeechRecognizer> recognizer(const std::string& id) override;
    // Answers at once with `authorization`; the core must still hop to main.
    void requestAuthorization(std::function<void(platform::AuthorizationStatus)> h) override {
        h(authorization);
    }
    std::shared_ptr<platform::RecognitionRequest> makeRequest() override;
    bool canSetPunctuation() override { return punctuationSetting; }

    std::map<std::string, std::shared_ptr<Recognizer>> recognizers;  // null: listed, not served
    platform::AuthorizationStatus authorization = 3;
    bool punctuationSetting = true;
};

class Engine : public platform::AudioEngine {
  public:
    platform::AudioFormat inputFormat() override { return format; }
    void installTap(std::uint32_t, platform::AudioFormat, platform::TapBlock block) override;
    void removeTap() override;
    void prepare() override {}
    std::optional<platform::Error> start() override;
    void stop() override { running = false; }
    void setStoppedHandler(std::function<void(platform::Error)> handler) override {
        stopped = std::move(handler);
    }
    std::function<void(platform::Error)> stopped;
    // The microphone hands over one buffer of `frames` samples of `value`.
    void feed(float value = 0.1f, std::uint32_t frames = 2048);

    platform::AudioFormat format{48000, 1};
    std::optional<platform::Error> startError;
    bool running = false, tapInstalled = false;

  private:
    std::mutex tapMutex;
    platform::TapBlock tap;
};

class Audio : public platform::AudioService {
  public:
    std::unique_ptr<platform::AudioEngine> makeEngine() override;
    void requestMicrophoneAccess(std::function<void(bool)> handler) override { handler(granted); }
    bool granted = true;
    platform::AudioFormat format{48000, 1};  // of every engine made
    std::optional<platform::Error> startError;
    Engine* engine = nullptr;  // the last one made; owned by the session
};

struct Platform {
    Clock clock;
    RunLoop runLoop{clock};
    Process process;
    Speech speech;
    Audio audio;
    platform::Platform view{speech, audio, runLoop, clock, process};

    // Every line written so far, parsed.
    std::vector<nlohmann::json> events();
    // Every line but levels and "ready", short: "partial:text", "final:text",
    // "error:code:message", "end", joined by " | ".
    std::string transcript();
};

// One run of scrivia on the simulated platform, from start-up on.
struct Run : Platform {
    // Serves fr_FR, starts with `args` and runs what is due at once.
    void start(std::vector<std::string> args = {});
    Engine& engine() { return *audio.engine; }
    Recognizer& recognizer() { return *speech.recognizers.at("fr_FR"); }
    Task& task(std::size_t i);  // the i-th task opened; fails the test if there is none
    Task& current() { return task(recognizer().tasks.size() - 1); }

    std::shared_ptr<void> app;
};

}  // namespace scrivia::sim
