// A simulated platform for unit tests: virtual time, output in memory, a
// scripted recogniser and a microphone fed by hand. No real clock, audio or
// sound server; everything runs on the test's thread.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/locale_identifier.h"
#include "platform/platform.h"

namespace scrivia::sim {

// Runs nothing by itself: `advance` runs whatever falls due, moving its clock.
// Timers due at the same instant run in the order they were set.
struct RunLoop : platform::RunLoop, platform::Clock {
    struct Timer {
        platform::Instant due;
        double interval;  // 0 for a one-shot task
        std::function<void()> task;
    };
    platform::Instant now() override { return time; }
    void post(std::function<void()> task) override { postAfter(0, std::move(task)); }
    void postAfter(double seconds, std::function<void()> task) override {
        timers.push_back({now() + std::max(seconds, 0.0), 0, std::move(task)});
    }
    void scheduleRepeating(double interval, std::function<void()> block) override {
        timers.push_back({now() + interval, interval, std::move(block)});
    }
    int run() override { throw std::logic_error("tests drive the loop with advance()"); }
    void quit(int s) override { status = status.value_or(s); }

    void advance(double seconds) {
        const platform::Instant until = now() + seconds;
        while (!status) {
            auto next = std::min_element(timers.begin(), timers.end(),
                                         [](auto& a, auto& b) { return a.due < b.due; });
            if (next == timers.end() || next->due > until) break;
            time = std::max(now(), next->due);
            auto task = next->task;
            next->interval > 0 ? void(next->due += next->interval) : void(timers.erase(next));
            task();
        }
        if (!status) time = until;
    }

    std::atomic<platform::Instant> time = 1000.0;  // read by a test's audio thread
    std::vector<Timer> timers;
    std::optional<int> status;  // set by the first quit
};

struct Output : platform::Output {
    void write(std::string line, bool) override {
        std::lock_guard lock(mutex);
        lines.push_back(std::move(line));
    }
    void setClosedHandler(std::function<void()>) override {}  // memory is never closed
    std::mutex mutex;
    std::vector<std::string> lines;
};

// Background work (the stdin reader) waits for `input`, which runs it here
// once the test's bytes are in the pipe.
struct Process : platform::Process {
    Process() {
        if (pipe(stdin) != 0) throw std::runtime_error("pipe");
    }
    ~Process() override {
        for (int fd : stdin) close(fd);
    }
    std::string currentLocaleIdentifier() override { return locale; }
    platform::Output& standardOutput() override { return output; }
    int standardInput() override { return stdin[0]; }
    void runInBackground(const std::string&, std::function<void()> work) override {
        background.push_back(std::move(work));
    }
    void onTerminationRequest(std::function<void()> handler) override { terminate = handler; }
    std::optional<std::string> readUserFile(const std::string& path, std::size_t) override {
        return userFiles.contains(path) ? std::optional(userFiles[path]) : std::nullopt;
    }
    std::map<std::string, std::string> userFiles;
    void input(const std::string& bytes, bool closeAfter) {
        if (::write(stdin[1], bytes.data(), bytes.size()) < 0) throw std::runtime_error("stdin");
        if (closeAfter) close(std::exchange(stdin[1], -1));
        for (auto& work : std::exchange(background, {})) work();
    }

    std::string locale = "fr_FR";
    Output output;
    std::function<void()> terminate;
    int stdin[2];
    std::vector<std::function<void()>> background;
};

struct Request : platform::RecognitionRequest {
    void append(const platform::AudioBuffer&) override { ++(endCalls ? afterEnd : buffers); }
    void endAudio() override { ++endCalls; }
    std::atomic<int> buffers = 0, endCalls = 0, afterEnd = 0;
};

struct Task : platform::RecognitionTask {
    void cancel() override { cancelled = true; }
    void partial(const std::string& text) { deliver(platform::RecognitionResult{text, false}, {}); }
    void final(const std::string& text) { deliver(platform::RecognitionResult{text, true}, {}); }
    void error(const std::string& text) { deliver({}, platform::Error{text}); }
    void deliver(std::optional<platform::RecognitionResult> r, std::optional<platform::Error> e) {
        auto call = handler;  // a copy: the handler may drop the task that holds it
        call(std::move(r), std::move(e));
    }

    std::shared_ptr<Request> request;
    platform::RequestSettings settings;  // as they were when the task opened
    platform::ResultHandler handler = [](auto, auto) {};
    bool cancelled = false;
};

struct Recognizer : platform::SpeechRecognizer {
    explicit Recognizer(std::string identifier) : identifier(std::move(identifier)) {}
    std::string localeIdentifier() override { return identifier; }
    bool supportsOnDeviceRecognition() override { return onDevice; }
    bool isAvailable() override { return available; }
    std::shared_ptr<platform::RecognitionTask> recognitionTask(
        std::shared_ptr<platform::RecognitionRequest> request,
        platform::ResultHandler handler) override {
        auto task = std::make_shared<Task>();
        task->request = std::dynamic_pointer_cast<Request>(request);
        task->settings = request->settings;
        task->handler = std::move(handler);
        tasks.push_back(task);
        return task;
    }

