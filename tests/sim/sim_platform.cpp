#include "sim/sim_platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "app/startup.h"
#include "platform/locale_identifier.h"

namespace scrivia::sim {

void RunLoop::postAfter(double seconds, std::function<void()> task) {
    std::lock_guard lock(mutex);
    timers.push_back({clock.now() + std::max(seconds, 0.0), 0, nextOrder++, std::move(task)});
}

void RunLoop::scheduleRepeating(double interval, std::function<void()> block) {
    std::lock_guard lock(mutex);
    timers.push_back({clock.now() + interval, interval, nextOrder++, std::move(block)});
}

int RunLoop::run() {
    throw std::logic_error("tests drive the loop with advance()");
}

void RunLoop::quit(int s) {
    if (!status) status = s;
}

void RunLoop::advance(double seconds) {
    const Instant until = clock.now() + seconds;
    while (!status) {
        std::unique_lock lock(mutex);
        auto next = std::min_element(timers.begin(), timers.end(), [](auto& a, auto& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (next == timers.end() || next->due > until) break;
        clock.time = std::max(clock.now(), next->due);
        std::function<void()> task = next->task;
        if (next->interval > 0) {
            next->due += next->interval;
            next->order = nextOrder++;
        } else {
            timers.erase(next);
        }
        lock.unlock();
        task();
    }
    if (!status) clock.time = until;
}

void Output::write(std::string line, bool) {
    std::lock_guard lock(mutex);
    lines.push_back(std::move(line));
}

Process::Process() {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    stdinRead = fds[0];
    stdinWrite = fds[1];
}

Process::~Process() {
    for (int fd : {stdinRead, stdinWrite})
        if (fd >= 0) close(fd);
}

void Process::runInBackground(const std::string&, std::function<void()> work) {
    background.push_back(std::move(work));
}

void Process::input(const std::string& bytes, bool closeAfter) {
    if (!bytes.empty() && ::write(stdinWrite, bytes.data(), bytes.size()) < 0)
        throw std::runtime_error("stdin");
    if (closeAfter) close(std::exchange(stdinWrite, -1));
}

void Process::runBackground() {
    for (auto& work : std::exchange(background, {})) work();
}

void Task::deliver(std::optional<platform::RecognitionResult> r, std::optional<platform::Error> e) {
    auto call = handler;  // a copy: the handler may drop the task that holds it
    call(std::move(r), std::move(e));
}

std::shared_ptr<platform::RecognitionTask> Recognizer::recognitionTask(
    std::shared_ptr<platform::RecognitionRequest> request, platform::ResultHandler handler) {
    auto task = std::make_shared<Task>();
    task->request = std::dynamic_pointer_cast<Request>(request);
    task->settings = request->settings;
    task->handler = std::move(handler);
    tasks.push_back(task);
    return task;
}

std::vector<std::string> Speech::supportedLocales() {
    std::vector<std::string> ids;
    for (auto& [id, recognizer] : recognizers) ids.push_back(id);
    std::reverse(ids.begin(), ids.end());  // the service's order is no order
    return ids;
}

std::shared_ptr<platform::SpeechRecognizer> Speech::recognizer(const std::string& id) {
    // Either separator, as the platforms take it.
    auto found = recognizers.find(id);
    if (found == recognizers.end()) found = recognizers.find(platform::underscoredIdentifier(id));
    return found == recognizers.end() ? nullptr : found->second;
}

std::shared_ptr<platform::RecognitionRequest> Speech::makeRequest() {
    return std::make_shared<Request>();
}

void Engine::installTap(std::uint32_t, platform::AudioFormat, platform::TapBlock block) {
    std::lock_guard lock(tapMutex);
    tap = std::move(block);
    tapInstalled = true;
}

void Engine::removeTap() {
    std::lock_guard lock(tapMutex);
    tap = nullptr;
    tapInstalled = false;
}

std::optional<platform::Error> Engine::start() {
    running = !startError;
    return startError;
}

void Engine::feed(float value, std::uint32_t frames) {
    std::vector<float> samples(frames, value);
    const float* channels[] = {samples.data()};
    std::lock_guard lock(tapMutex);
    if (tap) tap(platform::AudioBuffer{channels, frames, 1, format.sampleRate});
}

std::unique_ptr<platform::AudioEngine> Audio::makeEngine() {
    auto made = std::make_unique<Engine>();
    made->format = format;
    made->startError = startError;
    engine = made.get();
    return made;
}

std::vector<nlohmann::json> Platform::events() {
    std::lock_guard lock(process.output.mutex);
    std::vector<nlohmann::json> parsed;
    for (auto& line : process.output.lines) parsed.push_back(nlohmann::json::parse(line));
    return parsed;
}

std::string Platform::transcript() {
    std::string said;
    for (auto& event : events()) {
        const std::string type = event["type"];
        if (type == "level" || type == "ready") continue;
        said += (said.empty() ? "" : " | ") + type;
        if (event.contains("text")) said += ":" + event["text"].get<std::string>();
        if (event.contains("code"))
            said +=
                ":" + event["code"].get<std::string>() + ":" + event["message"].get<std::string>();
    }
    return said;
}

void Run::start(std::vector<std::string> args) {
    if (!speech.recognizers.contains("fr_FR"))
        speech.recognizers["fr_FR"] = std::make_shared<Recognizer>("fr_FR");
    app = app::start(std::move(args), view);
    runLoop.advance(0);
}

Task& Run::task(std::size_t i) {
    static Task none;
    auto& tasks = recognizer().tasks;
    if (i < tasks.size()) return *tasks[i];
    ADD_FAILURE() << "no task " << i << " of " << tasks.size();
    none = Task{};
    none.handler = [](auto, auto) {};
    return none;
}

}  // namespace scrivia::sim