    std::string identifier;
    bool onDevice = true, available = true;
    std::vector<std::shared_ptr<Task>> tasks;  // every task opened, in order
};

struct Speech : platform::SpeechService {
    std::vector<std::string> supportedLocales() override {
        std::vector<std::string> ids;
        for (auto& entry : recognizers) ids.insert(ids.begin(), entry.first);  // no order
        return ids;
    }
    // Either separator, as the platforms take it.
    std::shared_ptr<platform::SpeechRecognizer> recognizer(const std::string& id) override {
        for (auto& key : {id, platform::underscoredIdentifier(id)})
            if (recognizers.contains(key)) return recognizers[key];
        return nullptr;
    }
    // Answers at once; the core must still hop to the main loop.
    void requestAuthorization(std::function<void(platform::AuthorizationStatus)> h) override {
        h(authorization);
    }
    std::shared_ptr<platform::RecognitionRequest> makeRequest() override {
        return std::make_shared<Request>();
    }
    bool canSetPunctuation() override { return punctuationSetting; }
    void useOwnWords(std::vector<platform::WordEntry> words) override { ownWords = words; }
    std::vector<platform::WordEntry> ownWords;

    std::map<std::string, std::shared_ptr<Recognizer>> recognizers;  // null: listed, not served
    platform::AuthorizationStatus authorization = 3;
    bool punctuationSetting = true;
};

struct Engine : platform::AudioEngine {
    platform::AudioFormat inputFormat() override { return format; }
    void installTap(std::uint32_t, platform::AudioFormat, platform::TapBlock block) override {
        tap = std::move(block);
    }
    void removeTap() override { tap = nullptr; }
    void prepare() override {}
    std::optional<platform::Error> start() override {
        running = !startError;
        return startError;
    }
    void stop() override { running = false; }
    void setStoppedHandler(std::function<void(platform::Error)> handler) override {
        stopped = std::move(handler);
    }
    // The microphone hands over one buffer of `frames` samples of `value`.
    void feed(float value = 0.1f, std::uint32_t frames = 2048) {
        std::vector<float> samples(frames, value);
        const float* channels[] = {samples.data()};
        if (tap) tap(platform::AudioBuffer{channels, frames, 1, format.sampleRate});
    }

    platform::AudioFormat format;
    std::optional<platform::Error> startError;
    bool running = false;
    platform::TapBlock tap;
    std::function<void(platform::Error)> stopped;
};

struct Audio : platform::AudioService {
    std::unique_ptr<platform::AudioEngine> makeEngine() override {
        auto made = std::make_unique<Engine>();
        made->format = format;
        made->startError = startError;
        engine = made.get();
        return made;
    }
    void requestMicrophoneAccess(std::function<void(bool)> handler) override { handler(granted); }

    bool granted = true;
    platform::AudioFormat format{48000, 1};  // of every engine made
    std::optional<platform::Error> startError;
    Engine* engine = nullptr;  // the last one made; owned by the session
};

// One run of scrivia on the simulated platform, from start-up on.
struct Run {
    RunLoop runLoop;
    Process process;
    Speech speech;
    Audio audio;
    platform::Platform view{speech, audio, runLoop, runLoop, process};
    std::shared_ptr<void> app;

    // Serves fr_FR unless told otherwise, starts with `args`, runs what is due.
    void start(std::vector<std::string> args = {}) {
        if (!speech.recognizers.contains("fr_FR")) serve("fr_FR");
        app = app::start(std::move(args), view);
        runLoop.advance(0);
    }
    Recognizer& serve(const std::string& id) {
        return *(speech.recognizers[id] = std::make_shared<Recognizer>(id));
    }
    // The current request hears `words`, then `seconds` pass.
    void say(const std::string& words, double seconds = 0) {
        current().partial(words);
        runLoop.advance(seconds);
    }
    // The host writes "stop".
    void stop() {
        process.input("stop\n", false);
        runLoop.advance(0);
    }
    Engine& engine() {  // the last engine made; a failure, not a crash, if none
        static Engine none;
        if (!audio.engine) ADD_FAILURE() << "no engine";
        return audio.engine ? *audio.engine : none;
    }
    Recognizer& recognizer() { return *speech.recognizers.at("fr_FR"); }
    Task& current() { return task(recognizer().tasks.size() - 1); }
    Task& task(std::size_t i) {  // the i-th task opened; a failure, not a crash, if none
        static Task none;
        if (i < recognizer().tasks.size()) return *recognizer().tasks[i];
        ADD_FAILURE() << "no task " << i;
        return none;
    }

    std::vector<nlohmann::json> events() {
        std::vector<nlohmann::json> parsed;
        for (auto& line : process.output.lines) parsed.push_back(nlohmann::json::parse(line));
        return parsed;
    }
    // Every line but "ready" and levels before "end", short: "partial:text", "final:text" (or
    // "final:2:text" with two line breaks before), "error:code:message", "end", joined by " | ".
    std::string transcript() {
        std::string said;
        for (auto& event : events()) {
            const std::string type = event["type"];
            if (type == "ready" || (type == "level" && !said.ends_with("end"))) continue;
            said += (said.empty() ? "" : " | ") + type;
            // Appended in two steps: GCC 12 at -O3 sees an overlap that cannot happen in
            // `"literal" + std::string&&` and fails a -Werror build (-Wrestrict).
            for (const char* member : {"lineBreaksBefore", "text", "code", "message"})
                if (event.contains(member))
                    said.append(":").append(event[member].is_string()
                                                ? event[member].get<std::string>()
                                                : event[member].dump());
        }
        return said;
    }
};

}  // namespace scrivia::sim
